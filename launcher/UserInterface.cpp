// The real user interface: the toolkit loop on its own thread and the three
// windows, made once on first use and reused. Without a display, or once the
// display is lost, everything goes to the headless implementation, so a copy
// that carries its code still runs its session to its end.

#include "UserInterface.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "Catalog.h"
#include "GUIX_Application.h"
#include "GUIX_SMClient.h"
#include "HeadlessUserInterface.h"
#include "Log.h"
#include "ProxyAuthenticationWindow.h"
#include "SessionCodeWindow.h"
#include "SessionManager.h"
#include "StatusWindow.h"
#include "Utf8.h"

namespace {

enum class Mode { kNotStarted, kWindows, kHeadless };

std::atomic<Mode> g_mode{Mode::kNotStarted};
std::mutex g_startMutex;

// The GUI thread; joined once, by whoever ends the interface first.
std::mutex g_threadMutex;
pthread_t g_guiThread;
bool g_guiThreadJoinable = false;

// The windows' words; null: English.
std::atomic<const Catalog*> g_catalog{nullptr};

// Set by CloseUserInterface: the status window is not shown again.
std::atomic<bool> g_closed{false};

// The windows, made on first use. They are destroyed by the exit handler,
// before the application object (and with it the display) goes away.
std::mutex g_windowsMutex;
std::unique_ptr<StatusWindow> g_statusWindow;
std::unique_ptr<SessionCodeWindow> g_codeWindow;
std::unique_ptr<ProxyAuthenticationWindow> g_proxyWindow;

// The window, made on the GUI thread on first use (windows talk to the X
// server, which only the GUI thread does). Null when it was never made and
// the loop has ended.
template <class W>
W* Window(std::unique_ptr<W>& slot) {
    GUIX_Application::instance().invoke([&slot] {
        std::lock_guard<std::mutex> lock(g_windowsMutex);
        if (!slot) slot = std::make_unique<W>(g_catalog.load());
    });
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    return slot.get();
}

// Copies text into a caller's buffer of size bytes, cut to fit between two
// characters, terminated.
void CopyToBuffer(char* buffer, std::size_t size, const std::string& text) {
    if (buffer == nullptr || size == 0) return;
    const std::size_t n = Utf8PrefixLength(text, size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

void* GuiThreadBody(void*) {
    GUIX_Application::instance().run();
    return nullptr;
}

// Stops the loop and joins its thread. False when the caller is the GUI
// thread itself (a session manager's "die" ends the process from there).
bool StopGuiThread() {
    std::lock_guard<std::mutex> lock(g_threadMutex);
    if (!g_guiThreadJoinable) return true;
    if (pthread_equal(pthread_self(), g_guiThread)) return false;
    GUIX_Application::instance().quit();
    pthread_join(g_guiThread, nullptr);
    g_guiThreadJoinable = false;
    return true;
}

// Runs at exit before the application object is destroyed (registered after
// it was made): a process that ends without CloseUserInterface must not tear
// down the display under a running loop.
void ShutdownAtExit() {
    if (!StopGuiThread()) {
        // Ending from the GUI thread: other threads may still hold the
        // windows, so leave them to the process's end.
        std::lock_guard<std::mutex> lock(g_windowsMutex);
        (void)g_statusWindow.release();
        (void)g_codeWindow.release();
        (void)g_proxyWindow.release();
        return;
    }
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    g_proxyWindow.reset();
    g_codeWindow.reset();
    g_statusWindow.reset();
}

// Without a display from the start, or once the display is lost mid-run.
bool Headless() { return g_mode.load() != Mode::kWindows || GUIX_Application::instance().displayLost(); }

}  // namespace

void StartUserInterface() {
    std::lock_guard<std::mutex> lock(g_startMutex);
    if (g_mode.load() != Mode::kNotStarted) return;

    // A desktop session's own value names the addresses its session manager
    // wrote ICE cookies for; an address made up from the socket would be
    // refused. Only without one is it made from the socket found.
    const char* inherited = getenv("SESSION_MANAGER");
    if (inherited == nullptr || *inherited == '\0') {
        std::string userName;
        std::string sessionManager;
        FindSessionManager(userName, sessionManager);
        setenv("SESSION_MANAGER", sessionManager.c_str(), 1);
    }

    GUIX_Application& app = GUIX_Application::instance();
    if (!app.hasDisplay()) {
        const char* display = getenv("DISPLAY");
        LogWrite("ERROR: Cannot open display [%s]; continuing without windows", display ? display : "");
        g_mode = Mode::kHeadless;
        headless_ui::Start();
        return;
    }
    static std::once_flag exitHandler;
    std::call_once(exitHandler, [] { std::atexit(ShutdownAtExit); });
    // A logout ends the process from the GUI thread at once; its log still closes.
    GUIX_SMClient::setDieHandler([] { LogWrite("<---"); });

    {
        std::lock_guard<std::mutex> threadLock(g_threadMutex);
        const int rc = pthread_create(&g_guiThread, nullptr, GuiThreadBody, nullptr);
        if (rc != 0) {
            LogWrite("ERROR: Cannot start the user interface thread: %s", strerror(rc));
            g_mode = Mode::kHeadless;
            headless_ui::Start();
            return;
        }
        g_guiThreadJoinable = true;
    }
    g_mode = Mode::kWindows;
    app.waitUntilRunning();
}

void WaitForUserInterface() {
    if (Headless()) {
        headless_ui::WaitUntilRunning();
        return;
    }
    GUIX_Application::instance().waitUntilRunning();
}

void SetUserInterfaceLanguage(const char* language) {
    // For windows still to be made: they take their words when they are made.
    const Catalog* catalog = ChooseCatalog(language ? language : "");
    g_catalog = catalog;
    // The fonts follow the language shown; nothing without windows.
    if (g_mode.load() == Mode::kWindows)
        GUIX_Application::instance().setLanguage(catalog ? catalog->language() : language ? language : "");
}

bool AskSessionCode(char* code) {
    if (Headless()) return headless_ui::AskSessionCode(code);
    SessionCodeWindow* window = Window(g_codeWindow);
    const int result = window ? GUIX_Application::instance().runModal(window) : 0;
    CopyToBuffer(code, kSessionCodeBufferSize, window ? window->code() : std::string());
    return result == SessionCodeWindow::kResultOk;
}

bool AskProxyCredentials(const char* message, char* login, char* password) {
    if (Headless()) return headless_ui::AskProxyCredentials(message, login, password);
    ProxyAuthenticationWindow* window = Window(g_proxyWindow);
    if (!window) return false;
    const std::string text = ToUtf8Text(message ? message : "");
    GUIX_Application::instance().invoke([window, &text] { window->setMessage(text); });
    // The loop may already have ended (the user closed the status window):
    // runModal then returns at once with a result that is not OK.
    const int result = GUIX_Application::instance().runModal(window);
    if (result != ProxyAuthenticationWindow::kResultOk) return false;
    CopyToBuffer(login, kCredentialBufferSize, window->login());
    CopyToBuffer(password, kCredentialBufferSize, window->password());
    return true;
}

void ShowStatusWindow() {
    if (!Headless()) {
        StatusWindow* window = Window(g_statusWindow);
        if (g_closed.load() || !window) return;  // the session already ended the interface
        GUIX_Application::instance().runModal(window);
    }
    // A lost display ends the window, not the session: it goes on to its end.
    if (Headless()) headless_ui::ShowStatusWindow();
}

void SetStatusText(const UiText& text) {
    if (Headless()) {
        headless_ui::SetStatusText(text);
        return;
    }
    // Posted: the session thread never waits for the screen.
    GUIX_Application::instance().post([text] {
        std::lock_guard<std::mutex> lock(g_windowsMutex);
        if (!g_statusWindow) g_statusWindow = std::make_unique<StatusWindow>(g_catalog.load());
        g_statusWindow->setText(text);
    });
}

void CloseUserInterface() {
    headless_ui::Close();  // also ends a status window that went on without its display
    if (g_mode.load() != Mode::kWindows) return;
    g_closed = true;
    StatusWindow* status = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_windowsMutex);
        status = g_statusWindow.get();
    }
    if (status != nullptr) status->close();
    StopGuiThread();
}
