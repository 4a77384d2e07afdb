#pragma once
// The readers of the proxy settings sources, each on the whole text of one
// source, and what discovery makes of a reader's result. Discovery is their
// only caller in the product; tests and fuzzers include this header to feed
// them text without a HOME or a gconftool-2.

#include <cstdint>
#include <string>

#include "ProxySettings.h"

// What a reader found; discovery applies it only when the reader succeeded.
struct ProxyFound {
    uint32_t type = PROXY_NONE;
    std::string host;  // as written in the source; empty = none
    uint32_t port = 0;
};

// Each returns true when its source names a proxy setting that ends the
// search (possibly without a host). A line ends at its first NUL byte.
bool ReadGnomeCommandOutput(const std::string& text, ProxyFound& found);  // gconftool-2 -R
bool ReadGconfXml(const std::string& text, ProxyFound& found);            // %gconf.xml
bool ReadMozillaPrefs(const std::string& text, ProxyFound& found);        // prefs.js, preferences.js
bool ReadOperaIni(const std::string& text, ProxyFound& found);            // operaN.ini
bool ReadKioslaverc(const std::string& text, ProxyFound& found);          // kioslaverc

// Type, cleaned host and port into settings (8080, logged, when the port is
// unknown). True only with a host that is not empty.
bool ApplyProxyFound(ProxySettings& settings, const ProxyFound& found);
