#include "GUIX_Application.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "GUIX_Dialog.h"
#include "GUIX_Libraries.h"
#include "GUIX_SMClient.h"
#include "GUIX_Widget.h"
#include "Log.h"

// Last, for LockDisplay only: it defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace {

// Read offset into the queue property, in 32-bit units (GUI thread only).
long s_readOffset = 0;

constexpr int kRecordWords = 19;
constexpr unsigned long kRecordBytes = sizeof(GUIX_Event);

bool isKeypad(KeySym sym) { return sym >= 0xFF80 && sym <= 0xFFB9; }

// Set once the connection to the X server is gone. Xlib calls on the display
// are still safe then (they return at once), and free what they hold here.
std::atomic<bool> s_displayLost{false};

// Any client on the display can provoke a protocol error (a request on a
// window it destroyed, a record it planted in our queue): log it and go on.
int onXError(Display* display, XErrorEvent* error) {
    char text[128] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    LogWrite("ERROR: X error %d (%s), request %d.%d, resource 0x%lx", error->error_code, text,
             error->request_code, error->minor_code, error->resourceid);
    return 0;
}

int onXIOError(Display*) {
    if (!s_displayLost.exchange(true))
        LogWrite("ERROR: the connection to the X display is lost; no more windows");
    return 0;
}

// Called instead of exit() after onXIOError. Xlib comes here holding the
// display's user lock and without its internal lock, which the Xlib call in
// progress lets go of once more on its way out: give the user lock back (or
// every other thread that locks the display waits for ever) and take the
// internal one again.
void onXIOErrorExit(Display* display, void*) {
    XUnlockDisplay(display);
    LockDisplay(display);
}

// XSetIOErrorExitHandler came with libX11 1.7; where it is missing, Xlib
// still ends the process after an I/O error.
void keepProcessOnIOError(Display* display) {
    using SetExitHandler = void (*)(Display*, void (*)(Display*, void*), void*);
    auto set = reinterpret_cast<SetExitHandler>(dlsym(RTLD_DEFAULT, "XSetIOErrorExitHandler"));
    if (set) set(display, onXIOErrorExit, nullptr);
}

}  // namespace

GUIX_DisplayLock::GUIX_DisplayLock() : m_display(GUIX_Application::instance().display()) {
    if (m_display) XLockDisplay(m_display);
}

GUIX_DisplayLock::~GUIX_DisplayLock() { release(); }

void GUIX_DisplayLock::release() {
    if (m_display) XUnlockDisplay(m_display);
    m_display = nullptr;
}

GUIX_Application& GUIX_Application::instance() {
    static GUIX_Application app;
    return app;
}

GUIX_Application::GUIX_Application() {
    m_runningSignal.signal(1);
    if (const GUIX_IceFunctions* ice = GUIX_Ice()) ice->IceInitThreads();
    XInitThreads();
    XSetErrorHandler(onXError);
    XSetIOErrorHandler(onXIOError);
    const char* name = std::getenv("DISPLAY");
    m_display = XOpenDisplay(name);
    if (!m_display) {
        LogWrite("ERROR: GUIX_Application: cannot open display \"%s\"", name ? name : "");
        return;
    }
    keepProcessOnIOError(m_display);
    XLockDisplay(m_display);
    if (const GUIX_XtstFunctions* xtst = GUIX_Xtst()) xtst->XTestGrabControl(m_display, True);
    m_screen = DefaultScreen(m_display);
    m_root = RootWindow(m_display, m_screen);
    m_atomClientMessage = XInternAtom(m_display, "CLIENT_MESSAGE", False);
    m_atomGuixEvent = XInternAtom(m_display, "GUIX_EVENT", False);
    m_atomWmProtocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
    m_atomWmDelete = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
    XUnlockDisplay(m_display);
}

GUIX_Application::~GUIX_Application() {
    m_eventWindow.reset();
    if (m_display) {
        XCloseDisplay(m_display);
        m_display = nullptr;
    }
}

bool GUIX_Application::run() {
    if (!m_display) {
        LogWrite("ERROR: GUIX_Application::run: no X display, the event loop does not run");
        m_runningSignal.signal(0);  // nobody may wait for a loop that never comes
        return false;
    }
    if (!m_eventWindow) {
        m_eventWindow = std::make_unique<GUIX_Widget>(nullptr);
        m_eventWindowId.store(m_eventWindow->windowId());
    }
    {
        GUIX_DisplayLock l;
        XDeleteProperty(m_display, m_eventWindowId.load(), m_atomClientMessage);
        XFlush(m_display);  // the window exists on the server before anybody posts to it
    }
    s_readOffset = 0;

    // Requests made before the loop ran; taken under the monitor so that a
    // concurrent showDialog either lands here or in the property.
    std::vector<GUIX_Event> pending;
    lock();
    m_quit.store(false);
    m_running.store(true);
    for (GUIX_Event ev; m_pending.pop(ev);) pending.push_back(ev);
    unlock();
    m_runningSignal.signal(0);
    for (const GUIX_Event& ev : pending) handleApplicationEvent(ev);

    int xfd;
    {
        GUIX_DisplayLock l;
        xfd = ConnectionNumber(m_display);
    }
    auto session = std::make_unique<GUIX_SMClient>("ZEL_XSMP_client");

    while (!m_quit.load() && !displayLost()) {
        XEvent xev;
        bool got = false;
        XLockDisplay(m_display);
        if (XPending(m_display) > 0) {
            XNextEvent(m_display, &xev);
            got = true;
        }
        XUnlockDisplay(m_display);
        if (got)
            translate(xev);
        else
            session->process(50, xfd);
    }

    lock();
    m_running.store(false);
    unlock();
    endRemainingDialogs();
    {
        GUIX_DisplayLock l;
        if (l) {
            XDeleteProperty(m_display, m_eventWindowId.load(), m_atomClientMessage);
            XFlush(m_display);
        }
    }
    session.reset();
    return true;
}

void GUIX_Application::endRemainingDialogs() {
    // Posted requests are no longer read: end every dialog still shown right
    // here, so that no modal caller waits for ever.
    auto shown = m_dialogs.takeAll();
    for (const auto& entry : shown) {
        unsigned long window = entry.first;
        GUIX_Widget::withWidget(window, [&](GUIX_Widget* w) {
            auto* dialog = dynamic_cast<GUIX_Dialog*>(w);
            if (!dialog) return;
            std::uint32_t id = static_cast<std::uint32_t>(window);
            dialog->handleEvent(GUIX_Event(EV_HIDE, id, id));
            dialog->handleEvent(GUIX_Event(EV_DIALOG_CLOSING, id, id));
        });
    }
}

void GUIX_Application::waitUntilRunning() { m_runningSignal.wait(0); }

bool GUIX_Application::waitUntilRunning(int timeoutMs) { return m_runningSignal.wait(0, timeoutMs); }

bool GUIX_Application::postEvent(const GUIX_Event& event) {
    if (!m_running.load() || !m_display || displayLost()) return false;
    GUIX_DisplayLock l;
    XChangeProperty(m_display, m_eventWindowId.load(), m_atomClientMessage, m_atomGuixEvent, 8,
                    PropModeAppend, reinterpret_cast<const unsigned char*>(&event),
                    static_cast<int>(kRecordBytes));
    XFlush(m_display);
    return true;
}

void GUIX_Application::showDialog(GUIX_Dialog* dialog) {
    dialog->beginShow();
    registerDialog(dialog);
}

void GUIX_Application::registerDialog(GUIX_Dialog* dialog) {
    GUIX_Event ev(EV_REGISTER_DIALOG, 0, 0);
    ev.payload[0] = static_cast<std::uint32_t>(dialog->windowId());
    // A handshake left over from a request nobody waited for must not count.
    dialog->waitObject().reset();
    lock();
    bool posted = postEvent(ev);
    if (!posted) m_pending.push(ev);
    unlock();
    if (!posted) return;
    // Bounded slices: a loop that ends before reading the request must not
    // leave this caller waiting.
    while (!dialog->waitObject().wait(0, 50)) {
        if (!m_running.load()) return;
    }
}

std::int32_t GUIX_Application::runModal(GUIX_Dialog* dialog) {
    dialog->beginModal();
    registerDialog(dialog);
    dialog->endSignal().wait(0);
    return dialog->resultCode();
}

void GUIX_Application::quit() {
    GUIX_Event ev(EV_QUIT, 0, 0);
    postEvent(ev);
}

int GUIX_Application::screenWidth() const {
    if (!m_display) return 0;
    GUIX_DisplayLock l;
    return DisplayWidth(m_display, m_screen);
}

int GUIX_Application::screenHeight() const {
    if (!m_display) return 0;
    GUIX_DisplayLock l;
    return DisplayHeight(m_display, m_screen);
}

bool GUIX_Application::displayLost() const { return s_displayLost.load(); }

bool GUIX_Application::isDialogRegistered(unsigned long window) const { return m_dialogs.contains(window); }

void GUIX_Application::dispatch(const GUIX_Event& event) {
    if (event.target == 0) {
        handleApplicationEvent(event);
        return;
    }
    GUIX_Widget::withWidget(event.target, [&](GUIX_Widget* w) { w->handleEvent(event); });
}

void GUIX_Application::handleApplicationEvent(const GUIX_Event& event) {
    switch (event.kind) {
    case EV_REGISTER_DIALOG: {
        unsigned long window = event.payload[0];
        GUIX_Widget::withWidget(window, [&](GUIX_Widget* w) {
            auto* dialog = dynamic_cast<GUIX_Dialog*>(w);
            if (!dialog) return;
            if (dialog->closePending()) {
                // Ended before it was ever shown: leave it ended.
                dialog->waitObject().signal(0);
                return;
            }
            dialog->postSelf(EV_SHOW);
            m_dialogs.insert(window, dialog);
            dialog->handleEvent(GUIX_Event(EV_DIALOG_SHOWN, event.payload[0], event.payload[0]));
            dialog->waitObject().signal(0);
        });
        break;
    }
    case EV_UNREGISTER_DIALOG: {
        unsigned long window = event.payload[0];
        GUIX_Widget::withWidget(window, [&](GUIX_Widget* w) {
            auto* dialog = dynamic_cast<GUIX_Dialog*>(w);
            if (!dialog) return;
            // Hidden right here, not through a posted request: a quit posted
            // just behind the unregistration would leave the window on screen.
            std::uint32_t id = static_cast<std::uint32_t>(window);
            dialog->handleEvent(GUIX_Event(EV_HIDE, id, id));
            if (m_dialogs.erase(window))
                dialog->handleEvent(GUIX_Event(EV_DIALOG_CLOSING, event.payload[0], event.payload[0]));
        });
        break;
    }
    case EV_QUIT: m_quit.store(true); break;
    default: break;
    }
}

void GUIX_Application::translate(XEvent& xev) {
    if (xev.type < KeyPress || xev.type > ClientMessage) return;
    unsigned long window = xev.xany.window;
    std::uint32_t id = static_cast<std::uint32_t>(window);
    switch (xev.type) {
    case KeyPress:
    case KeyRelease: GUIX_Widget::withWidget(window, [&](GUIX_Widget* w) { translateKey(xev, w); }); break;
    case ButtonPress: {
        GUIX_Event ev(EV_BUTTON_PRESS, id, id);
        ev.payload[0] = xev.xbutton.button;
        GUIX_Widget::withWidget(window, [&](GUIX_Widget* w) { w->handleEvent(ev); });
        break;
    }
    case ButtonRelease:
    case EnterNotify:
    case LeaveNotify:
    case Expose: {
        if (xev.type == Expose && xev.xexpose.count != 0) break;  // the last one repaints
        std::uint32_t kind = xev.type == ButtonRelease ? EV_BUTTON_RELEASE
                             : xev.type == EnterNotify ? EV_ENTER
                             : xev.type == LeaveNotify ? EV_LEAVE
                                                       : EV_REPAINT;
        GUIX_Event ev(kind, id, id);
        GUIX_Widget::withWidget(window, [&](GUIX_Widget* w) { w->handleEvent(ev); });
        break;
    }
    case ConfigureNotify: {
        std::uint32_t target = static_cast<std::uint32_t>(xev.xconfigure.window);
        GUIX_Event ev(EV_RESIZE, target, target);
        ev.payload[0] = static_cast<std::uint32_t>(xev.xconfigure.width);
        ev.payload[1] = static_cast<std::uint32_t>(xev.xconfigure.height);
        ev.payload[2] = 1;
        postEvent(ev);
        break;
    }
    case ReparentNotify: {
        std::uint32_t target = static_cast<std::uint32_t>(xev.xreparent.window);
        GUIX_Event ev(EV_REPARENT, target, target);
        ev.payload[0] = static_cast<std::uint32_t>(xev.xreparent.parent);
        postEvent(ev);
        break;
    }
    case PropertyNotify:
        if (xev.xproperty.atom == m_atomClientMessage) readProperty(xev);
        break;
    case ClientMessage:
        if (xev.xclient.message_type == m_atomWmProtocols &&
            static_cast<unsigned long>(xev.xclient.data.l[0]) == m_atomWmDelete &&
            m_dialogs.contains(window)) {
            GUIX_Event ev(EV_CLOSE_REQUEST, id, id);
            postEvent(ev);
        }
        break;
    default: break;
    }
}

void GUIX_Application::readProperty(XEvent& xev) {
    if (xev.xproperty.state == PropertyDelete) {
        s_readOffset = 0;
        return;
    }
    // Everything the property holds is read now: another client may append
    // several records at once, which would otherwise wait for later posts.
    std::vector<GUIX_Event> records;
    unsigned long dropped = 0;
    {
        GUIX_DisplayLock l;
        if (!l) return;
        for (;;) {
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            const int rc = XGetWindowProperty(m_display, xev.xproperty.window, m_atomClientMessage,
                                              s_readOffset, kRecordWords, True, m_atomGuixEvent, &type,
                                              &format, &items, &after, &data);
            if (rc != Success || type == None) break;
            // Every post appends one whole record. Anything else (foreign
            // content, a stray tail) would stay for ever and shift every later
            // record: it all goes.
            const bool whole = type == m_atomGuixEvent && format == 8 && items == kRecordBytes && data &&
                               after % kRecordBytes == 0;
            if (whole) {
                records.emplace_back();
                std::memcpy(&records.back(), data, kRecordBytes);
                s_readOffset += kRecordWords;
            } else if (type != m_atomGuixEvent || format != 8 || items != 0 || after != 0) {
                XDeleteProperty(m_display, xev.xproperty.window, m_atomClientMessage);
                dropped = items + after;
                after = 0;
            }
            if (data) XFree(data);
            if (after == 0) {
                s_readOffset = 0;  // the property is gone
                break;
            }
        }
    }
    if (dropped != 0)
        LogWrite("WARNING: GUIX: %lu bytes in the event queue were no whole event records; queue emptied",
                 dropped);
    for (const GUIX_Event& ev : records) dispatch(ev);
}

void GUIX_Application::translateKey(XEvent& xev, GUIX_Widget* widget) {
    bool release = xev.type == KeyRelease;
    unsigned int state = xev.xkey.state;
    KeySym sym0;
    {
        GUIX_DisplayLock l;
        sym0 = XLookupKeysym(&xev.xkey, 0);
    }
    switch (sym0) {
    case XK_Num_Lock: m_numLockHeld = !release; return;
    case XK_Caps_Lock: m_capsLockHeld = !release; return;
    case XK_Shift_Lock: m_shiftLockHeld = !release; return;
    case XK_Shift_L:
    case XK_Shift_R: m_shiftHeld = !release; return;
    case XK_Control_L:
    case XK_Control_R: m_controlHeld = !release; return;
    default: break;
    }

    int index = 0;
    bool shift = (state & ShiftMask) != 0;
    bool lock = (state & LockMask) != 0;
    if ((state & Mod2Mask) && isKeypad(sym0)) {
        index = (shift || (lock && m_shiftLockHeld)) ? 0 : 1;
    } else if (shift) {
        index = 1;
    } else if (lock && ((sym0 >= XK_a && sym0 <= XK_z) || m_shiftLockHeld)) {
        // Caps Lock shifts the letters; Shift Lock shifts everything.
        index = 1;
    }
    KeySym sym = sym0;
    if (index == 1) {
        GUIX_DisplayLock l;
        sym = XLookupKeysym(&xev.xkey, 1);
        if (sym == NoSymbol && !isKeypad(sym0)) sym = sym0;  // keys with one symbol (space)
    }

    std::uint32_t sub;
    std::uint32_t character = 0;
    if ((sym >= 0x20 && sym <= 0x7E) || (sym >= 0xA0 && sym <= 0xFF)) {
        sub = KEY_CHAR;
        character =
            static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(sym & 0xFF)));
    } else if ((sym >= XK_KP_Multiply && sym <= XK_KP_9) || sym == XK_KP_Equal) {
        sub = KEY_CHAR;
        character = static_cast<std::uint32_t>(sym & 0x7F);
    } else if (sym == XK_KP_Space) {
        sub = KEY_CHAR;
        character = ' ';
    } else if (sym == XK_Tab || sym == XK_KP_Tab || sym == XK_ISO_Left_Tab) {
        sub = KEY_TAB;
    } else if (sym == XK_BackSpace) {
        sub = KEY_BACKSPACE;
    } else if (sym == XK_Return || sym == XK_KP_Enter) {
        sub = KEY_RETURN;
    } else if (sym == XK_Delete) {
        sub = KEY_DELETE;
    } else {
        return;
    }
    std::uint32_t id = static_cast<std::uint32_t>(widget->windowId());
    GUIX_Event ev(EV_KEY, id, id);
    ev.payload[0] = sub;
    ev.payload[1] = character;
    ev.payload[2] = release ? 1 : 0;
    widget->handleEvent(ev);
}
