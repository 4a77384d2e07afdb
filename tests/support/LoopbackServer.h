#pragma once
// A server on 127.0.0.1 that answers as a test says, also as no ordinary
// HTTP server would. Header only.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Subprocess.h"
#include "UniqueFd.h"

namespace testsupport {

inline void SendAll(int fd, const std::string& data) {
    for (ssize_t done = 0, n = 0; done < static_cast<ssize_t>(data.size()); done += n)
        if ((n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL)) <= 0) return;
}

// Each connection on a thread of its own; every request (head and a
// Content-Length body) is kept and handed to answer, which returns false to
// end the connection. Waits are bounded and end when the server goes.
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
        for (int waited = 0; waited < 5000 && !stopping_;) {
            const size_t end = data.find("\r\n\r\n");
            const size_t cl = data.find("Content-Length: ");
            if (end != std::string::npos &&
                data.size() >= end + 4 + (cl < end ? strtoul(data.c_str() + cl + 16, nullptr, 10) : 0))
                return true;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) == 0) {
                waited += 20;
                continue;
            }
            char buf[4096];
            const ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n <= 0) return false;
            data.append(buf, static_cast<size_t>(n));
        }
        return false;
    }
    void Serve(int fd) {
        const UniqueFd owned(fd);
        for (std::string req; Read(fd, req); req.clear()) {
            std::unique_lock<std::mutex> lock(mutex_);
            requests_.push_back(req);
            lock.unlock();
            if (!answer_(fd, req, stopping_)) break;
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

}  // namespace testsupport
