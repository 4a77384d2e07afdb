#pragma once
// A small X session manager for tests, built on libSM's server side: it
// listens on local ICE sockets, accepts clients by host-based
// authentication, registers them, and sends save-yourself or die on command.
// All ICE work happens on its own thread; the methods may be called from any
// other thread. Every wait is bounded.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class TestSessionManager {
public:
    TestSessionManager();
    ~TestSessionManager();
    TestSessionManager(const TestSessionManager&) = delete;
    TestSessionManager& operator=(const TestSessionManager&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    // The value for SESSION_MANAGER (local socket ids only).
    const std::string& address() const { return address_; }

    bool waitRegistered(int timeoutMs);
    std::string clientId();
    // Sends SaveYourself (local, no shutdown, no interaction) to the client.
    void save();
    // True when SaveYourselfDone arrived in time; success gets its flag.
    bool waitSaveDone(int timeoutMs, bool* success);
    void die();
    bool waitClosed(int timeoutMs);

    // Called from libSM's callbacks (manager thread).
    void onRegistered(const std::string& id);
    void onSaveDone(bool success);
    void onClosed();

private:
    void loop();
    void command(char c);
    template <class P>
    bool waitFor(int timeoutMs, P pred);

    bool ok_ = false;
    std::string error_;
    std::string address_;
    int wakePipe_[2] = {-1, -1};
    int listenCount_ = 0;
    void* listenObjs_ = nullptr;  // IceListenObj*
    std::thread thread_;
    std::atomic<bool> stop_{false};

    std::mutex mutex_;
    std::condition_variable cond_;
    bool registered_ = false;
    std::string clientId_;
    int savesDone_ = 0;
    bool lastSaveSuccess_ = false;
    bool closed_ = false;
    int savesSeen_ = 0;
};
