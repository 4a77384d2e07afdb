#include "ProxySettings.h"

#include <dirent.h>
#include <regex.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "Log.h"
#include "ProxySettingsReaders.h"
#include "RegexMatchIterator.h"

namespace {

const char kDefaultGnomeCommand[] = "gconftool-2 -R /system/http_proxy";
std::optional<std::string> g_gnomeCommand = std::string(kDefaultGnomeCommand);

// A source's whole text: a configuration file, or the GNOME command's
// output; nothing when it cannot be opened.
using Text = std::optional<std::string>;
using Stream = std::unique_ptr<FILE, int (*)(FILE*)>;

Text ReadAll(Stream stream) {
    if (!stream) return std::nullopt;
    std::string text;
    char piece[511];
    size_t n;
    while ((n = fread(piece, 1, sizeof piece, stream.get())) > 0) text.append(piece, n);
    return text;
}

Text FileText(const std::string& path) { return ReadAll(Stream(fopen(path.c_str(), "re"), fclose)); }

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

bool Discover(ProxyFound& found) {
    const char* homeValue = getenv("HOME");
    const bool haveHome = homeValue && *homeValue;
    const std::string home = haveHome ? homeValue : "";

    // Each reader starts from an empty result; the first success ends the search.
    auto attempt = [&found](const Text& text, bool (*reader)(const std::string&, ProxyFound&)) {
        if (!text) return false;
        ProxyFound result;
        if (!reader(*text, result)) return false;
        found = result;
        return true;
    };

    if (g_gnomeCommand) {
        const Text output = ReadAll(Stream(popen(g_gnomeCommand->c_str(), "re"), pclose));
        if (output) {
            if (attempt(output, ReadGnomeCommandOutput)) return true;
        } else if (haveHome && attempt(OpenGconfXml(home), ReadGconfXml)) {
            return true;
        }
    } else if (haveHome && attempt(OpenGconfXml(home), ReadGconfXml)) {
        return true;
    }
    if (!haveHome) return false;

    if (attempt(OpenInFirstSubdirectory(home + "/.mozilla/default", "prefs.js"), ReadMozillaPrefs))
        return true;
    if (attempt(FileText(home + "/.netscape/preferences.js"), ReadMozillaPrefs)) return true;
    Text phoenix = OpenInFirstSubdirectory(home + "/.phoenix/default", "prefs.js");
    if (!phoenix) phoenix = OpenInFirstSubdirectory(home + "/.mozilla/firefox", "prefs.js");
    if (attempt(phoenix, ReadMozillaPrefs)) return true;
    if (attempt(OpenOperaIni(home), ReadOperaIni)) return true;
    return attempt(FileText(home + "/.kde/share/config/kioslaverc"), ReadKioslaverc);
}

// "http://proxy:3128/" and the like down to the bare host; a ":digits"
// suffix gives the port when none was found.
std::string CleanHost(const std::string& given, uint32_t& port) {
    std::string host = given;
    size_t scheme = host.find("://");
    if (scheme != std::string::npos) host.erase(0, scheme + 3);
    size_t slash = host.find('/');
    if (slash != std::string::npos) host.erase(slash);
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
    return host;
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
    SetCredentials(other.GetCredentials());
}

void ProxySettings::ClearProxy() {
    type = PROXY_NONE;
    free(host);
    host = nullptr;
    port = 0;
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

void ProxySettings::SetGnomeCommand(const char* command) {
    if (command)
        g_gnomeCommand = command;
    else
        g_gnomeCommand.reset();
}

void ProxySettings::RestoreGnomeCommand() { g_gnomeCommand = std::string(kDefaultGnomeCommand); }

bool ProxySettings::LoadProxySettings() {
    ClearProxy();
    ProxyFound found;
    if (!Discover(found)) return false;
    return ApplyProxyFound(*this, found);
}

bool ApplyProxyFound(ProxySettings& settings, const ProxyFound& found) {
    settings.type = found.type;
    settings.port = found.port;
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
