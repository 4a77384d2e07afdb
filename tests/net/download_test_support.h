#pragma once
// Loopback servers for the transfer client tests: cpp-httplib for ordinary
// answers, a raw TCP server for those no ordinary server gives.

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Subprocess.h"
#include "proxy_test_home.h"

namespace dltest {

inline std::string Str(const std::vector<char>& v) { return std::string(v.begin(), v.end()); }

// cpp-httplib on a free loopback port, served from its own thread.
class HttpServer {
public:
    explicit HttpServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>())
        : server_(std::move(server)) {}
    ~HttpServer() {
        server_->stop();
        if (thread_.joinable()) thread_.join();
    }
    httplib::Server* operator->() { return server_.get(); }
    void Start() {
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        ASSERT_TRUE(testsupport::WaitFor([this] { return server_->is_running(); }, 5000));
    }
    std::string url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

// An HTTPS server with a fresh self-signed certificate for another host name.
inline std::unique_ptr<httplib::SSLServer> SelfSignedServer(const std::string& dir) {
    const auto gen = testsupport::Run(
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir + "/key.pem", "-out",
         dir + "/cert.pem", "-days", "2", "-subj", "/CN=support.example.test"},
        30000);
    EXPECT_EQ(gen.exitCode, 0) << gen.output;
    return std::make_unique<httplib::SSLServer>((dir + "/cert.pem").c_str(), (dir + "/key.pem").c_str());
}

inline std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// One request (headers and a Content-Length body); nullopt when the peer
// closed or nothing complete came within five seconds.
inline std::optional<std::string> ReadRequest(int fd, const std::atomic<bool>& stopping) {
    std::string data;
    for (int waited = 0; waited < 5000 && !stopping;) {
        const size_t end = data.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::string head = Lower(data.substr(0, end));
            const size_t cl = head.find("\r\ncontent-length:");
            if (data.size() >=
                end + 4 + (cl == std::string::npos ? 0 : strtoul(head.c_str() + cl + 17, nullptr, 10)))
                return data;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) == 0) {
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
    for (ssize_t done = 0, n = 0; done < static_cast<ssize_t>(data.size()); done += n) {
        if ((n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL)) <= 0) return;
    }
}

// A TCP server on 127.0.0.1 for answers no ordinary HTTP server gives: each
// connection on its own thread, each request kept and handed to answer(),
// which returns false to end the connection.
class RawServer {
public:
    using Answer = std::function<bool(int fd, const std::string& request, const std::atomic<bool>& stopping)>;

    explicit RawServer(Answer answer) : answer_(std::move(answer)) {
        sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof(addr);
        if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(listenFd_, 16) == 0 &&
            getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port_ = ntohs(addr.sin_port);
        }
        thread_ = std::thread([this] {
            for (pollfd p{listenFd_, POLLIN, 0}; !stopping_;) {
                const int fd = poll(&p, 1, 20) > 0 ? accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
                if (fd >= 0) workers_.emplace_back([this, fd] { Serve(fd); });
            }
        });
    }
    ~RawServer() {
        stopping_ = true;
        thread_.join();
        for (auto& t : workers_) t.join();
        close(listenFd_);
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
    void Serve(int fd) {
        while (auto req = ReadRequest(fd, stopping_)) {
            std::unique_lock<std::mutex> lock(mutex_);
            requests_.push_back(*req);
            lock.unlock();
            if (!answer_(fd, *req, stopping_)) break;
        }
        close(fd);
    }

    Answer answer_;
    int listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

// The same bytes for every request.
inline RawServer::Answer Reply(std::string response) {
    return [response](int fd, const std::string&, const std::atomic<bool>&) {
        SendAll(fd, response);
        return true;
    };
}

inline std::string HeaderValue(const std::string& request, const std::string& name) {
    const size_t at = Lower(request).find("\r\n" + Lower(name) + ":");
    if (at == std::string::npos) return "";
    size_t start = at + name.size() + 3;
    while (start < request.size() && request[start] == ' ') ++start;
    return request.substr(start, request.find("\r\n", start) - start);
}

}  // namespace dltest
