#pragma once
// A small X session manager for tests on libSM's server side: it listens on local ICE
// sockets, accepts any local client, registers it, and sends save-yourself or die on
// command. All ICE work runs on its own thread; every wait is bounded.

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TestSessionManager {
public:
    TestSessionManager() {
        IceInitThreads();
        char err[256] = {};
        if (!SmsInitialize("guix-test", "1.0", NewClient, this, AcceptAnyHost, sizeof err, err) ||
            !IceListenForConnections(&listenCount_, &listen_, sizeof err, err) || listenCount_ == 0 ||
            pipe2(wakePipe_, O_CLOEXEC) != 0) {
            error_ = std::string("ICE/SM set-up failed: ") + err;
            return;
        }
        IceSetIOErrorHandler([](IceConn) {});
        for (int i = 0; i < listenCount_; ++i) IceSetHostBasedAuthProc(listen_[i], AcceptAnyHost);
        char* ids = IceComposeNetworkIdList(listenCount_, listen_);  // local socket first
        address_ = ids ? ids : "";
        std::free(ids);
        thread_ = std::thread([this] { loop(); });
    }
    ~TestSessionManager() {
        if (thread_.joinable()) command('q'), thread_.join();
        if (listen_) IceFreeListenObjs(listenCount_, listen_);
        for (int fd : wakePipe_)
            if (fd >= 0) close(fd);
    }

    bool ok() const { return thread_.joinable(); }
    const std::string& error() const { return error_; }
    const std::string& address() const { return address_; }  // for SESSION_MANAGER

    void save() { command('s'); }  // SaveYourself: local, no shutdown, no interaction
    void die() { command('d'); }
    bool waitRegistered(int ms) {
        return waitFor(ms, [&] { return registered_; });
    }
    // True once count saves were done in time, all of them with success.
    bool waitSaved(int count, int ms) {
        return waitFor(ms, [&] { return saves_ >= count; }) && failedSaves_ == 0;
    }
    bool waitClosed(int ms) {
        return waitFor(ms, [&] { return closed_; });
    }

private:
    static Bool AcceptAnyHost(char*) { return True; }

    // The toolkit's client only registers, answers save-yourself and closes; libSM calls no
    // other callback for it. Callbacks run on the manager thread.
    static Status NewClient(SmsConn conn, SmPointer data, unsigned long* mask, SmsCallbacks* cb, char**) {
        auto* sm = static_cast<TestSessionManager*>(data);
        sm->client_ = conn;
        *mask = SmsRegisterClientProcMask | SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask;
        *cb = SmsCallbacks{};
        cb->register_client = {
            [](SmsConn c, SmPointer d, char* previousId) -> Status {
                char* id = SmsGenerateClientID(c);
                Status ok = SmsRegisterClientReply(c, id);
                std::free(id);
                std::free(previousId);
                static_cast<TestSessionManager*>(d)->update([](auto* sm) { sm->registered_ = true; });
                return ok;
            },
            data};
        cb->save_yourself_done = {[](SmsConn c, SmPointer d, Bool success) {
                                      SmsSaveComplete(c);
                                      static_cast<TestSessionManager*>(d)->update([&](auto* sm) {
                                          ++sm->saves_;
                                          sm->failedSaves_ += success != True;
                                      });
                                  },
                                  data};
        cb->close_connection = {[](SmsConn, SmPointer d, int count, char** reasons) {
                                    SmFreeReasons(count, reasons);
                                    static_cast<TestSessionManager*>(d)->dropClient();
                                },
                                data};
        return 1;
    }

    template <class F>
    void update(F change) {
        std::lock_guard<std::mutex> g(mutex_);
        change(this);
        cond_.notify_all();
    }
    template <class P>
    bool waitFor(int ms, P pred) {
        std::unique_lock<std::mutex> g(mutex_);
        return cond_.wait_for(g, std::chrono::milliseconds(ms), pred);
    }
    void command(char c) { (void)!write(wakePipe_[1], &c, 1); }
    void dropClient() {
        if (client_) SmsCleanUp(client_);
        if (clientIce_) {
            IceSetShutdownNegotiation(clientIce_, False);
            IceCloseConnection(clientIce_);
        }
        client_ = nullptr;
        clientIce_ = nullptr;
        update([](auto* sm) { sm->closed_ = true; });
    }

    void loop() {
        for (;;) {
            std::vector<pollfd> fds{{wakePipe_[0], POLLIN, 0}};
            for (int i = 0; i < listenCount_; ++i)
                fds.push_back({IceGetListenConnectionNumber(listen_[i]), POLLIN, 0});
            if (clientIce_) fds.push_back({IceConnectionNumber(clientIce_), POLLIN, 0});
            if (poll(fds.data(), fds.size(), 200) <= 0) continue;
            char c = 0;
            if ((fds[0].revents & POLLIN) && read(wakePipe_[0], &c, 1) == 1) {
                if (c == 'q') {
                    if (clientIce_) dropClient();  // a client still connected is released too
                    return;
                }
                if (c == 's' && client_)
                    SmsSaveYourself(client_, SmSaveLocal, False, SmInteractStyleNone, False);
                if (c == 'd' && client_) SmsDie(client_);
            }
            for (int i = 0; i < listenCount_; ++i) {
                IceAcceptStatus status;
                IceConn conn = (fds[std::size_t(i) + 1].revents & POLLIN)
                                   ? IceAcceptConnection(listen_[i], &status)
                                   : nullptr;
                // Finish the ICE handshake; the client's SM protocol set-up then calls NewClient.
                while (conn && IceConnectionStatus(conn) == IceConnectPending &&
                       IceProcessMessages(conn, nullptr, nullptr) != IceProcessMessagesIOError) {}
                if (conn && IceConnectionStatus(conn) != IceConnectAccepted) {
                    IceSetShutdownNegotiation(conn, False);
                    IceCloseConnection(conn);
                } else if (conn && !clientIce_) {
                    clientIce_ = conn;
                }
            }
            if (fds.size() > std::size_t(listenCount_) + 1 &&
                (fds.back().revents & (POLLIN | POLLHUP | POLLERR)) &&
                IceProcessMessages(clientIce_, nullptr, nullptr) == IceProcessMessagesIOError)
                dropClient();
        }
    }

    std::string error_, address_;
    int wakePipe_[2] = {-1, -1};
    int listenCount_ = 0;
    IceListenObj* listen_ = nullptr;
    std::thread thread_;
    SmsConn client_ = nullptr;  // the single client; manager thread only
    IceConn clientIce_ = nullptr;
    std::mutex mutex_;
    std::condition_variable cond_;
    bool registered_ = false, closed_ = false;
    int saves_ = 0, failedSaves_ = 0;
};
