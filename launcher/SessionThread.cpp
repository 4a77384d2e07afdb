#include <cinttypes>
#include <cstdio>

#include "ApplicationSettings.h"
#include "Crypto.h"
#include "Download.h"
#include "Launcher.h"
#include "Log.h"
#include "ParameterBlock.h"
#include "ProxyLogin.h"
#include "ProxySettings.h"
#include "String_Utils_Unix.h"
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
    SetStatusText("Connecting...");
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
            } else if (!download.GetTlsRefusal().empty()) {
                // No retry and no fallback: nothing from a server we cannot verify is read.
                LogWrite("Error (%d) - DownloadToBuffer()", static_cast<int>(result));
                refused = stop = NoteTlsRefusal(download);
            } else {
                if (result != CDownload::DOWNLOAD_OK) {
                    LogWrite("Error (%d) - DownloadToBuffer()", static_cast<int>(result));
                    EmptyReply(reply);
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
                    bool signalled = false;
                    WaitEventTimer(StopEvent, Tuning().pollWaitMs, signalled);
                    stop = signalled;
                }
            }
            if (stop || TickCountMs() >= deadline) break;
        }
    }  // the polls' connection ends before the client request, and before anything is started

    // What stays on screen for the usual wait, if anything.
    const char* notice = nullptr;
    if (haveScript) {
        // Also when a stop came in the same cycle: the server has assigned us.
        const std::string assignment = DecryptFromServer(script);
        const ClientOutcome outcome = RequestClient(haveTicket ? &ticket : nullptr, assignment, proxy);
        if (outcome == ClientOutcome::REFUSED) notice = kCannotVerifyServer;
        if (outcome == ClientOutcome::NOT_STARTED) notice = kCannotStartClient;
    } else if (haveError) {
        LogWrite("Server error returned: %s", error.c_str());
        notice = error.c_str();
    } else if (refused) {
        notice = kCannotVerifyServer;
    } else if (stop) {
        LogWrite("Program interrupted by user");
    } else {
        LogWrite("Connection timeout exceeded");
        notice = "Connection timeout exceeded";
    }
    if (notice != nullptr) {
        SetStatusText(notice);
        bool signalled = false;
        WaitEventTimer(StopEvent, Tuning().pollWaitMs, signalled);
    }
    CloseUserInterface();
    return nullptr;
}
