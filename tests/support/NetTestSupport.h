#pragma once
// For the network tests: a private HOME and a loopback server that answers as
// a test says. Header only: its users link net, the support library does not.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "UniqueFd.h"

namespace testsupport {

class ProxyHome {
public:
    ProxyHome() {
        for (const char* name : {"HOME", "PATH", "XDG_CONFIG_HOME", "http_proxy", "HTTP_PROXY", "https_proxy",
                                 "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY",
                                 "GSETTINGS_BACKEND", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION"}) {
            const char* v = getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            if (std::string(name) != "PATH") unsetenv(name);
        }
        setenv("HOME", dir_.path().c_str(), 1);
        LogInit("proxy-test.log", false, true);
    }
    ~ProxyHome() {
        LogInit("", false, false);
        for (const auto& [name, value] : saved_) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    const std::string& path() const { return dir_.path(); }

    void Put(const std::string& relative, const std::string& content, int mode = 0644) const {
        std::filesystem::create_directories(std::filesystem::path(dir_ / relative).parent_path());
        WriteFile(dir_ / relative, content, mode);
    }
    static std::string Fixture(const std::string& name) {
        std::string text = ReadFile(std::string(SA_FIXTURES_DIR) + "/" + name);
        if (name.find(".b64") != std::string::npos) text.erase(text.find_last_not_of("\r\n") + 1);
        return text;
    }
    std::string Log() const { return ReadFile(dir_ / "ZEL/proxy-test.log"); }
    // What the last discovery found, as its one line says.
    std::string Found() const {
        const std::string log = Log();
        const size_t line = log.rfind(" Proxy: ");
        return line == std::string::npos ? "" : log.substr(line + 8, log.find('\r', line) - line - 8);
    }

private:
    TempDir dir_{"sa-home"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

inline void SendAll(int fd, const std::string& data) {
    for (ssize_t done = 0, n = 0; done < static_cast<ssize_t>(data.size()); done += n)
        if ((n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL)) <= 0) return;
}

// Every request (head and a Content-Length body) is kept and handed to answer,
// which returns false to end the connection; waits end when the server goes.
class RawServer {
public:
    using Answer = std::function<bool(int fd, const std::string& request, const std::atomic<bool>& stopping)>;

    explicit RawServer(Answer answer) : answer_(std::move(answer)) {
        sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof(addr);
        if (bind(listen_.get(), reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
            listen(listen_.get(), 16) == 0 &&
            getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            for (pollfd p{listen_.get(), POLLIN, 0}; !stopping_;) {
                const int fd =
                    poll(&p, 1, 20) > 0 ? accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC) : -1;
                if (fd >= 0) workers_.emplace_back([this, fd] { Serve(fd); });
            }
        });
    }
    ~RawServer() {
        stopping_ = true;
        thread_.join();
        for (auto& t : workers_) t.join();
    }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    bool Read(int fd, std::string& data) {
        for (int waited = 0; waited < 5000 && !stopping_; waited += 20) {
            const size_t end = data.find("\r\n\r\n"), length = data.find("Content-Length: ");
            if (end != std::string::npos &&
                data.size() >= end + 4 + (length < end ? strtoul(&data[length + 16], nullptr, 10) : 0))
                return true;
            pollfd p{fd, POLLIN, 0};
            char buf[4096];
            const ssize_t n = poll(&p, 1, 20) > 0 ? recv(fd, buf, sizeof(buf), 0) : -2;
            if (n == -1 || n == 0) return false;
            if (n > 0) data.append(buf, static_cast<size_t>(n));
        }
        return false;
    }
    void Serve(int fd) {
        const UniqueFd owned(fd);
        for (std::string request; Read(fd, request); request.clear()) {
            std::unique_lock<std::mutex> lock(mutex_);
            requests_.push_back(request);
            lock.unlock();
            if (!answer_(fd, request, stopping_)) break;
        }
    }

    Answer answer_;
    UniqueFd listen_{socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

// A proxy that answers CONNECT itself and relays tunnel n (0 for the first)
// to the port route(n) names: the server asked for, or another one. With
// resetAtAnswer the first application record the server sends back (TLS 1.2:
// its answer) is replaced by a reset of the client's connection.
class TunnelProxy {
public:
    struct Route {
        int port;
        bool resetAtAnswer = false;
    };
    explicit TunnelProxy(std::function<Route(int tunnel)> route)
        : server_([this, route](int fd, const std::string&, const std::atomic<bool>& stopping) {
              const Route to = route(tunnels_++);
              sockaddr_in addr{AF_INET, htons(static_cast<uint16_t>(to.port)), {htonl(INADDR_LOOPBACK)}, {}};
              const UniqueFd server(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
              if (connect(server.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
              SendAll(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
              Relay(fd, server.get(), to.resetAtAnswer, stopping);
              return false;
          }) {}
    int port() const { return server_.port(); }
    int tunnels() const { return tunnels_; }

private:
    static void Relay(int client, int server, bool resetAtAnswer, const std::atomic<bool>& stopping) {
        std::string fromServer;  // whole TLS records are passed on
        for (pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}}; !stopping;) {
            if (poll(p, 2, 20) <= 0) continue;
            char buf[16384];
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = recv(p[i].fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                if (i == 0 || !resetAtAnswer) {
                    SendAll(p[1 - i].fd, std::string(buf, static_cast<size_t>(n)));
                    continue;
                }
                fromServer.append(buf, static_cast<size_t>(n));
                while (fromServer.size() >= 5) {
                    if (fromServer[0] == 23) {
                        const linger reset{1, 0};
                        setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                        return;
                    }
                    const size_t record = 5 + (static_cast<unsigned char>(fromServer[3]) << 8 |
                                               static_cast<unsigned char>(fromServer[4]));
                    if (fromServer.size() < record) break;
                    SendAll(client, fromServer.substr(0, record));
                    fromServer.erase(0, record);
                }
            }
        }
    }

    std::atomic<int> tunnels_{0};
    RawServer server_;
};

}  // namespace testsupport
