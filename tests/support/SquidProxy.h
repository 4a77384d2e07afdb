#pragma once
// A real squid on a free 127.0.0.1 port from a folder of its own, removed when
// it goes. Needs root (squid drops to "proxy"), squid and apache2-utils.

#include <memory>
#include <string>

namespace testsupport {

class Process;

enum class SquidAuth {
    None,    // every request allowed
    Basic,   // basic_ncsa_auth over an htpasswd file
    Digest,  // digest_file_auth over a plain "user:password" file
    Ntlm,    // ntlm_fake_auth: any login passes the NTLM handshake
};

class SquidProxy {
public:
    // Null when squid did not answer (LastError() says why).
    static std::unique_ptr<SquidProxy> Start(SquidAuth auth, const std::string& user = "",
                                             const std::string& password = "",
                                             const std::string& realm = "Squid proxy");
    static const std::string& LastError() { return error_; }
    ~SquidProxy();

    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string AccessLog() const;

private:
    SquidProxy() = default;
    static inline std::string error_;
    std::unique_ptr<Process> process_;
    std::string dir_;
    int port_ = 0;
};

// HOME's Firefox profile names a manual HTTP proxy, as a desktop's browser holds it.
bool WriteFirefoxProxyPrefs(const std::string& home, const std::string& host, int port);

}  // namespace testsupport
