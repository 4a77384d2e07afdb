#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ApplicationSettings.h"
#include "Crypto.h"
#include "Download.h"
#include "File_Utils.h"
#include "HostIdentity.h"
#include "Launcher.h"
#include "Log.h"
#include "ProxySettings.h"
#include "String_Utils_Unix.h"

namespace {

constexpr const char* kTypeText = "PLUGIN";
constexpr const char* kServiceKeyText = "quarkmellowfern";

// unzip -o would replace a file or follow a link that someone else put at
// the client's name; only our own regular file (or nothing) may be there.
bool ClientPathIsOurs(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

const char* ClientRole(const std::string& mode) {
    // 64-bit so that both builds agree on huge values.
    return std::strtoll(mode.c_str(), nullptr, 10) > 2 ? "operator" : "client";
}

void RequestClient(const std::string* ticket, const std::string& assignment, const ProxySettings& proxy) {
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

    CDownload download(proxy);
    download.SetTlsPolicy(SessionParameters.tls);
    if (!ProxyCredentials.empty()) {
        download.SetProxyCredentials(ProxyCredentials);
        const std::string server =
            std::string(proxy.host != nullptr ? proxy.host : "") + ":" + std::to_string(proxy.port);
        body +=
            "&proxyserver=" + EncryptForServer(server) + "&proxyauth=" + EncryptForServer(ProxyCredentials);
    }

    LogWrite("Client RC: %s", url.c_str());
    LogWrite("Client RC Post: %s", body.c_str());

    const std::string& folder = Tuning().clientFolder;
    const std::string clientPath =
        folder + "/" + settings->GetRemoteControlName() + "_" + SessionParameters.ac;
    const std::string packagePath = clientPath + ".zip";
    ClientPath = clientPath;

    const CDownload::DownloadReturnCode result = download.PostToFile(url, body, packagePath);
    if (result != CDownload::DOWNLOAD_OK) {
        LogWrite("Error (%d) - PostToFile(\"%s\")", static_cast<int>(result), packagePath.c_str());
        NoteTlsRefusal(download);
        return;
    }
    if (!ClientPathIsOurs(clientPath)) {
        LogWrite("ERROR: %s is not a file of this user, %s not unpacked", clientPath.c_str(),
                 packagePath.c_str());
        return;
    }
    ClientReady = Unzip(packagePath.c_str(), folder.c_str());
    if (ClientReady) unlink(packagePath.c_str());
}
