#include "SquidProxy.h"

#include <arpa/inet.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "Subprocess.h"
#include "../../CLIB/UniqueFd.h"

namespace testsupport {
namespace {

bool Accepts(int port) {
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    return connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
}

std::string Config(const std::string& dir, int port, SquidAuth auth, const std::string& realm) {
    std::string c = "http_port 127.0.0.1:" + std::to_string(port) +
                    "\npid_filename none\nvisible_hostname squid-test\ncache deny all\ncache_mem 8 MB\n"
                    "max_filedescriptors 1024\ncache_log " +
                    dir + "/logs/cache.log\naccess_log " + dir +
                    "/logs/access.log\ncache_store_log none\ncoredump_dir " + dir +
                    "/run\nnetdb_filename none\npinger_enable off\nicp_port 0\nhtcp_port 0\n"
                    "logfile_rotate 0\nshutdown_lifetime 0 seconds\n";
    const int i = static_cast<int>(auth);
    const char *scheme[] = {"", "basic", "digest", "ntlm"},
               *helper[] = {"", "basic_ncsa", "digest_file", "ntlm_fake"};
    if (auth == SquidAuth::None) return c + "http_access allow all\n";
    const std::string param = std::string("auth_param ") + scheme[i];
    c += param + " program /usr/lib/squid/" + helper[i] + "_auth" +
         (auth == SquidAuth::Ntlm ? "" : " " + dir + "/passwd");
    c += "\n" + param + " children 2\n";
    if (auth != SquidAuth::Ntlm) c += param + " realm " + realm + "\n";
    return c + "acl authed proxy_auth REQUIRED\nhttp_access allow authed\nhttp_access deny all\n";
}

}  // namespace

std::unique_ptr<SquidProxy> SquidProxy::Start(SquidAuth auth, const std::string& user,
                                              const std::string& password, const std::string& realm) {
    std::unique_ptr<SquidProxy> proxy(new SquidProxy());
    // Not a TempDir: the folder must be reachable by the user squid drops to.
    char tmpl[] = "/tmp/sa-squid-XXXXXX";
    if (!mkdtemp(tmpl)) return error_ = "mkdtemp failed", nullptr;
    const std::string dir = proxy->dir_ = tmpl;
    chmod(dir.c_str(), 0755);
    const passwd* pw = getpwnam("proxy");
    for (const std::string& path : {dir + "/logs", dir + "/run"})
        if (!pw || mkdir(path.c_str(), 0755) != 0 || chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
            return error_ = "cannot prepare " + path + " for the user proxy", nullptr;
    if (auth == SquidAuth::Basic) {
        const RunResult r = Run({"htpasswd", "-b", "-c", dir + "/passwd", user, password}, 10000);
        if (r.exitCode != 0) return error_ = "htpasswd failed: " + r.output, nullptr;
        chmod((dir + "/passwd").c_str(), 0644);
    } else if (auth == SquidAuth::Digest) {
        WriteFile(dir + "/passwd", user + ":" + password + "\n", 0644);
    }
    // A port that was free a moment ago may be taken by the time squid binds it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int port = FreeTcpPort();
        WriteFile(dir + "/squid.conf", Config(dir, port, auth, realm), 0644);
        auto process =
            Process::Start({"squid", "-N", "-n", "satest" + std::to_string(port), "-f", dir + "/squid.conf"},
                           {}, dir + "/logs/squid.out");
        if (!process) return error_ = "cannot start squid", nullptr;
        const bool up = WaitFor([&] { return !process->running() || Accepts(port); }, 15000, 10);
        if (up && process->running()) {
            proxy->process_ = std::move(process);
            proxy->port_ = port;
            error_.clear();
            return proxy;
        }
        process->Stop();
        error_ = "squid did not answer on port " + std::to_string(port) + ": " +
                 ReadFile(dir + "/logs/squid.out") + ReadFile(dir + "/logs/cache.log");
        if (!up) break;  // it hung: another try would only wait again
    }
    return nullptr;
}

SquidProxy::~SquidProxy() {
    if (process_) process_->Stop();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::string SquidProxy::AccessLog() const { return ReadFile(dir_ + "/logs/access.log"); }

bool WriteFirefoxProxyPrefs(const std::string& home, const std::string& host, int port) {
    std::error_code ec;
    std::filesystem::create_directories(home + "/.mozilla/firefox/test.default", ec);
    return !ec && WriteFile(home + "/.mozilla/firefox/test.default/prefs.js",
                            "user_pref(\"network.proxy.http\", \"" + host +
                                "\");\nuser_pref(\"network.proxy.http_port\", " + std::to_string(port) +
                                ");\nuser_pref(\"network.proxy.type\", 1);\n");
}

}  // namespace testsupport
