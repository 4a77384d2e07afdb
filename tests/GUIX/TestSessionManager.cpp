#include "TestSessionManager.h"

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The single client connection (manager thread only).
SmsConn s_client = nullptr;
IceConn s_clientIce = nullptr;

Bool acceptAnyHost(char*) { return True; }

void smsIoError(IceConn) {}

Status registerClient(SmsConn conn, SmPointer data, char* previousId) {
    char* id = SmsGenerateClientID(conn);
    Status ok = SmsRegisterClientReply(conn, id);
    static_cast<TestSessionManager*>(data)->onRegistered(id ? id : "");
    std::free(id);
    std::free(previousId);
    return ok;
}

void interactRequest(SmsConn conn, SmPointer, int) { SmsInteract(conn); }
void interactDone(SmsConn, SmPointer, Bool) {}
void saveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void saveYourselfPhase2Request(SmsConn conn, SmPointer) { SmsSaveYourselfPhase2(conn); }

void saveYourselfDone(SmsConn conn, SmPointer data, Bool success) {
    SmsSaveComplete(conn);
    static_cast<TestSessionManager*>(data)->onSaveDone(success == True);
}

void closeConnection(SmsConn conn, SmPointer data, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    IceConn ice = SmsGetIceConnection(conn);
    SmsCleanUp(conn);
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
    if (conn == s_client) {
        s_client = nullptr;
        s_clientIce = nullptr;
    }
    static_cast<TestSessionManager*>(data)->onClosed();
}

void setProperties(SmsConn, SmPointer, int count, SmProp** props) {
    for (int i = 0; i < count; ++i) SmFreeProperty(props[i]);
    std::free(props);
}

void deleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
}

void getProperties(SmsConn conn, SmPointer) { SmsReturnProperties(conn, 0, nullptr); }

Status newClient(SmsConn conn, SmPointer data, unsigned long* mask, SmsCallbacks* cb, char**) {
    s_client = conn;
    s_clientIce = SmsGetIceConnection(conn);
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    cb->register_client.callback = registerClient;
    cb->register_client.manager_data = data;
    cb->interact_request.callback = interactRequest;
    cb->interact_request.manager_data = data;
    cb->interact_done.callback = interactDone;
    cb->interact_done.manager_data = data;
    cb->save_yourself_request.callback = saveYourselfRequest;
    cb->save_yourself_request.manager_data = data;
    cb->save_yourself_phase2_request.callback = saveYourselfPhase2Request;
    cb->save_yourself_phase2_request.manager_data = data;
    cb->save_yourself_done.callback = saveYourselfDone;
    cb->save_yourself_done.manager_data = data;
    cb->close_connection.callback = closeConnection;
    cb->close_connection.manager_data = data;
    cb->set_properties.callback = setProperties;
    cb->set_properties.manager_data = data;
    cb->delete_properties.callback = deleteProperties;
    cb->delete_properties.manager_data = data;
    cb->get_properties.callback = getProperties;
    cb->get_properties.manager_data = data;
    return 1;
}

}  // namespace

TestSessionManager::TestSessionManager() {
    IceInitThreads();
    char err[256] = {};
    if (!SmsInitialize("guix-test", "1.0", newClient, this, acceptAnyHost, sizeof err, err)) {
        error_ = std::string("SmsInitialize: ") + err;
        return;
    }
    IceSetIOErrorHandler(smsIoError);
    IceListenObj* objs = nullptr;
    if (!IceListenForConnections(&listenCount_, &objs, sizeof err, err) || listenCount_ == 0) {
        error_ = std::string("IceListenForConnections: ") + err;
        return;
    }
    listenObjs_ = objs;
    for (int i = 0; i < listenCount_; ++i) {
        IceSetHostBasedAuthProc(objs[i], acceptAnyHost);
        char* id = IceGetListenConnectionString(objs[i]);
        if (id && (std::strncmp(id, "local/", 6) == 0 || std::strncmp(id, "unix/", 5) == 0)) {
            if (!address_.empty()) address_ += ",";
            address_ += id;
        }
        std::free(id);
    }
    if (address_.empty()) {
        error_ = "no local listener";
        return;
    }
    if (pipe(wakePipe_) != 0) {
        error_ = "pipe failed";
        return;
    }
    fcntl(wakePipe_[0], F_SETFD, FD_CLOEXEC);
    fcntl(wakePipe_[1], F_SETFD, FD_CLOEXEC);
    ok_ = true;
    thread_ = std::thread([this] { loop(); });
}

TestSessionManager::~TestSessionManager() {
    if (thread_.joinable()) {
        stop_ = true;
        command('q');
        thread_.join();
    }
    if (listenObjs_) IceFreeListenObjs(listenCount_, static_cast<IceListenObj*>(listenObjs_));
    if (wakePipe_[0] >= 0) close(wakePipe_[0]);
    if (wakePipe_[1] >= 0) close(wakePipe_[1]);
}

void TestSessionManager::command(char c) {
    if (wakePipe_[1] >= 0) (void)!write(wakePipe_[1], &c, 1);
}

void TestSessionManager::loop() {
    auto* objs = static_cast<IceListenObj*>(listenObjs_);
    while (!stop_) {
        std::vector<pollfd> fds;
        fds.push_back({wakePipe_[0], POLLIN, 0});
        for (int i = 0; i < listenCount_; ++i) fds.push_back({IceGetListenConnectionNumber(objs[i]), POLLIN, 0});
        if (s_clientIce) fds.push_back({IceConnectionNumber(s_clientIce), POLLIN, 0});
        if (poll(fds.data(), fds.size(), 200) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            char c = 0;
            if (read(wakePipe_[0], &c, 1) == 1 && s_client) {
                if (c == 's') SmsSaveYourself(s_client, SmSaveLocal, False, SmInteractStyleNone, False);
                if (c == 'd') SmsDie(s_client);
            }
        }
        for (int i = 0; i < listenCount_; ++i) {
            if (!(fds[static_cast<std::size_t>(i) + 1].revents & POLLIN)) continue;
            IceAcceptStatus status;
            IceConn conn = IceAcceptConnection(objs[i], &status);
            if (!conn) continue;
            // Finish the handshake; the SM protocol setup then calls newClient.
            while (IceConnectionStatus(conn) == IceConnectPending) {
                if (IceProcessMessages(conn, nullptr, nullptr) == IceProcessMessagesIOError) break;
            }
            if (IceConnectionStatus(conn) != IceConnectAccepted) {
                IceSetShutdownNegotiation(conn, False);
                IceCloseConnection(conn);
                continue;
            }
            if (!s_clientIce) s_clientIce = conn;
        }
        if (s_clientIce && fds.size() > static_cast<std::size_t>(listenCount_) + 1 &&
            (fds.back().revents & (POLLIN | POLLHUP | POLLERR))) {
            if (IceProcessMessages(s_clientIce, nullptr, nullptr) == IceProcessMessagesIOError) {
                if (s_client) SmsCleanUp(s_client);
                IceSetShutdownNegotiation(s_clientIce, False);
                IceCloseConnection(s_clientIce);
                s_client = nullptr;
                s_clientIce = nullptr;
                onClosed();
            }
        }
    }
}

template <class P>
bool TestSessionManager::waitFor(int timeoutMs, P pred) {
    std::unique_lock<std::mutex> g(mutex_);
    return cond_.wait_for(g, std::chrono::milliseconds(timeoutMs), pred);
}

bool TestSessionManager::waitRegistered(int timeoutMs) {
    return waitFor(timeoutMs, [&] { return registered_; });
}

std::string TestSessionManager::clientId() {
    std::lock_guard<std::mutex> g(mutex_);
    return clientId_;
}

void TestSessionManager::save() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        savesSeen_ = savesDone_;
    }
    command('s');
}

bool TestSessionManager::waitSaveDone(int timeoutMs, bool* success) {
    bool done = waitFor(timeoutMs, [&] { return savesDone_ > savesSeen_; });
    std::lock_guard<std::mutex> g(mutex_);
    if (success) *success = lastSaveSuccess_;
    return done;
}

void TestSessionManager::die() { command('d'); }

bool TestSessionManager::waitClosed(int timeoutMs) {
    return waitFor(timeoutMs, [&] { return closed_; });
}

void TestSessionManager::onRegistered(const std::string& id) {
    std::lock_guard<std::mutex> g(mutex_);
    registered_ = true;
    clientId_ = id;
    cond_.notify_all();
}

void TestSessionManager::onSaveDone(bool success) {
    std::lock_guard<std::mutex> g(mutex_);
    ++savesDone_;
    lastSaveSuccess_ = success;
    cond_.notify_all();
}

void TestSessionManager::onClosed() {
    std::lock_guard<std::mutex> g(mutex_);
    closed_ = true;
    cond_.notify_all();
}
