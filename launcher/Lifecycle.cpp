#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "ApplicationSettings.h"
#include "CryptoLibrary.h"
#include "CurlLibrary.h"
#include "Launcher.h"
#include "Log.h"
#include "ParameterBlock.h"
#include "String_Utils_Unix.h"
#include "UserInterface.h"

SessionParametersRecord SessionParameters;
std::string ProxyCredentials;
std::string ClientPath;
bool ClientStarted = false;
bool KeepCopy = false;
MPEventID StopEvent;

LauncherTuning& Tuning() {
    static LauncherTuning tuning;
    return tuning;
}

namespace {

constexpr const char* kVersionText = "ZEL_VERSION=1.1.0.88";
constexpr const char* kBuildId = "20100216100911";

// Signals reach StopEvent through a self-pipe: the handler only writes the
// signal number; a reader thread logs and sets the event. The event may be
// set only while it exists, which g_stopEventAlive tells under its lock.
int g_signalPipe[2] = {-1, -1};
pthread_t g_signalReader;
bool g_signalReaderRunning = false;
std::mutex g_stopEventLock;
bool g_stopEventAlive = false;

void SignalToPipe(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    ssize_t written = write(g_signalPipe[1], &byte, 1);
    (void)written;  // a full pipe already holds a pending signal
    errno = savedErrno;
}

void OnSignal(int signalNumber) {
    // Logged before the event is set, so the line comes before whatever the
    // session thread writes when it wakes.
    const char* name = signalNumber == SIGINT ? "SIGINT" : signalNumber == SIGTERM ? "SIGTERM" : "?";
    LogWrite("Signal handler caught a signal: %s", name);
    std::lock_guard<std::mutex> lock(g_stopEventLock);
    if (g_stopEventAlive) SetEvent(StopEvent);
}

void* SignalReader(void*) {
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = read(g_signalPipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == 0) break;  // 0: asked to stop
        OnSignal(byte);
    }
    return nullptr;
}

void SetStopEventAlive(bool alive) {
    std::lock_guard<std::mutex> lock(g_stopEventLock);
    g_stopEventAlive = alive;
}

// Shows why no session can run, for the usual wait, in place of the session.
void* NoticeThread(void* text) {
    WaitForUserInterface();
    SetStatusText(*static_cast<const UiText*>(text));
    bool signalled = false;
    WaitEventTimer(StopEvent, Tuning().pollWaitMs, signalled);
    CloseUserInterface();
    return nullptr;
}

// The copy keeps itself and asks nothing of the customer, who can run it
// again once the library is installed. The parameter block is not read
// yet: the notice takes the language from its lang item.
void ShowMissingLibrary(UiText text) {
    InstallSignalHandling();
    StartUserInterface();
    SetUserInterfaceLanguage(
        GetParameter(ParameterBlockText(), "lang", '(', ')', ApplicationSettings::Get()->GetDefaultLanguage())
            .c_str());
    RunWithStatusWindow(NoticeThread, &text);
    RemoveSignalHandling();
}

}  // namespace

void InstallSignalHandling() {
    if (g_signalPipe[0] < 0) {
        // Kept open for the life of the process, so a late signal still has
        // somewhere harmless to go; never inherited by programs we start.
        if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            LogWrite("ERROR: Cannot create the signal pipe: %s", std::strerror(errno));
            return;
        }
        // Only the write end must never block; the reader sleeps on its end.
        fcntl(g_signalPipe[0], F_SETFL, fcntl(g_signalPipe[0], F_GETFL) & ~O_NONBLOCK);
    }
    if (!g_signalReaderRunning) {
        const int error = pthread_create(&g_signalReader, nullptr, SignalReader, nullptr);
        if (error != 0) {
            LogWrite("ERROR: Cannot start the signal thread: %s", std::strerror(error));
        } else {
            g_signalReaderRunning = true;
        }
    }
    struct sigaction action {};
    action.sa_handler = SignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void RemoveSignalHandling() {
    // The handlers stay: a signal during the last steps of the process must
    // not end it with anything but status 0. Only the reader goes.
    if (!g_signalReaderRunning) return;
    // The write end never blocks (the handler writes into it), so a pipe
    // full of pending signals refuses the stop byte: wait for the room the
    // reader makes. The signals before the stop are still logged.
    const unsigned char stop = 0;
    for (;;) {
        if (write(g_signalPipe[1], &stop, 1) == 1) break;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            LogWrite("ERROR: Cannot stop the signal thread: %s", std::strerror(errno));
            return;
        }
        pollfd room{g_signalPipe[1], POLLOUT, 0};
        poll(&room, 1, 100);
    }
    pthread_join(g_signalReader, nullptr);
    g_signalReaderRunning = false;
}

void RunSession(ProxyDiscovery* proxy) { RunWithStatusWindow(SessionThread, proxy); }

void RunWithStatusWindow(void* (*body)(void*), void* argument) {
    CreateEvent(StopEvent);
    SetStopEventAlive(true);
    pthread_t sessionThread;
    const int error = pthread_create(&sessionThread, nullptr, body, argument);
    if (error != 0) {
        LogWrite("ERROR: Cannot start the session thread: %s", std::strerror(error));
        CloseUserInterface();
    } else {
        ShowStatusWindow();
        SetEvent(StopEvent);
        pthread_join(sessionThread, nullptr);
    }
    SetStopEventAlive(false);
    DestroyEvent(StopEvent);
}

int LauncherMain(const char* launcherPath) {
    SessionParameters = SessionParametersRecord{};
    ProxyCredentials.clear();
    ClientPath.clear();
    ClientStarted = false;
    KeepCopy = false;

    // The log is enciphered with libcrypto: without it only stderr and the
    // status window can tell.
    if (!CryptoLibrary()) {
        const UiText text = Text(TextId::LIBCRYPTO_MISSING, {Verbatim(CryptoLibraryProblem())});
        std::fprintf(stderr, "%s\n", English(text).c_str());
        ShowMissingLibrary(text);
        return 0;
    }

    const Customization* settings = ApplicationSettings::Get();
    const std::string logName = settings->GetExeLogName();
    LogInit(logName.c_str(), true, true);
    LogWrite("--->");
    LogWrite("Session Assignment %s buildId=%s", kVersionText, kBuildId);
    LogWrite("buffer=[%s]", ParameterBlockText().c_str());
    RemoveLeftClients();

    // Checked before the code is asked for: a session that cannot run shows no code window.
    if (!CurlLibrary()) {
        const UiText text = Text(TextId::LIBCURL_MISSING, {Verbatim(CurlLibraryProblem())});
        LogWrite("%s", English(text).c_str());
        ShowMissingLibrary(text);
        LogWrite("<---");
        return 0;
    }
    LogWrite("libcurl: %s", CurlLibraryName().c_str());  // the flavour this desktop has

    InstallSignalHandling();
    StartUserInterface();
    if (!ParseParameterBlock()) {
        // The service has to mend the copy: nothing is asked, nothing polled.
        KeepCopy = true;
        UiText text = Text(TextId::CANNOT_VERIFY_SERVER);
        RunWithStatusWindow(NoticeThread, &text);
    } else if (SessionEnabled() != 0) {
        // The slow proxy sources start now, while the status window opens; the
        // session thread takes their result. Started here, on the main thread:
        // the desktop's proxy helper lives no longer than the thread that made it.
        ProxyDiscovery proxy;
        proxy.Start(SessionPageUrl());
        RunSession(&proxy);  // the session thread starts the client and closes the user interface
    } else {
        LogWrite("No session code inserted.");
        CloseUserInterface();
    }

    // Only now: a client that did not start keeps the copy (KeepCopy).
    RemoveSelf(launcherPath ? launcherPath : "");
    LogWrite("<---");
    RemoveSignalHandling();
    return 0;
}
