#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "ProxySettingsReaders.h"
#include "ProxyText.h"

using namespace proxytext;

namespace {

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
