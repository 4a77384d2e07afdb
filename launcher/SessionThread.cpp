#include <cinttypes>
#include <cstdio>
#include <optional>

#include "ApplicationSettings.h"
#include "Crypto.h"
#include "Download.h"
#include "Launcher.h"
#include "Log.h"
#include "ParameterBlock.h"
#include "ProxyLogin.h"
#include "ProxySettings.h"
#include "String_Utils_Unix.h"
#include "TransferFailure.h"
#include "UserInterface.h"

namespace {

// A transfer that returns early leaves the buffer as it was; empty it first
// so an old reply is never read twice.
void EmptyReply(ByteBuffer& reply) {
    reply.SetLength(0);
    if (reply.data != nullptr && reply.capacity >= 2) {
        reply.data[0] = 0;
        reply.data[1] = 0;
    }
}

const char* ReplyText(const ByteBuffer& reply) {
    return reply.data != nullptr ? reinterpret_cast<const char*>(reply.data) : "";
}

// Why a poll failed, in the customer's words.
TextId Reason(const TransferFailure& failure) {
    switch (failure.problem) {
    case TransferProblem::NO_NETWORK: return TextId::NO_NETWORK;
    case TransferProblem::NAME_NOT_FOUND: return TextId::NAME_NOT_FOUND;
    case TransferProblem::REFUSED: return TextId::CONNECTION_REFUSED;
    case TransferProblem::NO_ANSWER: return TextId::CONNECTION_TIMED_OUT;
    case TransferProblem::PROXY: return TextId::PROXY_UNREACHABLE;
    case TransferProblem::PROXY_UPSTREAM: return TextId::PROXY_CANNOT_REACH_SERVER;
    case TransferProblem::HTTP_STATUS: return TextId::SERVER_ERROR;
    case TransferProblem::NOT_VERIFIED: return TextId::CANNOT_VERIFY_SERVER;
    default: return TextId::CONNECTION_FAILED;
    }
}

}  // namespace

std::string EncodeSessionCode(const std::string& code) {
    // libcurl refuses a URL with blanks or control characters; everything
    // else goes in as typed.
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char ch : code) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F) {
            encoded.push_back('%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0x0F]);
        } else {
            encoded.push_back(ch);
        }
    }
    return encoded;
}

std::string BuildPollUrl(const std::string& ticket, std::uint64_t timeStamp) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%llu", static_cast<unsigned long long>(timeStamp));
    return SessionParameters.url + ApplicationSettings::Get()->GetSessionPage() + "?t=" + ticket +
           "&c=" + EncodeSessionCode(SessionParameters.code) + "&o=" + SessionParameters.owner +
           "&l=" + SessionParameters.lang + "&" + stamp;
}

std::string SessionPageUrl() {
    const std::string url = GetParameter(ParameterBlockText(), "url", '(', ')',
                                         ApplicationSettings::Get()->GetDefaultServerUrl());
    return url + ApplicationSettings::Get()->GetSessionPage();
}

bool NoteTlsRefusal(const CDownload& download) {
    const std::string reason = download.GetTlsRefusal();
    if (reason.empty()) return false;
    LogWrite("ERROR: Cannot verify the server: %s", reason.c_str());
    KeepCopy = true;  // to run again once the cause (the clock, say) is mended
    return true;
}

void* SessionThread(void* argument) {
    ByteBuffer reply;
    reply.SetLength(64);  // capacity 128
    EmptyReply(reply);
    std::string ticket, script, error;
    bool haveTicket = false, haveScript = false, haveError = false;
    bool stop = false;
    bool refused = false;  // the server could not be verified

    WaitForUserInterface();
    UiText shown = Text(TextId::CONNECTING);
    SetStatusText(shown);
    TransferFailure lastFailure;  // of the latest poll; NONE once one went through
    const std::uint64_t deadline = TickCountMs() + Tuning().sessionDeadlineMs;
    // One discovery for the whole run: the polls and the client request use it.
    ProxySettings proxy;
    {
        ProxyDiscovery ownDiscovery;
        ProxyDiscovery* discovery = argument ? static_cast<ProxyDiscovery*>(argument) : &ownDiscovery;
        discovery->Finish(SessionPageUrl(), proxy);
    }
    {
        CDownload download(proxy);
        download.SetTlsPolicy(SessionParameters.tls);
        download.SetTimeLimits(Tuning().pollConnectTimeoutMs, Tuning().pollTimeoutMs);
        for (;;) {
            const std::string url = BuildPollUrl(haveTicket ? ticket : std::string(), TickCountMs());
            LogWrite("Session URL: %s", url.c_str());
            EmptyReply(reply);
            const CDownload::DownloadReturnCode result = download.DownloadToBuffer(url, &reply);

            if (result == CDownload::DOWNLOAD_AUTH_REQUIRED) {
                const std::string message = download.GetProxyAuthText();
                char login[kCredentialBufferSize] = {};
                char password[kCredentialBufferSize] = {};
                if (AskProxyCredentials(message.c_str(), login, password)) {
                    login[kCredentialBufferSize - 1] = '\0';
                    password[kCredentialBufferSize - 1] = '\0';
                    ProxyCredentials = ProxyCredentialsText(login, password);
                    download.SetProxyCredentials(ProxyCredentials);
                } else {
                    stop = true;
                }
            } else {
                lastFailure = TransferFailure{};
                if (result != CDownload::DOWNLOAD_OK) {
                    lastFailure = ClassifyTransfer(download.GetTransferFacts());
                    if (lastFailure.problem == TransferProblem::NONE)
                        lastFailure.problem = TransferProblem::FAILED;
                    // The reason's code behind the words peers read: the screen shows it too.
                    LogWrite("Error (%d) - DownloadToBuffer(): %s", static_cast<int>(result),
                             lastFailure.Code().c_str());
                    EmptyReply(reply);
                }
                if (lastFailure.problem == TransferProblem::NOT_VERIFIED) {
                    // No retry and no fallback: nothing from a server we cannot verify is read.
                    refused = stop = NoteTlsRefusal(download);
                    break;
                }
                const char* text = ReplyText(reply);
                if (!haveTicket) haveTicket = FindParameter(text, "ticket", '=', '\r', ticket);
                if (FindParameter(text, "script", '=', '\r', script)) {
                    haveScript = true;
                    stop = true;
                } else if (FindParameter(text, "error", '=', '\r', error)) {
                    haveError = true;
                    stop = true;
                } else {
                    // While it tries again, the customer sees why the last poll failed.
                    const UiText status =
                        lastFailure.problem == TransferProblem::NONE
                            ? Text(TextId::CONNECTING)
                            : WithCode(Text(TextId::TRYING_AGAIN, {Text(Reason(lastFailure))}),
                                       lastFailure.Code());
                    if (!(status == shown)) SetStatusText(shown = status);
                    bool signalled = false;
                    WaitEventTimer(StopEvent, Tuning().pollWaitMs, signalled);
                    stop = signalled;
                }
            }
            if (stop || TickCountMs() >= deadline) break;
        }
    }  // the polls' connection ends before the client request, and before anything is started

    // What stays on screen for the usual wait, if anything.
    std::optional<UiText> notice;
    if (haveScript) {
        // Also when a stop came in the same cycle: the server has assigned us.
        const std::string assignment = DecryptFromServer(script);
        const ClientOutcome outcome = RequestClient(haveTicket ? &ticket : nullptr, assignment, proxy);
        if (outcome == ClientOutcome::REFUSED) notice = Text(TextId::CANNOT_VERIFY_SERVER);
        if (outcome == ClientOutcome::NOT_STARTED) notice = Text(TextId::CANNOT_START_CLIENT);
    } else if (haveError) {
        LogWrite("Server error returned: %s", error.c_str());
        notice = Verbatim(error);  // the server's words, as they came
    } else if (refused) {
        notice = Text(TextId::CANNOT_VERIFY_SERVER);
    } else if (stop) {
        LogWrite("Program interrupted by user");
    } else {
        LogWrite("Connection timeout exceeded");
        notice = Text(TextId::CONNECTION_TIMEOUT);
        // Why the last poll failed stays visible under it.
        if (lastFailure.problem != TransferProblem::NONE)
            notice = Lines({*notice, WithCode(Text(Reason(lastFailure)), lastFailure.Code())});
    }
    if (notice) {
        SetStatusText(*notice);
        bool signalled = false;
        WaitEventTimer(StopEvent, Tuning().pollWaitMs, signalled);
    }
    CloseUserInterface();
    return nullptr;
}
