#pragma once
// The proxy a transfer goes through, as found in the desktop's and the
// browsers' settings under HOME, plus the credentials the user typed for it.

#include <cstdint>
#include <string>

#include "CriticalSection.h"

struct ProxyFound;

enum : uint32_t {
    PROXY_NONE = 0,
    PROXY_SOCKS = 1,  // a Mozilla-family profile names a SOCKS version
    PROXY_HTTP = 2,
};

class ProxySettings {
public:
    ProxySettings();
    ~ProxySettings();
    // Copies carry type, host, port and credentials (the latter read under
    // the source's lock).
    ProxySettings(const ProxySettings& other);
    ProxySettings& operator=(const ProxySettings& other);

    // Looks through the configuration sources in their fixed order for the
    // proxy of url (the first that names a usable host wins) and logs what it
    // found where, in one line; true when a proxy host was found. Credentials
    // are kept unless the proxy's own URL carries some.
    bool LoadProxySettings(const std::string& url);

    // Type PROXY_NONE, no host, port 0, no credentials.
    void Reset();

    // host := fresh heap copy of text (null text clears the host).
    void SetHost(const char* text);

    // "login:password", or empty when none. Safe from any thread.
    void SetCredentials(const std::string& text);
    std::string GetCredentials() const;

    uint32_t type;
    char* host;     // owned (malloc), null when none; never empty after LoadProxySettings
    uint32_t port;  // 0 = unknown
    // Empty for an HTTP proxy; "socks4", "socks4a", "socks5" or "socks5h",
    // handed to libcurl as the proxy's scheme.
    std::string scheme;

private:
    friend class ProxyDiscovery;
    void ClearProxy();
    void CopyFrom(const ProxySettings& other);

    mutable CriticalSection lock;  // guards credentials only
    std::string credentials;
    std::string hostText;
};
