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
#include "RegexMatchIterator.h"

namespace {

const char kDefaultGnomeCommand[] = "gconftool-2 -R /system/http_proxy";
std::optional<std::string> g_gnomeCommand = std::string(kDefaultGnomeCommand);

// The source being read: a configuration file, or the GNOME command's pipe.
class Source {
public:
    static Source OpenFile(const std::string& path) { return Source(fopen(path.c_str(), "re"), false); }
    static Source OpenPipe(const char* command) { return Source(popen(command, "re"), true); }
    static Source None() { return Source(nullptr, false); }
    Source(Source&& other) noexcept : stream_(other.stream_), isPipe_(other.isPipe_) {
        other.stream_ = nullptr;
    }
    Source& operator=(Source&& other) noexcept {
        if (this != &other) {
            Close();
            stream_ = other.stream_;
            isPipe_ = other.isPipe_;
            other.stream_ = nullptr;
        }
        return *this;
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() { Close(); }
    explicit operator bool() const { return stream_ != nullptr; }

    // Next line without its line end, of any length; false at the end.
    bool ReadLine(std::string& line) {
        ssize_t n = getline(&line_, &capacity_, stream_);
        if (n < 0) return false;
        line.assign(line_, static_cast<size_t>(n));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return true;
    }

    std::string ReadAll() {
        std::string text;
        char piece[511];
        size_t n;
        while ((n = fread(piece, 1, sizeof piece, stream_)) > 0) text.append(piece, n);
        return text;
    }

private:
    Source(FILE* stream, bool isPipe) : stream_(stream), isPipe_(isPipe) {}
    void Close() {
        if (stream_) isPipe_ ? pclose(stream_) : fclose(stream_);
        stream_ = nullptr;
        free(line_);
        line_ = nullptr;
        capacity_ = 0;
    }
    FILE* stream_;
    bool isPipe_;
    char* line_ = nullptr;  // getline's buffer, grown as needed
    size_t capacity_ = 0;
};

// What a parser found. Applied to the record only on success.
struct Found {
    uint32_t type = PROXY_NONE;
    std::string host;  // empty = none
    uint32_t port = 0;
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
void SplitHostPort(const std::string& text, Found& found) {
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

bool ParseGnomeOutput(Source& source, Found& found) {
    const std::string text = source.ReadAll();
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

bool ParseGnomeXml(Source& source, Found& found) {
    bool enabled = false;
    std::string line;
    while (source.ReadLine(line)) {
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
            if (value.empty() && source.ReadLine(line)) value = GconfStringValue(TrimLeft(line));
            found.host = value;
        } else if (Contains(line, "use_http_proxy") && Contains(line, "true")) {
            enabled = true;
        }
    }
    if (!enabled) return false;
    found.type = PROXY_HTTP;
    return true;
}

bool ScanInt(const std::string& line, const char* format, int& target) {
    int value;
    if (sscanf(line.c_str(), format, &value) != 1) return false;
    target = value;
    return true;
}

bool ParsePreferences(Source& source, Found& found) {
    int proxyType = 0;
    int socksVersion = 0;
    int port = 0;
    std::string host;
    std::string line;
    while (source.ReadLine(line)) {
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

bool ParseOpera(Source& source, Found& found) {
    int useHttp = 0;
    int automatic = 0;
    std::string line;
    while (source.ReadLine(line)) {
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

// "http://host:port" or "http://host port" into host and port.
void ParseKdeProxyText(const std::string& text, Found& found) {
    if (!StartsWith(text, "http://")) return;
    SplitHostPort(text.substr(strlen("http://")), found);
}

bool ParseKde(Source& source, Found& found) {
    int kdeType = 0;
    std::string proxyText;
    std::string line;
    while (source.ReadLine(line)) {
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

// First sub-directory of folder (listing order) that holds file.
Source OpenInFirstSubdirectory(const std::string& folder, const char* file) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return Source::None();
    while (struct dirent* entry = readdir(dir.get())) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        std::string sub = folder + "/" + entry->d_name;
        struct stat st;
        if (stat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        Source source = Source::OpenFile(sub + "/" + file);
        if (source) return source;
    }
    return Source::None();
}

Source OpenGconfXml(const std::string& home) {
    const std::string folder = home + "/.gconf/system/http_proxy";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (dir) {
        while (struct dirent* entry = readdir(dir.get())) {
            if (!strcmp(entry->d_name, "%gconf.xml")) return Source::OpenFile(folder + "/" + entry->d_name);
        }
    }
    return Source::None();
}

Source OpenOperaIni(const std::string& home) {
    const std::string folder = home + "/.opera";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (dir) {
        while (struct dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            int number;
            if (sscanf(name.c_str(), "opera%d.ini", &number) == 1 && name.size() >= 4 &&
                name.compare(name.size() - 4, 4, ".ini") == 0)
                return Source::OpenFile(folder + "/" + name);
        }
    }
    return Source::None();
}

bool Discover(Found& found) {
    const char* homeValue = getenv("HOME");
    const bool haveHome = homeValue && *homeValue;
    const std::string home = haveHome ? homeValue : "";

    // Each parser starts from an empty result; the first success ends the search.
    auto attempt = [&found](Source source, bool (*parser)(Source&, Found&)) {
        if (!source) return false;
        Found result;
        if (!parser(source, result)) return false;
        found = result;
        return true;
    };

    if (g_gnomeCommand) {
        Source pipe = Source::OpenPipe(g_gnomeCommand->c_str());
        if (pipe) {
            if (attempt(std::move(pipe), ParseGnomeOutput)) return true;
        } else if (haveHome && attempt(OpenGconfXml(home), ParseGnomeXml)) {
            return true;
        }
    } else if (haveHome && attempt(OpenGconfXml(home), ParseGnomeXml)) {
        return true;
    }
    if (!haveHome) return false;

    if (attempt(OpenInFirstSubdirectory(home + "/.mozilla/default", "prefs.js"), ParsePreferences))
        return true;
    if (attempt(Source::OpenFile(home + "/.netscape/preferences.js"), ParsePreferences)) return true;
    Source phoenix = OpenInFirstSubdirectory(home + "/.phoenix/default", "prefs.js");
    if (!phoenix) phoenix = OpenInFirstSubdirectory(home + "/.mozilla/firefox", "prefs.js");
    if (attempt(std::move(phoenix), ParsePreferences)) return true;
    if (attempt(OpenOperaIni(home), ParseOpera)) return true;
    return attempt(Source::OpenFile(home + "/.kde/share/config/kioslaverc"), ParseKde);
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
    Found found;
    if (!Discover(found)) return false;
    type = found.type;
    port = found.port;
    if (found.host.empty()) return false;
    std::string clean = CleanHost(found.host, port);
    if (clean.empty()) return false;
    SetHost(clean.c_str());
    if (port == 0) {
        LogWrite("[PS:LoadProxySettings] Unable to read proxy port. Defaulting to port 8080");
        port = 8080;
    }
    return true;
}
