#include "SquidProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "Subprocess.h"

namespace testsupport {
namespace {

const char kHelperDir[] = "/usr/lib/squid";

std::string& ErrorText() {
    static std::string text;
    return text;
}

bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

bool ChownToProxy(const std::string& path) {
    const passwd* pw = getpwnam("proxy");
    if (!pw) return false;
    return chown(path.c_str(), pw->pw_uid, pw->pw_gid) == 0;
}

std::string Config(const std::string& dir, int port, SquidAuth auth, const std::string& realm) {
    std::ostringstream c;
    c << "http_port 127.0.0.1:" << port << "\n"
      << "pid_filename none\n"
      << "visible_hostname squid-test\n"
      << "cache deny all\n"
      << "cache_mem 8 MB\n"
      << "max_filedescriptors 1024\n"
      << "cache_log " << dir << "/logs/cache.log\n"
      << "access_log " << dir << "/logs/access.log\n"
      << "cache_store_log none\n"
      << "coredump_dir " << dir << "/run\n"
      << "netdb_filename none\n"
      << "pinger_enable off\n"
      << "icp_port 0\n"
      << "htcp_port 0\n"
      << "logfile_rotate 0\n"
      << "shutdown_lifetime 0 seconds\n";
    switch (auth) {
    case SquidAuth::None: break;
    case SquidAuth::Basic:
        c << "auth_param basic program " << kHelperDir << "/basic_ncsa_auth " << dir << "/passwd\n"
          << "auth_param basic children 2\n"
          << "auth_param basic realm " << realm << "\n";
        break;
    case SquidAuth::Digest:
        c << "auth_param digest program " << kHelperDir << "/digest_file_auth " << dir << "/passwd\n"
          << "auth_param digest children 2\n"
          << "auth_param digest realm " << realm << "\n";
        break;
    case SquidAuth::Ntlm:
        c << "auth_param ntlm program " << kHelperDir << "/ntlm_fake_auth\n"
          << "auth_param ntlm children 2\n";
        break;
    }
    if (auth == SquidAuth::None) {
        c << "http_access allow all\n";
    } else {
        c << "acl authed proxy_auth REQUIRED\n"
          << "http_access allow authed\n"
          << "http_access deny all\n";
    }
    return c.str();
}

}  // namespace

const std::string& SquidProxy::LastError() { return ErrorText(); }

std::unique_ptr<SquidProxy> SquidProxy::Start(SquidAuth auth, const std::string& user,
                                              const std::string& password, const std::string& realm,
                                              int timeoutMs) {
    ErrorText().clear();
    std::unique_ptr<SquidProxy> proxy(new SquidProxy());

    // Not a TempDir: the folder must be reachable by the user squid drops to.
    char tmpl[] = "/tmp/sa-squid-XXXXXX";
    if (!mkdtemp(tmpl)) {
        ErrorText() = "mkdtemp failed";
        return nullptr;
    }
    proxy->dir_ = tmpl;
    const std::string& dir = proxy->dir_;
    chmod(dir.c_str(), 0755);
    for (const char* sub : {"/logs", "/run"}) {
        const std::string path = dir + sub;
        if (mkdir(path.c_str(), 0755) != 0 || !ChownToProxy(path)) {
            ErrorText() = "cannot prepare " + path + " for the user proxy";
            return nullptr;
        }
    }

    const std::string passwd = dir + "/passwd";
    if (auth == SquidAuth::Basic) {
        RunResult r = Run({"htpasswd", "-b", "-c", passwd, user, password}, 10000);
        if (r.exitCode != 0) {
            ErrorText() = "htpasswd failed: " + r.output;
            return nullptr;
        }
        chmod(passwd.c_str(), 0644);
    } else if (auth == SquidAuth::Digest) {
        if (!WriteFile(passwd, user + ":" + password + "\n", 0644)) {
            ErrorText() = "cannot write " + passwd;
            return nullptr;
        }
    }

    // A port that was free a moment ago may be taken by the time squid binds it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int port = FreeTcpPort();
        if (port <= 0) continue;
        const std::string conf = dir + "/squid.conf";
        if (!WriteFile(conf, Config(dir, port, auth, realm), 0644)) {
            ErrorText() = "cannot write " + conf;
            return nullptr;
        }
        auto process = Process::Start({"squid", "-N", "-n", "satest" + std::to_string(port), "-f", conf}, {},
                                      dir + "/logs/squid.out");
        if (!process) {
            ErrorText() = "cannot start squid";
            return nullptr;
        }
        const bool up = WaitFor([&] { return !process->running() || Accepts(port); }, timeoutMs, 10);
        if (up && process->running()) {
            proxy->process_ = std::move(process);
            proxy->port_ = port;
            return proxy;
        }
        process->Stop();
        ErrorText() = "squid did not answer on port " + std::to_string(port) + ": " +
                      ReadFile(dir + "/logs/squid.out") + ReadFile(dir + "/logs/cache.log");
        if (!up) break;  // it hung: another try would only wait again
    }
    return nullptr;
}

SquidProxy::~SquidProxy() {
    if (process_) process_->Stop();
    process_.reset();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool SquidProxy::running() { return process_ && process_->running(); }

std::string SquidProxy::AccessLog() const { return ReadFile(dir_ + "/logs/access.log"); }

std::string SquidProxy::CacheLog() const { return ReadFile(dir_ + "/logs/cache.log"); }

bool WriteFirefoxProxyPrefs(const std::string& home, const std::string& host, int port) {
    std::error_code ec;
    const std::string profile = home + "/.mozilla/firefox/test.default";
    std::filesystem::create_directories(profile, ec);
    if (ec) return false;
    std::ostringstream prefs;
    prefs << "user_pref(\"network.proxy.http\", \"" << host << "\");\n"
          << "user_pref(\"network.proxy.http_port\", " << port << ");\n"
          << "user_pref(\"network.proxy.type\", 1);\n";
    return WriteFile(profile + "/prefs.js", prefs.str());
}

}  // namespace testsupport
