#include "ProxyDiscovery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "Log.h"
#include "ProxySettingsReaders.h"
#include "ProxyText.h"
#include "UniqueDir.h"

using namespace proxytext;

namespace {

// A source's whole text: a configuration file, or the GNOME command's
// output; nothing when it cannot be opened.
using Text = std::optional<std::string>;
using Stream = std::unique_ptr<FILE, int (*)(FILE*)>;

Text FileText(const std::string& path) {
    Stream stream(fopen(path.c_str(), "re"), fclose);
    if (!stream) return std::nullopt;
    std::string text;
    char piece[4096];
    size_t n;
    while ((n = fread(piece, 1, sizeof piece, stream.get())) > 0) text.append(piece, n);
    return text;
}

// First sub-directory of folder (listing order) that holds file.
Text OpenInFirstSubdirectory(const std::string& folder, const char* file) {
    UniqueDir dir(opendir(folder.c_str()));
    if (!dir) return std::nullopt;
    while (struct dirent* entry = readdir(dir.get())) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        std::string sub = folder + "/" + entry->d_name;
        struct stat st;
        if (stat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        Text text = FileText(sub + "/" + file);
        if (text) return text;
    }
    return std::nullopt;
}

Text OpenGconfXml(const std::string& home) {
    const std::string folder = home + "/.gconf/system/http_proxy";
    UniqueDir dir(opendir(folder.c_str()));
    if (dir) {
        while (struct dirent* entry = readdir(dir.get())) {
            if (!strcmp(entry->d_name, "%gconf.xml")) return FileText(folder + "/" + entry->d_name);
        }
    }
    return std::nullopt;
}

Text OpenOperaIni(const std::string& home) {
    const std::string folder = home + "/.opera";
    UniqueDir dir(opendir(folder.c_str()));
    if (dir) {
        while (struct dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            int number;
            if (sscanf(name.c_str(), "opera%d.ini", &number) == 1 && name.size() >= 4 &&
                name.compare(name.size() - 4, 4, ".ini") == 0)
                return FileText(folder + "/" + name);
        }
    }
    return std::nullopt;
}

// The proxy variables a transfer to url may use, as ReadProxyEnvironment takes them.
std::string ProxyEnvironmentText() {
    std::string text;
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        const char* value = getenv(name);
        if (value && !strchr(value, '\n')) text += std::string(name) + "=" + value + "\n";
    }
    return text;
}

// Where each source keeps its settings, for the log line.
const char kGnome[] = "GNOME settings";
const char kMozilla[] = "Mozilla profile";
const char kNetscape[] = "Netscape profile";
const char kFirefox[] = "Firefox profile";
const char kOpera[] = "Opera settings";
const char kKde[] = "KDE settings";
const char kDesktop[] = "desktop proxy settings";
const char kEnvironment[] = "proxy environment variables";

// "http://proxy:3128/" and the like down to the bare host; a ":digits"
// suffix gives the port when none was found.
std::string CleanHost(const std::string& given, uint32_t& port) {
    std::string host = given;
    size_t scheme = host.find("://");
    if (scheme != std::string::npos) host.erase(0, scheme + 3);
    size_t slash = host.find('/');
    if (slash != std::string::npos) host.erase(slash);
    // An IPv6 address keeps its colons, and its brackets for libcurl; any
    // other text in brackets is no host libcurl could reach.
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        const bool literal = close == host.size() - 1 && close > 1 &&
                             host.find_first_not_of("0123456789abcdefABCDEF:.", 1) == close;
        return literal ? host : std::string();
    }
    size_t colon = host.rfind(':');
    if (colon != std::string::npos && colon + 1 < host.size() &&
        host.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        if (port == 0) port = PortAt(host, colon + 1);
        host.erase(colon);
    }
    // Whatever separators remain: the last word is the host.
    for (char& c : host) {
        if (c == ':' || c == ' ' || c == '\t') c = ' ';
    }
    size_t space = host.rfind(' ');
    if (space != std::string::npos) host.erase(0, space + 1);
    // A DNS name or an IPv4 address; anything else a source holds (a control
    // byte, an "=", a bracket left from a mangled address) is no host.
    static const char kHostCharacters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._";
    if (host.find_first_not_of(kHostCharacters) != std::string::npos) return std::string();
    return host;
}

bool UsableHost(const ProxyFound& found) {
    uint32_t port = found.port;
    return !CleanHost(std::string(found.host.c_str()), port).empty();
}

// libproxy answers from a desktop session's settings, the proxy variables or
// SUSE's sysconfig file. Without any of them its answer is direct://, and
// asking costs a process and the loading of its plugins.
bool DesktopMayAnswer() {
    for (const char* name :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "GNOME_DESKTOP_SESSION_ID", "KDE_FULL_SESSION",
          "http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY"}) {
        const char* value = getenv(name);
        if (value && *value) return true;
    }
    return access("/etc/sysconfig/proxy", F_OK) == 0;
}

}  // namespace

void ProxyDiscovery::Start(const std::string& url) {
    if (m_started) return;
    m_started = true;
    m_url = url;
    m_deadline = TickCountMs() + DesktopProxyQuery::kLimitMs;
    // The longer of the two first.
    m_askDesktop = DesktopMayAnswer();
    if (m_askDesktop) m_desktop.Start(url);
    m_gconftoolError = m_gconftool.Start({"gconftool-2", "-R", "/system/http_proxy"},
                                         {.captureOutput = true, .dieWithParent = true});
}

void ProxyDiscovery::Cancel() {
    m_gconftool.Kill();
    m_desktop.Cancel();
}

bool ProxyDiscovery::Find(ProxyFound& found, const char*& where) {
    const char* homeValue = getenv("HOME");
    const bool haveHome = homeValue && *homeValue;
    const std::string home = haveHome ? homeValue : "";

    // The files are read while the two slow sources may still run; all are
    // then taken in source order.
    using Reader = bool (*)(const std::string&, ProxyFound&);
    struct Source {
        const char* name;
        Text text;
        Reader reader;
    };
    std::vector<Source> sources;
    if (haveHome) {
        const char* configValue = getenv("XDG_CONFIG_HOME");
        const std::string config = configValue && *configValue ? configValue : home + "/.config";
        Text phoenix = OpenInFirstSubdirectory(home + "/.phoenix/default", "prefs.js");
        if (!phoenix) phoenix = OpenInFirstSubdirectory(home + "/.mozilla/firefox", "prefs.js");
        sources = {
            {kMozilla, OpenInFirstSubdirectory(home + "/.mozilla/default", "prefs.js"), ReadMozillaPrefs},
            {kNetscape, FileText(home + "/.netscape/preferences.js"), ReadMozillaPrefs},
            {kFirefox, phoenix, ReadMozillaPrefs},
            {kOpera, OpenOperaIni(home), ReadOperaIni},
            {kKde, FileText(home + "/.kde/share/config/kioslaverc"), ReadKioslaverc},
            {kKde, FileText(config + "/kioslaverc"), ReadKioslaverc},
        };
    }
    std::string output;
    if (m_gconftoolError == 0) {
        if (!m_gconftool.ReadOutput(output, m_deadline))
            LogWrite("[PS:LoadProxySettings] gconftool-2 gave no answer within 5 seconds");
        if (ChildProcess::NotExecuted(m_gconftool.Wait(m_deadline))) m_gconftoolError = ENOENT;
    }
    if (m_gconftoolError == 0) {
        sources.insert(sources.begin(), {kGnome, output, ReadGnomeCommandOutput});
    } else if (haveHome) {
        // No gconftool-2 to ask: its settings file.
        sources.insert(sources.begin(), {kGnome, OpenGconfXml(home), ReadGconfXml});
    }

    // Only a usable host ends the search: a profile that points elsewhere
    // (automatic, system settings) leaves it to the sources after it.
    auto take = [&](const char* name, const ProxyFound& result) {
        if (!UsableHost(result)) return false;
        found = result;
        where = name;
        return true;
    };
    for (const Source& source : sources) {
        ProxyFound result;
        if (source.text && source.reader(*source.text, result) && take(source.name, result)) {
            m_desktop.Cancel();
            return true;
        }
    }

    if (!m_askDesktop) return false;
    std::string answer;
    ProxyFound result;
    const DesktopProxyQuery::Outcome outcome = m_desktop.Finish(answer);
    if (outcome == DesktopProxyQuery::ANSWERED)
        return ReadLibproxyAnswer(answer, result) && take(kDesktop, result);
    if (outcome == DesktopProxyQuery::MISSING) {
        LogWrite(
            "[PS:LoadProxySettings] libproxy is missing (%s): only the proxy environment variables are read",
            answer.c_str());
    } else {
        LogWrite("[PS:LoadProxySettings] Desktop proxy settings: %s", answer.c_str());
        // A query that ran and failed (a looping PAC script, a crash) finds nothing.
        if (m_desktop.started()) return false;
    }
    return ReadProxyEnvironment(ProxyEnvironmentText(), m_url, result) && take(kEnvironment, result);
}

bool ProxyDiscovery::Finish(const std::string& url, ProxySettings& settings) {
    Start(url);
    settings.ClearProxy();
    ProxyFound found;
    const char* where = nullptr;
    const bool ok = Find(found, where) && ApplyProxyFound(settings, found);
    Cancel();
    if (!ok) {
        LogWrite("Proxy: none found, direct connection");
        return false;
    }
    // The host and port only: credentials from a proxy URL stay out of the log.
    LogWrite("Proxy: %s%s%s:%u (%s)", settings.scheme.c_str(), settings.scheme.empty() ? "" : "://",
             settings.host, settings.port, where);
    return true;
}

bool ApplyProxyFound(ProxySettings& settings, const ProxyFound& found) {
    settings.type = found.type;
    settings.port = found.port;
    settings.scheme = found.scheme;
    if (!found.credentials.empty()) settings.SetCredentials(found.credentials);
    // The record's host is a C string: what stands behind a NUL is not part of it.
    const std::string given(found.host.c_str());
    const std::string clean = CleanHost(given, settings.port);
    if (clean.empty()) {
        settings.SetHost(nullptr);
        return false;
    }
    settings.SetHost(clean.c_str());
    if (settings.port == 0) {
        LogWrite("[PS:LoadProxySettings] Unable to read proxy port. Defaulting to port 8080");
        settings.port = 8080;
    }
    return true;
}
