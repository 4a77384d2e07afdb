#include "GUIX_SMClient.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "GUIX_Libraries.h"
#include "Log.h"

namespace {

void iceIoErrorHandler(IceConn) { LogWrite("WARNING: ice_io_error_handler"); }

void onSaveYourself(SmcConn conn, SmPointer, int, Bool, int, Bool) {
    GUIX_Sm()->SmcSaveYourselfDone(conn, True);  // nothing to save
}

GUIX_SMClient::DieHandler s_dieHandler = nullptr;

void onDie(SmcConn conn, SmPointer) {
    GUIX_Sm()->SmcCloseConnection(conn, 0, nullptr);
    if (s_dieHandler) s_dieHandler();
    // _exit: static destructors would tear down objects that other threads
    // are still waiting on; the log is written line by line, so nothing is lost.
    std::fflush(nullptr);
    _exit(0);
}

void onSaveComplete(SmcConn, SmPointer) {}

void onShutdownCancelled(SmcConn conn, SmPointer) { GUIX_Sm()->SmcSaveYourselfDone(conn, False); }

}  // namespace

void GUIX_SMClient::setDieHandler(DieHandler handler) { s_dieHandler = handler; }

GUIX_SMClient::GUIX_SMClient(const char* clientIdText) : m_clientIdText(clientIdText) {
    // Without the libraries (each logged when looked for) the loop only sleeps.
    if (!GUIX_Ice() || !GUIX_Sm()) return;
    GUIX_Ice()->IceSetIOErrorHandler(iceIoErrorHandler);
    SmcCallbacks callbacks{};
    SmPointer data = const_cast<char*>(m_clientIdText);
    callbacks.save_yourself.callback = onSaveYourself;
    callbacks.save_yourself.client_data = data;
    callbacks.die.callback = onDie;
    callbacks.die.client_data = data;
    callbacks.save_complete.callback = onSaveComplete;
    callbacks.save_complete.client_data = data;
    callbacks.shutdown_cancelled.callback = onShutdownCancelled;
    callbacks.shutdown_cancelled.client_data = data;

    char error[4096] = {};
    char* newId = nullptr;
    m_smc = GUIX_Sm()->SmcOpenConnection(
        nullptr, nullptr, SmProtoMajor, SmProtoMinor,
        SmcSaveYourselfProcMask | SmcDieProcMask | SmcSaveCompleteProcMask | SmcShutdownCancelledProcMask,
        &callbacks, nullptr, &newId, sizeof error, error);
    if (!m_smc) {
        const char* address = std::getenv("SESSION_MANAGER");
        LogWrite("Warning: While connecting to session manager: %s", error);
        LogWrite("Warning:         SESSION_MANAGER=%s", address ? address : "");
        return;
    }
    if (newId) {
        m_clientId = newId;
        std::free(newId);
    }
    m_ice = GUIX_Sm()->SmcGetIceConnection(m_smc);
    if (m_ice)
        m_fd = GUIX_Ice()->IceConnectionNumber(m_ice);
    else
        LogWrite("WARNING: Could not open ICE connection");
}

GUIX_SMClient::~GUIX_SMClient() {
    if (m_smc) GUIX_Sm()->SmcCloseConnection(m_smc, 0, nullptr);
}

void GUIX_SMClient::processMessages() {
    if (!m_ice) return;
    if (GUIX_Ice()->IceProcessMessages(m_ice, nullptr, nullptr) == IceProcessMessagesIOError) {
        GUIX_Sm()->SmcCloseConnection(m_smc, 0, nullptr);
        m_smc = nullptr;
        m_ice = nullptr;
        m_fd = -1;  // closed with the connection; never poll a stale descriptor
    }
}
