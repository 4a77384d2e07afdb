#pragma once
// The process-wide toolkit application: owns the X display connection, runs
// the event loop on the GUI thread, keeps the registry of shown dialogs and
// carries requests from other threads to the GUI thread as GUIX_Event records
// appended to a window property (the property queue).
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
#include <memory>

#include "GUIX_Event.h"
#include "GUIX_Map.h"
#include "GUIX_Monitor.h"
#include "GUIX_Queue.h"
#include "GUIX_WaitEvent.h"

typedef struct _XDisplay Display;
union _XEvent;
class GUIX_Dialog;
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

    // Appends the record to the property queue; false when the loop is not running.
    bool postEvent(const GUIX_Event& event);
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
    void endRemainingDialogs();
    void registerDialog(GUIX_Dialog* dialog);

    GUIX_Queue<GUIX_Event> m_pending;
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
    // Held-down state of the modifier keys seen by the loop.
    bool m_numLockHeld = false, m_capsLockHeld = false, m_shiftLockHeld = false;
    bool m_shiftHeld = false, m_controlHeld = false;
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
