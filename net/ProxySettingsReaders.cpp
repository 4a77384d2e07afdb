#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ProxySettingsReaders.h"
#include "ProxyText.h"
#include "RegexMatchIterator.h"

using namespace proxytext;

namespace {

uint32_t PortFromInt(int value) { return value > 0 && value <= 65535 ? static_cast<uint32_t>(value) : 0; }

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
