#pragma once
// The proxy a transfer goes through, as found in the desktop's and the
// browsers' settings under HOME, plus the credentials the user typed for it.

#include <cstdint>
#include <string>

#include "CriticalSection.h"

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

    // Looks through the configuration sources in their fixed order; true when
    // a proxy host was found. Credentials are kept.
    bool LoadProxySettings();

    // Type PROXY_NONE, no host, port 0, no credentials.
    void Reset();

    // host := fresh heap copy of text (null text clears the host).
    void SetHost(const char* text);

    // "login:password", or empty when none. Safe from any thread.
    void SetCredentials(const std::string& text);
    std::string GetCredentials() const;

    // Tests only, before any discovery: the command whose output is read as
    // the GNOME settings; null stands for a pipe that cannot be created, so
    // the settings file is read instead.
    static void SetGnomeCommand(const char* command);
    static void RestoreGnomeCommand();

    uint32_t type;
    char* host;     // owned (malloc), null when none; never empty after LoadProxySettings
    uint32_t port;  // 0 = unknown

private:
    void ClearProxy();
    void CopyFrom(const ProxySettings& other);

    mutable CriticalSection lock;  // guards credentials only
    std::string credentials;
    std::string hostText;
};
