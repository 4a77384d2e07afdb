#pragma once
// Small loopback servers and environment guards for the transfer client tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace dltest {

// A TCP server on 127.0.0.1 that hands every accepted connection to a handler
// on its own thread, for answers no ordinary HTTP server gives (broken
// connections, silence, hand-written proxies).
class RawServer {
public:
    using Handler = std::function<void(int fd, const std::atomic<bool>& stopping)>;

    explicit RawServer(Handler handler) : handler_(std::move(handler)) {
        listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(listenFd_, 16) == 0 &&
            getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port_ = ntohs(addr.sin_port);
        }
        thread_ = std::thread([this] { AcceptLoop(); });
    }

    ~RawServer() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        for (auto& t : workers_) t.join();
        close(listenFd_);
    }

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int connections() const { return connections_; }

private:
    void AcceptLoop() {
        while (!stopping_) {
            pollfd p{listenFd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            workers_.emplace_back([this, fd] {
                handler_(fd, stopping_);
                close(fd);
            });
        }
    }

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::vector<std::thread> workers_;
};

// Reads one request (headers and a Content-Length body); nullopt when the
// peer closed or nothing complete came within timeoutMs.
inline std::optional<std::string> ReadRequest(int fd, const std::atomic<bool>& stopping, int timeoutMs = 5000) {
    std::string data;
    size_t need = std::string::npos;
    for (int waited = 0; waited < timeoutMs && !stopping;) {
        const size_t end = data.find("\r\n\r\n");
        if (end != std::string::npos && need == std::string::npos) {
            size_t body = 0;
            std::string lower = data.substr(0, end);
            for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            const size_t cl = lower.find("\r\ncontent-length:");
            if (cl != std::string::npos) body = strtoul(lower.c_str() + cl + 17, nullptr, 10);
            need = end + 4 + body;
        }
        if (need != std::string::npos && data.size() >= need) return data;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, 20);
        if (r == 0) {
            waited += 20;
            continue;
        }
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) return std::nullopt;
        data.append(buf, static_cast<size_t>(n));
    }
    return std::nullopt;
}

inline void SendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Closes with a reset instead of an orderly end.
inline void ResetConnection(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
}

inline std::string HeaderValue(const std::string& request, const std::string& name) {
    std::string lowerReq = request;
    std::string lowerName = "\r\n" + name + ":";
    for (char& c : lowerReq) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (char& c : lowerName) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const size_t at = lowerReq.find(lowerName);
    if (at == std::string::npos) return "";
    size_t start = at + lowerName.size();
    while (start < request.size() && request[start] == ' ') ++start;
    return request.substr(start, request.find("\r\n", start) - start);
}

// Points HOME (and optionally other variables) somewhere else for the
// lifetime of the object, so proxy discovery sees only what the test wrote.
class ScopedEnv {
public:
    void Set(const std::string& name, const std::string& value) {
        Remember(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Remember(name);
        unsetenv(name.c_str());
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }

private:
    void Remember(const std::string& name) {
        const char* v = getenv(name.c_str());
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A private HOME with no proxy settings and no proxy variables; the log goes
// to HOME/ZEL/<name> in plain form so tests can read it.
class TestHome {
public:
    TestHome() {
        env_.Set("HOME", dir_.path());
        for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy",
                              "no_proxy", "NO_PROXY"}) {
            env_.Unset(v);
        }
        LogInit(kLogName, false, true);
    }
    ~TestHome() { LogInit("", false, false); }
    const std::string& path() const { return dir_.path(); }
    std::string Log() const { return testsupport::ReadFile(dir_.path() + "/ZEL/" + kLogName); }
    ScopedEnv& env() { return env_; }

private:
    static constexpr const char* kLogName = "download-test.log";
    testsupport::TempDir dir_{"sa-download"};
    ScopedEnv env_;
};

}  // namespace dltest
