#pragma once
// The process-wide toolkit application: owns the X display connection, runs
// the event loop on the GUI thread, keeps the registry of shown dialogs, and
// carries requests from other threads to the GUI thread: GUIX_Event records
// and calls, in one queue in this process with a pipe to wake the loop. Only
// the GUI thread talks to the X server while the loop runs (Xft is not
// thread-safe, and a round trip from another thread could read events into
// Xlib's queue while the loop sleeps on the connection). Records that other
// clients append to the event window's property (the property queue) are
// read as well.
//
// Typical use:
//   std::thread gui([] { GUIX_Application::instance().run(); });
//   GUIX_Application::instance().waitUntilRunning();
//   int code = GUIX_Application::instance().runModal(&dialog);  // any thread but the GUI one
//   GUIX_Application::instance().quit();
//   gui.join();
//
// When the display cannot be opened, hasDisplay() is false, run() logs it and
// returns false at once, waitUntilRunning() returns, and runModal() returns
// the dialog's result code at once.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "GUIX_Color.h"
#include "GUIX_Event.h"
#include "GUIX_Map.h"
#include "GUIX_Monitor.h"
#include "GUIX_Queue.h"
#include "GUIX_WaitEvent.h"
#include "UniqueFd.h"

typedef struct _XDisplay Display;
typedef struct _XIM* XIM;
typedef struct _XIC* XIC;
union _XEvent;
struct _XftColor;
class GUIX_Dialog;
class GUIX_Font;
class GUIX_Widget;

class GUIX_Application : private GUIX_Monitor {
public:
    static GUIX_Application& instance();
    ~GUIX_Application();

    // The event loop (GUI thread only). Returns once quit() has been processed;
    // every dialog still shown then is ended (its modal caller wakes up).
    // False when there is no display.
    bool run();
    // Returns once the loop has started (also when it has started and ended,
    // and when there is no display to run on).
    void waitUntilRunning();
    bool waitUntilRunning(int timeoutMs);

    // Queues the record for the GUI thread (any thread); false when the loop is not running.
    bool postEvent(const GUIX_Event& event);
    // Queues a call for the GUI thread, in order with the records; false when
    // the loop is not running.
    bool post(std::function<void()> call);
    // Runs call on the GUI thread and waits for it; on the GUI thread itself,
    // or while no loop runs, it runs at once. False when the loop ended first.
    bool invoke(const std::function<void()>& call);
    bool onGuiThread() const;
    // Wakes the loop to look at its queues (any thread).
    void wake();
    // Registers and shows the dialog on the GUI thread; waits for the
    // registration while the loop runs, queues it until the loop starts otherwise.
    void showDialog(GUIX_Dialog* dialog);
    // Shows the dialog and waits until it ends; returns its result code
    // (set to 1 at the start of every run; 0 after an accepted close request).
    // Returns at once when the loop is not running.
    std::int32_t runModal(GUIX_Dialog* dialog);
    // Asks the loop to end (lost when the loop is not running).
    void quit();

    int screenWidth() const;
    int screenHeight() const;

    // The desktop's scale (GUIX_Scale.h), read when the display is opened.
    // Sizes, insets and the font of drawables made afterwards follow it.
    double scale() const { return m_scale.load(); }
    void setScale(double scale);
    // A length of the toolkit's 1x design at the current scale.
    int px(int length) const;
    // The fontconfig language tag ("de", "ja", "zh-tw") of the copy's
    // language code ("de", "ja", "zh_TW"); for fonts made afterwards.
    void setLanguage(const std::string& language);
    // The font at the current scale, made on first use (GUI thread, or before
    // the loop runs); null without a display.
    GUIX_Font* font();
    // Xft's form of a colour, allocated once per process.
    const _XftColor* xftColour(const GUIX_Color& colour);
    bool isRunning() const { return m_running.load(); }
    bool hasDisplay() const { return m_display != nullptr; }
    // True once the X connection broke (the server went away): the loop ends,
    // its dialogs end, and nothing is posted any more.
    bool displayLost() const;

    // X access for the toolkit's own classes; lock with GUIX_DisplayLock.
    Display* display() const { return m_display; }
    int screen() const { return m_screen; }
    unsigned long rootWindow() const { return m_root; }
    unsigned long eventWindowId() const { return m_eventWindowId.load(); }

    // Dispatch of a record read from the queue (GUI thread).
    void dispatch(const GUIX_Event& event);
    // True while the dialog is in the registry of shown dialogs.
    bool isDialogRegistered(unsigned long window) const;

private:
    GUIX_Application();
    void handleApplicationEvent(const GUIX_Event& event);
    void translate(_XEvent& xev);
    void readProperty(_XEvent& xev);
    void translateKey(_XEvent& xev, GUIX_Widget* widget);
    void deliverKey(GUIX_Widget* widget, std::uint32_t sub, std::uint32_t character, bool release);
    bool enqueue(const GUIX_Event& event, std::function<void()> call);
    void runPosted();
    bool handleXEvents();
    void sleep(class GUIX_SMClient& session);
    void openInputMethod();
    void closeInputMethod();
    XIC inputContext(unsigned long window);
    static bool secretFocus(GUIX_Widget* widget);
    void endRemainingDialogs();
    void registerDialog(GUIX_Dialog* dialog);

    GUIX_Queue<GUIX_Event> m_pending;
    // Requests for the GUI thread: a call, or else a record.
    struct Posted {
        GUIX_Event event;
        std::function<void()> call;
    };
    std::mutex m_postMutex;
    std::deque<Posted> m_posted;
    UniqueFd m_wakeRead, m_wakeWrite;
    std::atomic<std::thread::id> m_guiThread{};
    GUIX_Map<unsigned long, GUIX_Dialog*> m_dialogs;
    std::unique_ptr<GUIX_Widget> m_eventWindow;
    GUIX_WaitEvent m_runningSignal{false};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_quit{true};
    Display* m_display = nullptr;
    int m_screen = 0;
    unsigned long m_root = 0;
    std::atomic<unsigned long> m_eventWindowId{0};
    // Atoms, interned once the display is open.
    unsigned long m_atomClientMessage = 0;
    unsigned long m_atomGuixEvent = 0;
    unsigned long m_atomWmProtocols = 0;
    unsigned long m_atomWmDelete = 0;
    std::atomic<double> m_scale{1.0};
    std::mutex m_fontMutex;
    std::string m_language;
    std::map<int, std::unique_ptr<GUIX_Font>> m_fonts;  // by scale in quarter steps
    std::map<std::uint32_t, std::unique_ptr<_XftColor>> m_xftColours;
    // The input method and a context per dialog window (GUI thread).
    XIM m_im = nullptr;
    bool m_imTried = false;
    std::map<unsigned long, XIC> m_inputContexts;
};

// Holds the application's display lock for its scope (nested use on one thread is fine).
// Evaluates to false, and locks nothing, when there is no display.
class GUIX_DisplayLock {
public:
    GUIX_DisplayLock();
    ~GUIX_DisplayLock();
    GUIX_DisplayLock(const GUIX_DisplayLock&) = delete;
    GUIX_DisplayLock& operator=(const GUIX_DisplayLock&) = delete;
    explicit operator bool() const { return m_display != nullptr; }
    Display* display() const { return m_display; }
    // Lets go early; afterwards the lock evaluates to false.
    void release();

private:
    Display* m_display;
};
