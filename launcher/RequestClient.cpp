#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ApplicationSettings.h"
#include "Crypto.h"
#include "Download.h"
#include "HostIdentity.h"
#include "Launcher.h"
#include "Log.h"
#include "ProxySettings.h"
#include "String_Utils_Unix.h"

namespace {

constexpr const char* kTypeText = "PLUGIN";
constexpr const char* kServiceKeyText = "quarkmellowfern";

}  // namespace

const char* ClientRole(const std::string& mode) {
    // 64-bit so that both builds agree on huge values.
    return std::strtoll(mode.c_str(), nullptr, 10) > 2 ? "operator" : "client";
}

ClientOutcome RequestClient(const std::string* ticket, const std::string& assignment,
                            const ProxySettings& proxy) {
    const Customization* settings = ApplicationSettings::Get();

    const std::string isd = GetParameter(assignment, "isd", '=', '&', "");
    const std::string mode = GetParameter(assignment, "mode", '=', '&', "2");
    const std::string lUid = GetParameter(assignment, "lUid", '=', '&', "");
    const char* role = ClientRole(mode);

    std::string mac;
    char macText[32] = {};
    if (GetMacAddress(macText)) mac = EncryptForServer(macText);

    char hostId[16];
    std::snprintf(hostId, sizeof hostId, "%d", static_cast<int>(static_cast<std::int32_t>(gethostid())));
    const std::string system = EncryptForServer(hostId);
    const std::string type = EncryptForServer(kTypeText);

    char joined[64];
    std::snprintf(joined, sizeof joined, "%s%s", kTypeText, kServiceKeyText);
    const std::string check = EncryptForServer(Md5Hex(joined, std::strlen(joined)));

    const std::string url = SessionParameters.url + settings->GetComponentsPage() +
                            "?t=" + (ticket != nullptr ? *ticket : std::string());
    std::string body = "lUid=" + lUid + "&ac=" + SessionParameters.ac + "&mod=" + role + "&isd=" + isd +
                       "&mac=" + mac + "&system=" + system + "&type=" + type + "&check=" + check +
                       "&own=" + SessionParameters.owner;

    // Chosen before anything is fetched: with nowhere to run it, no client is asked for.
    const std::vector<std::string> folders = ClientFolders();
    if (folders.empty()) {
        LogWrite("ERROR: %s: no folder where it may run", EnglishText(TextId::CANNOT_START_CLIENT));
        KeepCopy = true;
        return ClientOutcome::NOT_STARTED;
    }
    ClientPath = folders.front() + "/" + settings->GetRemoteControlName() + "_" + SessionParameters.ac;

    std::vector<char> package;
    {
        CDownload download(proxy);
        download.SetTlsPolicy(SessionParameters.tls);
        if (!ProxyCredentials.empty()) {
            download.SetProxyCredentials(ProxyCredentials);
            const std::string server =
                std::string(proxy.host != nullptr ? proxy.host : "") + ":" + std::to_string(proxy.port);
            body += "&proxyserver=" + EncryptForServer(server) +
                    "&proxyauth=" + EncryptForServer(ProxyCredentials);
        }

        LogWrite("Client RC: %s", url.c_str());
        LogWrite("Client RC Post: %s", body.c_str());

        const CDownload::DownloadReturnCode result = download.PostToBuffer(url, body, package);
        if (result != CDownload::DOWNLOAD_OK) {
            LogWrite("Error (%d) - PostToFile(\"%s.zip\")", static_cast<int>(result), ClientPath.c_str());
            return NoteTlsRefusal(download) ? ClientOutcome::REFUSED : ClientOutcome::FAILED;
        }
    }  // the connection ends here: nothing of it may reach unzip or the client

    ClientStarted = InstallClient(package, folders);
    if (!ClientStarted) KeepCopy = true;  // to run again where the client can start
    return ClientStarted ? ClientOutcome::STARTED : ClientOutcome::NOT_STARTED;
}
