#include "ProxySettings.h"

#include <dirent.h>
#include <regex.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "ChildProcess.h"
#include "CriticalSection.h"
#include "DesktopProxy.h"
#include "Log.h"
#include "ProxySettingsReaders.h"
#include "RegexMatchIterator.h"

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

// The lines of a source's text, without their line ends, each cut at its
// first NUL: the text of a line is what a C string of it holds.
class Lines {
public:
    explicit Lines(const std::string& text) : text_(text) {}
    bool Next(std::string& line) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        line.assign(text_, pos_, end - pos_);
        pos_ = end + 1;
        line.resize(strnlen(line.c_str(), line.size()));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return true;
    }

private:
    const std::string& text_;
    size_t pos_ = 0;
};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

bool Contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

// Decimal port at text[pos...]; 0 (unknown) when there are no digits or the
// value is no TCP port.
uint32_t PortAt(const std::string& text, size_t pos) {
    unsigned long value = 0;
    bool any = false;
    while (pos < text.size() && isdigit(static_cast<unsigned char>(text[pos]))) {
        value = value * 10 + static_cast<unsigned long>(text[pos] - '0');
        if (value > 65535) return 0;
        any = true;
        ++pos;
    }
    return any ? static_cast<uint32_t>(value) : 0;
}

uint32_t PortFromInt(int value) { return value > 0 && value <= 65535 ? static_cast<uint32_t>(value) : 0; }

std::string TrimLeft(const std::string& line) {
    size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : line.substr(first);
}

std::string TrimRight(std::string text) {
    while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

// "host", then ":port" or (KDE 4 and later) " port"; no port gives 0.
void SplitHostPort(const std::string& text, ProxyFound& found) {
    size_t end = text.find_first_of(": \t");
    found.host = text.substr(0, end);
    found.port = 0;
    if (end == std::string::npos) return;
    if (text[end] == ':') {
        found.port = PortAt(text, end + 1);
    } else {
        size_t digits = text.find_first_not_of(" \t", end);
        if (digits != std::string::npos) found.port = PortAt(text, digits);
    }
}

// The host entry's value: the text of <stringvalue>...</stringvalue>. A
// dotted address is rewritten as four plain numbers.
std::string GconfStringValue(const std::string& line) {
    const char open[] = "<stringvalue>";
    size_t start = line.find(open);
    if (start == std::string::npos) return std::string();
    start += sizeof open - 1;
    size_t stop = line.find("</stringvalue>", start);
    if (stop == std::string::npos) return std::string();
    std::string value = line.substr(start, stop - start);
    int a, b, c, d, used = 0;
    if (sscanf(value.c_str(), "%d.%d.%d.%d%n", &a, &b, &c, &d, &used) == 4 &&
        static_cast<size_t>(used) == value.size()) {
        char dotted[64];
        snprintf(dotted, sizeof dotted, "%i.%i.%i.%i", a, b, c, d);
        value = dotted;
    }
    return value;
}

bool ScanInt(const std::string& line, const char* format, int& target) {
    int value;
    if (sscanf(line.c_str(), format, &value) != 1) return false;
    target = value;
    return true;
}

// "http://host:port" or "http://host port" into host and port.
void ParseKdeProxyText(const std::string& text, ProxyFound& found) {
    if (!StartsWith(text, "http://")) return;
    SplitHostPort(text.substr(strlen("http://")), found);
}

}  // namespace

bool ReadGnomeCommandOutput(const std::string& text, ProxyFound& found) {
    const int flags = REG_EXTENDED | REG_ICASE | REG_NEWLINE;
    RegexMatchIterator end;

    RegexMatchIterator port("port[[:blank:]]*=[[:blank:]]*([0-9]+)[[:blank:]]*$", text, flags);
    if (port != end && port->size() > 1) found.port = PortAt((*port)[1], 0);
    RegexMatchIterator host("host[[:blank:]]*=[[:blank:]]*([^[:blank:]]+)[[:blank:]]*$", text, flags);
    if (host != end && host->size() > 1) found.host = (*host)[1];
    RegexMatchIterator use("use_http_proxy[[:blank:]]*=[[:blank:]]*([^[:blank:]]+)[[:blank:]]*$", text,
                           flags);
    if (use != end && use->size() > 1 && (*use)[1] == "true") {
        found.type = PROXY_HTTP;
        return true;
    }
    return false;
}

bool ReadGconfXml(const std::string& text, ProxyFound& found) {
    bool enabled = false;
    Lines lines(text);
    std::string line;
    while (lines.Next(line)) {
        line = TrimLeft(line);
        if (Contains(line, "port")) {
            int value;
            if (sscanf(line.c_str(), "<entry name=\"port\" mtime=\"%*[0-9]\" type=\"int\" value=\"%d\"",
                       &value) == 1)
                found.port = PortFromInt(value);
        } else if (Contains(line, "<entry name=\"host\"")) {
            // The value stands on the entry's next line; other entries that
            // merely mention hosts (the bypass list) are no proxy host.
            std::string value = GconfStringValue(line);
            if (value.empty() && lines.Next(line)) value = GconfStringValue(TrimLeft(line));
            found.host = value;
        } else if (Contains(line, "use_http_proxy") && Contains(line, "true")) {
            enabled = true;
        }
    }
    if (!enabled) return false;
    found.type = PROXY_HTTP;
    return true;
}

bool ReadMozillaPrefs(const std::string& text, ProxyFound& found) {
    int proxyType = 0;
    int socksVersion = 0;
    int port = 0;
    std::string host;
    Lines lines(text);
    std::string line;
    while (lines.Next(line)) {
        if (Contains(line, "network.proxy.type")) {
            ScanInt(line, "user_pref(\"network.proxy.type\", %d", proxyType);
        } else if (Contains(line, "network.proxy.http_port")) {
            ScanInt(line, "user_pref(\"network.proxy.http_port\", %d", port);
        } else if (Contains(line, "network.proxy.http")) {
            std::string value(line.size() + 1, '\0');
            if (sscanf(line.c_str(), "user_pref(\"network.proxy.http\", \"%[^\"]", value.data()) == 1)
                host = value.c_str();
        } else if (Contains(line, "network.proxy.socks_version")) {
            ScanInt(line, "user_pref(\"network.proxy.socks_version\", %d", socksVersion);
        }
    }
    if (proxyType == 0) return false;
    found.type = socksVersion != 0 ? PROXY_SOCKS : PROXY_HTTP;
    // Automatic, detected or system settings: the search ends here, but a
    // manual host left behind in the profile is not in use.
    if (proxyType == 1) {
        found.host = host;
        found.port = PortFromInt(port);
    }
    return true;
}

bool ReadOperaIni(const std::string& text, ProxyFound& found) {
    int useHttp = 0;
    int automatic = 0;
    Lines lines(text);
    std::string line;
    while (lines.Next(line)) {
        // Opera 9 and later write "HTTP server".
        if (StartsWith(line, "HTTP Server=") || StartsWith(line, "HTTP server=")) {
            const size_t start = strlen("HTTP Server=");
            size_t colon = line.find(':', start);
            std::string host =
                line.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!host.empty()) {
                found.host = host;
                found.port = colon == std::string::npos ? 0 : PortAt(line, colon + 1);
            }
        } else if (Contains(line, "Use HTTP")) {
            ScanInt(line, "Use HTTP=%d", useHttp);
        } else if (Contains(line, "Use Automatic Proxy Configuration")) {
            ScanInt(line, "Use Automatic Proxy Configuration=%d", automatic);
        }
    }
    if (useHttp == 0 || automatic == 1) return false;
    found.type = PROXY_HTTP;
    return true;
}

bool ReadKioslaverc(const std::string& text, ProxyFound& found) {
    int kdeType = 0;
    std::string proxyText;
    Lines lines(text);
    std::string line;
    while (lines.Next(line)) {
        if (Contains(line, "ProxyType=")) {
            ScanInt(line, "ProxyType=%d", kdeType);
        } else if (Contains(line, "httpProxy")) {
            if (StartsWith(line, "httpProxy=")) proxyText = TrimRight(line.substr(strlen("httpProxy=")));
        }
    }
    switch (kdeType) {
    case 1: ParseKdeProxyText(proxyText, found); break;
    case 4: {
        // The proxy text names an environment variable holding the proxy.
        const char* value = proxyText.empty() ? nullptr : getenv(proxyText.c_str());
        if (value) {
            std::string address = value;
            size_t scheme = address.find("://");
            if (scheme != std::string::npos) address.erase(0, scheme + 3);
            ParseKdeProxyText("http://" + address, found);
        }
        break;
    }
    case 0:
    case 2:
    case 3: return false;
    default: break;
    }
    found.type = PROXY_HTTP;
    return true;
}

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// "[scheme://][login[:password]@]host[:port][/...]", for the schemes libcurl
// is handed: HTTP and SOCKS. Without a scheme (a proxy variable) it is HTTP.
bool ParseProxyUrl(const std::string& text, bool schemeOptional, ProxyFound& found) {
    std::string rest = text;
    std::string scheme = "http";
    const size_t separator = rest.find("://");
    if (separator != std::string::npos) {
        scheme = Lower(rest.substr(0, separator));
        rest.erase(0, separator + 3);
    } else if (!schemeOptional) {
        return false;
    }
    const bool socks = scheme == "socks4" || scheme == "socks4a" || scheme == "socks5" || scheme == "socks5h";
    if (scheme != "http" && !socks) return false;
    rest.erase(std::min(rest.find_first_of("/?#"), rest.size()));

    ProxyFound result;
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string login = rest.substr(0, at);
        const size_t colon = login.find(':');
        result.credentials = PercentDecoded(login.substr(0, colon));
        result.credentials +=
            ":" + (colon == std::string::npos ? "" : PercentDecoded(login.substr(colon + 1)));
        rest.erase(0, at + 1);
    }
    size_t portStart = std::string::npos;
    if (!rest.empty() && rest[0] == '[') {  // an IPv6 address
        const size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        result.host = rest.substr(0, close + 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return false;
            portStart = close + 2;
        }
    } else {
        const size_t colon = rest.find(':');
        result.host = rest.substr(0, colon);
        if (colon != std::string::npos) portStart = colon + 1;
    }
    if (result.host.empty() || result.host.find_first_of(" \t") != std::string::npos) return false;
    if (portStart != std::string::npos) {
        result.port = PortAt(rest, portStart);
        if (result.port == 0 || rest.find_first_not_of("0123456789", portStart) != std::string::npos)
            return false;
    } else if (socks) {
        result.port = 1080;  // as libcurl would
    }
    result.type = socks ? PROXY_SOCKS : PROXY_HTTP;
    if (socks) result.scheme = scheme;
    found = result;
    return true;
}

// The host of a transfer's URL, lower case, without brackets or a final dot.
std::string UrlHost(const std::string& url) {
    std::string rest = url;
    const size_t separator = rest.find("://");
    if (separator != std::string::npos) rest.erase(0, separator + 3);
    rest.erase(std::min(rest.find_first_of("/?#"), rest.size()));
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) rest.erase(0, at + 1);
    if (!rest.empty() && rest[0] == '[') {
        rest = rest.substr(1, rest.find(']') - 1);
    } else {
        rest.erase(std::min(rest.find(':'), rest.size()));
    }
    if (!rest.empty() && rest.back() == '.') rest.pop_back();
    return Lower(rest);
}

// An IPv4 address inside "a.b.c.d/bits".
bool InIpv4Range(const std::string& host, const std::string& range) {
    const size_t slash = range.find('/');
    in_addr address{}, network{};
    if (slash == std::string::npos || inet_pton(AF_INET, host.c_str(), &address) != 1 ||
        inet_pton(AF_INET, range.substr(0, slash).c_str(), &network) != 1)
        return false;
    const uint32_t bits = PortAt(range, slash + 1);
    if (bits > 32 || range.find_first_not_of("0123456789", slash + 1) != std::string::npos) return false;
    const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
    return (ntohl(address.s_addr) & mask) == (ntohl(network.s_addr) & mask);
}

// curl's rules: "*" is every host; a name matches itself and the names
// below it (a leading dot changes nothing); an address matches itself or a
// range written a.b.c.d/bits.
bool NoProxyMatches(const std::string& list, const std::string& host) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string entry = list.substr(start, end - start);
        start = end + 1;
        const size_t first = entry.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        entry = Lower(TrimRight(entry.substr(first)));
        if (entry == "*") return true;
        if (entry[0] == '.') entry.erase(0, 1);
        if (!entry.empty() && entry.back() == '.') entry.pop_back();
        if (entry.empty()) continue;
        if (host == entry || InIpv4Range(host, entry)) return true;
        if (host.size() > entry.size() &&
            host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
            host[host.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace

bool ReadLibproxyAnswer(const std::string& text, ProxyFound& found) {
    Lines lines(text);
    std::string line;
    while (lines.Next(line)) {
        line = TrimRight(TrimLeft(line));
        if (Lower(line) == "direct://") return true;
        if (ParseProxyUrl(line, false, found)) return true;
    }
    return false;
}

bool ReadProxyEnvironment(const std::string& text, const std::string& url, ProxyFound& found) {
    std::vector<std::pair<std::string, std::string>> variables;
    Lines lines(text);
    std::string line;
    while (lines.Next(line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            variables.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    auto value = [&variables](const char* name) {
        for (const auto& [n, v] : variables)
            if (n == name && !v.empty()) return v;
        return std::string();
    };
    const std::string host = UrlHost(url);
    std::string noProxy = value("no_proxy");
    if (noProxy.empty()) noProxy = value("NO_PROXY");
    if (host.empty() || NoProxyMatches(noProxy, host)) return false;

    // HTTP_PROXY is not read: a CGI program gets a client's "Proxy:" header under that name.
    const std::string scheme = Lower(url.substr(0, url.find("://")));
    std::vector<const char*> names = {"all_proxy", "ALL_PROXY"};
    if (scheme == "https") names.insert(names.begin(), {"https_proxy", "HTTPS_PROXY"});
    if (scheme == "http") names.insert(names.begin(), "http_proxy");
    for (const char* name : names) {
        const std::string proxy = value(name);
        if (!proxy.empty()) return ParseProxyUrl(proxy, true, found);
    }
    return false;
}

namespace {

// First sub-directory of folder (listing order) that holds file.
Text OpenInFirstSubdirectory(const std::string& folder, const char* file) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
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
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (dir) {
        while (struct dirent* entry = readdir(dir.get())) {
            if (!strcmp(entry->d_name, "%gconf.xml")) return FileText(folder + "/" + entry->d_name);
        }
    }
    return std::nullopt;
}

Text OpenOperaIni(const std::string& home) {
    const std::string folder = home + "/.opera";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
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
    // A bracket left over from a mangled address is no host either.
    if (host.find_first_of("[]") != std::string::npos) return std::string();
    return host;
}

bool UsableHost(const ProxyFound& found) {
    uint32_t port = found.port;
    return !CleanHost(std::string(found.host.c_str()), port).empty();
}

}  // namespace

ProxySettings::ProxySettings() : type(PROXY_NONE), host(nullptr), port(0) {}

ProxySettings::~ProxySettings() { Reset(); }

ProxySettings::ProxySettings(const ProxySettings& other) : type(PROXY_NONE), host(nullptr), port(0) {
    CopyFrom(other);
}

ProxySettings& ProxySettings::operator=(const ProxySettings& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

void ProxySettings::CopyFrom(const ProxySettings& other) {
    type = other.type;
    SetHost(other.host);
    port = other.port;
    scheme = other.scheme;
    SetCredentials(other.GetCredentials());
}

void ProxySettings::ClearProxy() {
    type = PROXY_NONE;
    free(host);
    host = nullptr;
    port = 0;
    scheme.clear();
}

void ProxySettings::Reset() {
    ClearProxy();
    SetCredentials("");
}

void ProxySettings::SetHost(const char* text) {
    hostText = text ? text : "";
    char* copy = text ? strdup(text) : nullptr;
    free(host);
    host = copy;
}

void ProxySettings::SetCredentials(const std::string& text) {
    CriticalSectionLock guard(lock);
    credentials = text;
}

std::string ProxySettings::GetCredentials() const {
    CriticalSectionLock guard(lock);
    return credentials;
}

bool ProxySettings::LoadProxySettings(const std::string& url) { return ProxyDiscovery().Finish(url, *this); }

// libproxy answers from a desktop session's settings, the proxy variables or
// SUSE's sysconfig file. Without any of them its answer is direct://, and
// asking costs a process and the loading of its plugins.
static bool DesktopMayAnswer() {
    for (const char* name :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "GNOME_DESKTOP_SESSION_ID", "KDE_FULL_SESSION",
          "http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        const char* value = getenv(name);
        if (value && *value) return true;
    }
    return access("/etc/sysconfig/proxy", F_OK) == 0;
}

void ProxyDiscovery::Start(const std::string& url) {
    if (m_started) return;
    m_started = true;
    m_url = url;
    m_deadline = TickCountMs() + DesktopProxyQuery::kLimitMs;
    // The longer of the two first.
    m_askDesktop = DesktopMayAnswer();
    if (m_askDesktop) m_desktop.Start(url);
    m_gconftoolError =
        m_gconftool.Start({"gconftool-2", "-R", "/system/http_proxy"}, {.captureOutput = true});
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
