#pragma once
// The search for the desktop's proxy: the sources in their fixed order.

#include <cstdint>
#include <string>

#include "ChildProcess.h"
#include "DesktopProxy.h"
#include "ProxySettings.h"

// One discovery, started early so that its two slow sources (the
// gconftool-2 command and the desktop's proxy library, each a process of its
// own) run while the program does other work. Neither is waited for longer
// than 5 seconds from Start.
class ProxyDiscovery {
public:
    ProxyDiscovery() = default;
    ~ProxyDiscovery() { Cancel(); }
    ProxyDiscovery(const ProxyDiscovery&) = delete;
    ProxyDiscovery& operator=(const ProxyDiscovery&) = delete;

    // Starts the slow sources for url; nothing when already started. Both die
    // with the calling thread: call it from one that lives past Finish.
    void Start(const std::string& url);
    // Starts (when not yet started), takes every source in order into
    // settings and logs the one line; as LoadProxySettings.
    bool Finish(const std::string& url, ProxySettings& settings);
    // Ends whatever still runs.
    void Cancel();

private:
    bool Find(ProxyFound& found, const char*& where);

    bool m_started = false;
    std::string m_url;
    std::uint64_t m_deadline = 0;
    ChildProcess m_gconftool;
    int m_gconftoolError = 0;
    DesktopProxyQuery m_desktop;
    bool m_askDesktop = false;
};
