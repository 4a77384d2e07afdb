#pragma once
// A real squid on a free 127.0.0.1 port, for tests that go through a proxy.
//
//   auto proxy = testsupport::SquidProxy::Start(testsupport::SquidAuth::Basic,
//                                               "alice", "secret", "Test Realm");
//   ASSERT_TRUE(proxy) << testsupport::SquidProxy::LastError();
//   ... connect to 127.0.0.1:proxy->port() ...
//
// squid runs in the foreground (-N) from a folder of its own (configuration,
// password file, logs, run folder owned by the user "proxy"), caches nothing,
// writes no PID file and is stopped by PID when the object goes. Start waits,
// bounded, until the port accepts connections. Needs root (squid drops to
// "proxy") and the squid and apache2-utils packages.
//
// To send a CDownload through it, give the process a HOME whose Firefox
// profile names the proxy: WriteFirefoxProxyPrefs(home, "127.0.0.1", port).

#include <memory>
#include <string>

namespace testsupport {

class Process;

enum class SquidAuth {
    None,    // every request allowed
    Basic,   // basic_ncsa_auth over an htpasswd file
    Digest,  // digest_file_auth over a plain "user:password" file
    Ntlm,    // ntlm_fake_auth: any user passes the NTLM handshake
};

class SquidProxy {
public:
    // Null when squid could not be started or did not answer within timeoutMs
    // (LastError() then says why). user/password are ignored for None and Ntlm.
    static std::unique_ptr<SquidProxy> Start(SquidAuth auth, const std::string& user = "",
                                             const std::string& password = "",
                                             const std::string& realm = "Squid proxy", int timeoutMs = 15000);
    static const std::string& LastError();

    ~SquidProxy();  // stops squid (SIGTERM, then SIGKILL) and removes its folder
    SquidProxy(const SquidProxy&) = delete;
    SquidProxy& operator=(const SquidProxy&) = delete;

    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string& dir() const { return dir_; }
    bool running();
    // Contents of squid's access log and cache log (for assertions and failure output).
    std::string AccessLog() const;
    std::string CacheLog() const;

private:
    SquidProxy() = default;
    std::unique_ptr<Process> process_;
    std::string dir_;
    int port_ = 0;
};

// Writes HOME/.mozilla/firefox/test.default/prefs.js with a manual HTTP proxy
// (network.proxy.type 1), the form a desktop's browser profile holds.
bool WriteFirefoxProxyPrefs(const std::string& home, const std::string& host, int port);

}  // namespace testsupport
