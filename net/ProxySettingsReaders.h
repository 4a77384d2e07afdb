#pragma once
// The readers of the proxy settings sources, each on the whole text of one
// source, and what discovery makes of a reader's result. Discovery is their
// only caller in the product; tests and fuzzers include this header to feed
// them text without a HOME or a gconftool-2.

#include <cstdint>
#include <string>

#include "ProxySettings.h"

// What a reader found; discovery applies it only when the reader succeeded
// and the host is usable.
struct ProxyFound {
    uint32_t type = PROXY_NONE;
    std::string host;  // as written in the source; empty = none
    uint32_t port = 0;
    std::string scheme;       // as in ProxySettings: empty for an HTTP proxy, else a SOCKS one
    std::string credentials;  // "login:password" from a proxy URL; never logged
};

// Each returns true when its source names a proxy setting that ends the
// search (possibly without a host). A line ends at its first NUL byte.
bool ReadGnomeCommandOutput(const std::string& text, ProxyFound& found);  // gconftool-2 -R
bool ReadGconfXml(const std::string& text, ProxyFound& found);            // %gconf.xml
bool ReadMozillaPrefs(const std::string& text, ProxyFound& found);        // prefs.js, preferences.js
bool ReadOperaIni(const std::string& text, ProxyFound& found);            // operaN.ini
bool ReadKioslaverc(const std::string& text, ProxyFound& found);          // kioslaverc

// libproxy's answer, one proxy URL a line, best first: true with the first
// that libcurl can use (http, socks4, socks4a, socks5, socks5h), or with no
// host at a "direct://"; other lines are skipped.
bool ReadLibproxyAnswer(const std::string& text, ProxyFound& found);
// The proxy variables as libcurl reads them, for a transfer to url; text has
// one NAME=value a line (http_proxy, https_proxy, HTTPS_PROXY, all_proxy,
// ALL_PROXY, no_proxy, NO_PROXY). True when a proxy applies to url.
bool ReadProxyEnvironment(const std::string& text, const std::string& url, ProxyFound& found);

// Type, cleaned host and port into settings (8080, logged, when the port is
// unknown). True only with a host that is not empty.
bool ApplyProxyFound(ProxySettings& settings, const ProxyFound& found);
