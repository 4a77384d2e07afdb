#pragma once
// Why a transfer failed, as far as it can be told: one reason for each cause
// that what libcurl reports tells apart (causes it cannot tell apart share
// one), and a short code ("E-DNS", "E-HTTP-403") that the screen and the log
// both carry, for the technician on the phone.

#include <string>

// What is known after a transfer (CDownload::GetTransferFacts).
struct TransferFacts {
    int curlResult = 0;          // libcurl's result (CURLcode); 0 when the transfer went through
    long osErrno = 0;            // CURLINFO_OS_ERRNO: the errno of the last failed connect
    bool viaProxy = false;       // the transfer went to a proxy
    long httpStatus = 0;         // the status of the answer (through a proxy: perhaps the proxy's)
    long tunnelStatus = 0;       // the proxy's refusal of a tunnel (CONNECT); 0 when none
    bool serverRefused = false;  // the server could not be verified
    bool noRoute = false;        // this computer has no default route (known after a failed name lookup)
};

enum class TransferProblem {
    NONE,
    NO_NETWORK,      // no route off this computer, so no name server either
    NAME_NOT_FOUND,  // the server's name is not known
    REFUSED,         // the server refused the connection
    NO_ANSWER,       // no answer in time (from the server, or from whatever sits behind the proxy)
    PROXY,           // the proxy does not answer, or refuses the connection
    PROXY_UPSTREAM,  // the proxy's 502, 503 or 504: it cannot reach the server
    HTTP_STATUS,     // the server answered with an error status
    NOT_VERIFIED,    // the server could not be verified
    FAILED,          // anything else
};

struct TransferFailure {
    TransferProblem problem = TransferProblem::NONE;
    long status = 0;     // HTTP_STATUS, PROXY_UPSTREAM, and PROXY when the proxy answered
    int curlResult = 0;  // FAILED
    // "E-NET", "E-DNS", "E-REFUSED", "E-TIMEOUT", "E-PROXY", "E-PROXY-<status>",
    // "E-HTTP-<status>", "E-TLS", "E-CURL-<result>", "E-REPLY"; empty for NONE.
    std::string Code() const;
};

TransferFailure ClassifyTransfer(const TransferFacts& facts);

// True when this computer has a default route (IPv4 or IPv6) that is up;
// also when the routing tables cannot be read.
bool HasDefaultRoute();
