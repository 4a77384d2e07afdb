#include "TransferFailure.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// A gateway's errors: the proxy could not reach the server (or its name),
// or the server did not answer the proxy in time.
bool GatewayError(long status) { return status == 502 || status == 503 || status == 504; }

TransferFailure Failure(TransferProblem problem, long status = 0, int curlResult = 0) {
    return TransferFailure{problem, status, curlResult};
}

// The routing tables as the kernel shows them; a default route is up
// (RTF_UP) and no "unreachable" entry (RTF_REJECT, IPv6's null route).
// Read with stdio: iostreams would bring libstdc++'s whole locale machinery
// into the statically linked release launcher.
bool ReadDefaultRoute(const char* path, bool ipv6, bool& readable) {
    const std::unique_ptr<FILE, int (*)(FILE*)> table(fopen(path, "re"), fclose);
    if (!table) return false;
    readable = true;
    char line[512];
    if (!ipv6 && !fgets(line, sizeof line, table.get())) return false;  // the column names
    while (fgets(line, sizeof line, table.get())) {
        char destination[40] = {}, prefix[4] = {};
        unsigned long flags = 0, mask = 1;
        if (ipv6) {
            if (sscanf(line, "%32s %2s %*s %*s %*s %*s %*s %*s %lx", destination, prefix, &flags) != 3)
                continue;
            mask = strcmp(prefix, "00") == 0 ? 0 : 1;
        } else if (sscanf(line, "%*s %39s %*s %lx %*s %*s %*s %lx", destination, &flags, &mask) != 3) {
            continue;
        }
        const bool everywhere = strspn(destination, "0") == strlen(destination) && mask == 0;
        if (everywhere && (flags & 0x1) && !(flags & 0x200)) return true;
    }
    return false;
}

}  // namespace

std::string TransferFailure::Code() const {
    switch (problem) {
    case TransferProblem::NONE: return "";
    case TransferProblem::NO_NETWORK: return "E-NET";
    case TransferProblem::NAME_NOT_FOUND: return "E-DNS";
    case TransferProblem::REFUSED: return "E-REFUSED";
    case TransferProblem::NO_ANSWER: return "E-TIMEOUT";
    case TransferProblem::PROXY: return status ? "E-PROXY-" + std::to_string(status) : "E-PROXY";
    case TransferProblem::PROXY_UPSTREAM: return "E-PROXY-" + std::to_string(status);
    case TransferProblem::HTTP_STATUS: return "E-HTTP-" + std::to_string(status);
    case TransferProblem::NOT_VERIFIED: return "E-TLS";
    case TransferProblem::FAILED: break;
    }
    return curlResult ? "E-CURL-" + std::to_string(curlResult) : "E-REPLY";
}

TransferFailure ClassifyTransfer(const TransferFacts& facts) {
    using P = TransferProblem;
    if (facts.serverRefused) return Failure(P::NOT_VERIFIED);
    if (facts.osErrno == ENETUNREACH || facts.osErrno == ENETDOWN) return Failure(P::NO_NETWORK);
    // The proxy answered, but would not open the tunnel to the server.
    if (facts.tunnelStatus != 0 && facts.tunnelStatus / 100 != 2)
        return Failure(GatewayError(facts.tunnelStatus) ? P::PROXY_UPSTREAM : P::PROXY, facts.tunnelStatus);
    switch (facts.curlResult) {
    case CURLE_OK: break;
    // libcurl's resolver gives no reason: without a route off this computer
    // no name server can be asked; with one, the name is taken as unknown.
    case CURLE_COULDNT_RESOLVE_PROXY: return Failure(facts.noRoute ? P::NO_NETWORK : P::PROXY);
    case CURLE_COULDNT_RESOLVE_HOST: return Failure(facts.noRoute ? P::NO_NETWORK : P::NAME_NOT_FOUND);
    case CURLE_COULDNT_CONNECT:
        if (facts.viaProxy) return Failure(P::PROXY);  // the only connection made is to the proxy
        if (facts.osErrno == ECONNREFUSED) return Failure(P::REFUSED);
        if (facts.osErrno == ETIMEDOUT || facts.osErrno == EHOSTUNREACH || facts.osErrno == EHOSTDOWN)
            return Failure(P::NO_ANSWER);
        return Failure(P::FAILED, 0, facts.curlResult);
    case CURLE_OPERATION_TIMEDOUT:
        // ETIMEDOUT: the connection itself was not made, so through a proxy
        // it is the proxy that did not answer. Once connected, a proxy that
        // waits in silence and the server behind it cannot be told apart.
        return Failure(facts.viaProxy && facts.osErrno == ETIMEDOUT ? P::PROXY : P::NO_ANSWER);
    default: return Failure(P::FAILED, 0, facts.curlResult);
    }
    if (facts.httpStatus == 200) return Failure(P::NONE);
    if (facts.httpStatus == 0) return Failure(P::FAILED);  // no status to read
    // Through a proxy a dead server arrives as the proxy's 502 or 504.
    if (facts.viaProxy && GatewayError(facts.httpStatus)) return Failure(P::PROXY_UPSTREAM, facts.httpStatus);
    return Failure(P::HTTP_STATUS, facts.httpStatus);
}

bool HasDefaultRoute() {
    bool readable = false;
    if (ReadDefaultRoute("/proc/net/route", false, readable)) return true;
    if (ReadDefaultRoute("/proc/net/ipv6_route", true, readable)) return true;
    return !readable;
}
