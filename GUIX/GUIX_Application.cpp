#include "GUIX_Application.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "GUIX_Dialog.h"
#include "GUIX_Focusable.h"
#include "GUIX_Font.h"
#include "GUIX_Libraries.h"
#include "GUIX_SMClient.h"
#include "GUIX_Scale.h"
#include "GUIX_Widget.h"
#include "GUIX_Xft.h"
#include "Log.h"
#include "Utf8.h"

// Last, for LockDisplay only: it defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace {

// Read offset into the queue property, in 32-bit units (GUI thread only).
long s_readOffset = 0;

constexpr int kRecordWords = 19;
constexpr unsigned long kRecordBytes = sizeof(GUIX_Event);

// The character of a keysym, for keys read without an input method: Latin-1
// and Unicode keysyms, and the keypad's. 0 for none.
std::uint32_t KeysymCharacter(KeySym sym) {
    if ((sym >= 0x20 && sym <= 0x7E) || (sym >= 0xA0 && sym <= 0xFF)) return static_cast<std::uint32_t>(sym);
    if ((sym & 0xFF000000) == 0x01000000) return static_cast<std::uint32_t>(sym & 0x00FFFFFF);
    if ((sym >= XK_KP_Multiply && sym <= XK_KP_9) || sym == XK_KP_Equal)
        return static_cast<std::uint32_t>(sym & 0x7F);
    if (sym == XK_KP_Space) return ' ';
    return 0;
}

// An input method server that goes away takes its contexts with it.
void onInputMethodDestroyed(XIM, XPointer data, XPointer) { *reinterpret_cast<bool*>(data) = true; }
bool s_inputMethodGone = false;

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
    if (!m_display) return;
    // Another thread's round trip may have read events into Xlib's queue
    // while the loop sleeps on the connection: the loop must look at them.
    const bool queued = XQLength(m_display) > 0;
    XUnlockDisplay(m_display);
    m_display = nullptr;
    GUIX_Application& app = GUIX_Application::instance();
    if (queued && app.isRunning() && !app.onGuiThread()) app.wake();
}

GUIX_Application& GUIX_Application::instance() {
    static GUIX_Application app;
    return app;
}

GUIX_Application::GUIX_Application() {
    m_runningSignal.signal(1);
    // The characters of the desktop's locale for the input method. Only
    // LC_CTYPE: numbers and dates in the log are formatted as always.
    std::setlocale(LC_CTYPE, "");
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wakeRead.Reset(wake[0]);
        m_wakeWrite.Reset(wake[1]);
    } else {
        LogWrite("ERROR: GUIX_Application: no wake-up pipe (%s); requests wait for X events",
                 strerror(errno));
    }
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
    m_scale = GUIX_DesktopScale(XResourceManagerString(m_display), std::getenv("GDK_SCALE"),
                                std::getenv("QT_SCALE_FACTOR"));
    XUnlockDisplay(m_display);
    if (m_scale.load() != 1.0) LogWrite("GUIX: desktop scale %.2f", m_scale.load());
}

GUIX_Application::~GUIX_Application() {
    m_eventWindow.reset();
    m_fonts.clear();
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
    // A name that tools (top -H, the benchmark) can tell this thread by; the
    // main thread keeps the program's.
    if (getpid() != static_cast<pid_t>(syscall(SYS_gettid))) prctl(PR_SET_NAME, "guix", 0, 0, 0);
    m_guiThread = std::this_thread::get_id();
    if (!m_eventWindow) {
        m_eventWindow = std::make_unique<GUIX_Widget>(nullptr);
        m_eventWindowId.store(m_eventWindow->windowId());
    }
    {
        GUIX_DisplayLock l;
        XDeleteProperty(m_display, m_eventWindowId.load(), m_atomClientMessage);
        XFlush(m_display);
    }
    s_readOffset = 0;

    // Requests made before the loop ran; taken under the monitor so that a
    // concurrent showDialog either lands here or in the queue.
    std::vector<GUIX_Event> pending;
    lock();
    {
        std::lock_guard<std::mutex> g(m_postMutex);
        m_quit.store(false);
        m_running.store(true);
    }
    for (GUIX_Event ev; m_pending.pop(ev);) pending.push_back(ev);
    unlock();
    m_runningSignal.signal(0);
    for (const GUIX_Event& ev : pending) handleApplicationEvent(ev);

    auto session = std::make_unique<GUIX_SMClient>("ZEL_XSMP_client");

    // As st's run(): handle what came, and sleep only when Xlib's queue, the
    // connection and the request queue are all empty. No timer wakes the loop.
    while (!m_quit.load() && !displayLost()) {
        runPosted();
        if (m_quit.load() || displayLost()) break;
        if (handleXEvents()) continue;
        sleep(*session);
    }

    std::deque<Posted> dropped;
    lock();
    {
        std::lock_guard<std::mutex> g(m_postMutex);
        m_running.store(false);
        dropped.swap(m_posted);  // an invoke waiting for one of them sees the loop gone
    }
    unlock();
    endRemainingDialogs();
    closeInputMethod();
    {
        GUIX_DisplayLock l;
        if (l) {
            XDeleteProperty(m_display, m_eventWindowId.load(), m_atomClientMessage);
            XFlush(m_display);
        }
    }
    session.reset();
    m_guiThread = std::thread::id();
    return true;
}

void GUIX_Application::runPosted() {
    std::deque<Posted> posted;
    {
        std::lock_guard<std::mutex> g(m_postMutex);
        posted.swap(m_posted);
    }
    for (Posted& p : posted) {
        if (m_quit.load()) break;  // what follows a quit is not carried out
        if (p.call)
            p.call();
        else
            dispatch(p.event);
    }
}

// Every X event already read or readable without waiting; true when there was one.
bool GUIX_Application::handleXEvents() {
    bool handled = false;
    for (;;) {
        XEvent xev;
        {
            GUIX_DisplayLock l;
            if (!l || XPending(m_display) <= 0) break;
            XNextEvent(m_display, &xev);
        }
        handled = true;
        // The input method sees every event first, except the keys of a
        // password entry: they never go through its preedit.
        const bool key = xev.type == KeyPress || xev.type == KeyRelease;
        bool secret = false;
        if (key) GUIX_Widget::withWidget(xev.xkey.window, [&](GUIX_Widget* w) { secret = secretFocus(w); });
        if (m_im && !secret && XFilterEvent(&xev, None)) continue;
        translate(xev);
        if (m_quit.load()) break;
    }
    return handled;
}

void GUIX_Application::sleep(GUIX_SMClient& session) {
    int xfd;
    {
        GUIX_DisplayLock l;
        // Flushes what the handlers asked for, and reads what already came.
        if (XEventsQueued(m_display, QueuedAfterFlush) > 0) return;
        xfd = ConnectionNumber(m_display);
    }
    pollfd fds[3] = {{xfd, POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}, {session.descriptor(), POLLIN, 0}};
    const nfds_t count = session.descriptor() >= 0 ? 3 : 2;
    if (poll(fds, count, -1) < 0) return;  // a signal: look again
    if (fds[1].revents & POLLIN) {
        char bytes[64];
        while (read(m_wakeRead.get(), bytes, sizeof bytes) > 0) {}
    }
    if (count == 3 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) session.processMessages();
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
    if (!m_display || displayLost()) return false;
    return enqueue(event, nullptr);
}

bool GUIX_Application::post(std::function<void()> call) {
    if (!m_display || displayLost() || !call) return false;
    return enqueue(GUIX_Event(), std::move(call));
}

bool GUIX_Application::enqueue(const GUIX_Event& event, std::function<void()> call) {
    {
        std::lock_guard<std::mutex> g(m_postMutex);
        if (!m_running.load()) return false;
        m_posted.push_back(Posted{event, std::move(call)});
    }
    wake();
    return true;
}

void GUIX_Application::wake() {
    // A full pipe wakes the loop all the same: the byte is not needed then.
    const char byte = 1;
    if (m_wakeWrite.get() >= 0 && write(m_wakeWrite.get(), &byte, 1) < 0 && errno != EAGAIN)
        LogWrite("WARNING: GUIX: cannot wake the event loop: %s", strerror(errno));
}

bool GUIX_Application::onGuiThread() const { return m_guiThread.load() == std::this_thread::get_id(); }

bool GUIX_Application::invoke(const std::function<void()>& call) {
    if (onGuiThread() || !m_running.load()) {
        call();  // no loop: nothing else talks to the X server now
        return true;
    }
    auto done = std::make_shared<GUIX_WaitEvent>(true);
    if (!post([call, done] {
            call();
            done->signal(0);
        }))
        return false;
    // Bounded slices: a loop that ends before it gets to the call must not
    // leave this caller waiting.
    while (!done->wait(0, 50))
        if (!m_running.load()) return done->wait(0, 0);
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

void GUIX_Application::setScale(double scale) { m_scale = std::clamp(std::round(scale * 4) / 4, 1.0, 4.0); }

int GUIX_Application::px(int length) const { return static_cast<int>(std::lround(length * m_scale.load())); }

void GUIX_Application::setLanguage(const std::string& language) {
    // fontconfig's tags: lower case, "-" between the parts; Chinese without
    // a region is the Simplified one. Anything else is no language.
    std::string tag;
    for (const char c : language) {
        if (c >= 'A' && c <= 'Z')
            tag.push_back(static_cast<char>(c - 'A' + 'a'));
        else if ((c >= 'a' && c <= 'z') || c == '-' || c == '_')
            tag.push_back(c == '_' ? '-' : c);
        else
            return;
    }
    if (tag == "zh") tag = "zh-cn";
    std::lock_guard<std::mutex> g(m_fontMutex);
    m_language = tag;
}

GUIX_Font* GUIX_Application::font() {
    if (!m_display) return nullptr;
    std::lock_guard<std::mutex> g(m_fontMutex);
    const int quarters = static_cast<int>(std::lround(m_scale.load() * 4));
    std::unique_ptr<GUIX_Font>& slot = m_fonts[quarters];
    if (!slot) {
        GUIX_DisplayLock l;
        slot = std::make_unique<GUIX_Font>(m_display, m_screen, 13.0 * quarters / 4, m_language);
    }
    return slot.get();
}

const XftColor* GUIX_Application::xftColour(const GUIX_Color& colour) {
    const GUIX_XftFunctions* xft = GUIX_Xft();
    if (!m_display || !xft) return nullptr;
    const std::uint32_t key = static_cast<std::uint32_t>((colour.red & 0xFF) << 16 |
                                                         (colour.green & 0xFF) << 8 | (colour.blue & 0xFF));
    std::lock_guard<std::mutex> g(m_fontMutex);
    std::unique_ptr<XftColor>& slot = m_xftColours[key];
    if (!slot) {
        const XRenderColor value{static_cast<unsigned short>(colour.red * 257),
                                 static_cast<unsigned short>(colour.green * 257),
                                 static_cast<unsigned short>(colour.blue * 257), 0xFFFF};
        auto made = std::make_unique<XftColor>();
        GUIX_DisplayLock l;
        if (!xft->XftColorAllocValue(m_display, DefaultVisual(m_display, m_screen),
                                     DefaultColormap(m_display, m_screen), &value, made.get()))
            return nullptr;
        slot = std::move(made);
    }
    return slot.get();
}

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
            if (dialog->currentFocus()) inputContext(window);  // before its first focus change
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
    if (xev.type == MappingNotify) {
        // Another keyboard layout, or a key given a new character (as
        // xdotool does for one the layout lacks): the next keys read with it.
        GUIX_DisplayLock l;
        XRefreshKeyboardMapping(&xev.xmapping);
        return;
    }
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
    case FocusIn:
    case FocusOut: {
        // The input method follows the keyboard focus from dialog to dialog.
        auto it = m_inputContexts.find(window);
        if (it == m_inputContexts.end() || s_inputMethodGone) break;
        GUIX_DisplayLock l;
        if (xev.type == FocusIn)
            XSetICFocus(it->second);
        else
            XUnsetICFocus(it->second);
        break;
    }
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

bool GUIX_Application::secretFocus(GUIX_Widget* widget) {
    auto* dialog = dynamic_cast<GUIX_Dialog*>(widget->topLevel());
    GUIX_Focusable* focus = dialog ? dialog->currentFocus() : nullptr;
    return focus && focus->secret();
}

void GUIX_Application::openInputMethod() {
    if (m_im) return;
    GUIX_DisplayLock l;
    // The desktop's input method (XMODIFIERS), else Xlib's own, which still
    // composes dead keys and reads every keyboard layout.
    for (const char* modifiers : {"", "@im=none"}) {
        if (!XSetLocaleModifiers(modifiers)) continue;
        m_im = XOpenIM(m_display, nullptr, nullptr, nullptr);
        if (m_im) break;
    }
    if (!m_im) {
        l.release();
        LogWrite("WARNING: GUIX: no X input method; keys are read one at a time");
        return;
    }
    s_inputMethodGone = false;
    XIMCallback destroyed{reinterpret_cast<XPointer>(&s_inputMethodGone), onInputMethodDestroyed};
    XSetIMValues(m_im, XNDestroyCallback, &destroyed, nullptr);
}

void GUIX_Application::closeInputMethod() {
    GUIX_DisplayLock l;
    if (!s_inputMethodGone) {
        for (auto& [window, ic] : m_inputContexts) XDestroyIC(ic);
        if (m_im) XCloseIM(m_im);
    }
    m_inputContexts.clear();
    m_im = nullptr;
    m_imTried = false;
}

XIC GUIX_Application::inputContext(unsigned long window) {
    if (s_inputMethodGone) {
        m_inputContexts.clear();
        m_im = nullptr;
    }
    // Opened for the first dialog that takes text: its compose tables cost
    // memory that a session showing only its status never needs.
    if (!m_im && !m_imTried) {
        m_imTried = true;
        openInputMethod();
    }
    if (!m_im) return nullptr;
    auto it = m_inputContexts.find(window);
    if (it != m_inputContexts.end()) return it->second;
    GUIX_DisplayLock l;
    XIC ic = XCreateIC(m_im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, window,
                       XNFocusWindow, window, nullptr);
    if (!ic) return nullptr;
    long mask = 0;  // the events the input method wants to see on the window
    if (XGetICValues(ic, XNFilterEvents, &mask, nullptr)) mask = 0;
    l.release();
    if (mask) GUIX_Widget::withWidget(window, [&](GUIX_Widget* w) { w->selectMask(mask); });
    m_inputContexts[window] = ic;
    return ic;
}

void GUIX_Application::deliverKey(GUIX_Widget* widget, std::uint32_t sub, std::uint32_t character,
                                  bool release) {
    std::uint32_t id = static_cast<std::uint32_t>(widget->windowId());
    GUIX_Event ev(EV_KEY, id, id);
    ev.payload[0] = sub;
    ev.payload[1] = character;
    ev.payload[2] = release ? 1 : 0;
    widget->handleEvent(ev);
}

void GUIX_Application::translateKey(XEvent& xev, GUIX_Widget* widget) {
    const bool release = xev.type == KeyRelease;
    // Presses through the dialog's input context (any character the keyboard
    // or the input method gives, as UTF-8); releases, and a password
    // entry's keys, straight from the keysym.
    auto* dialog = dynamic_cast<GUIX_Dialog*>(widget->topLevel());
    const bool entry = dialog && dialog->currentFocus();
    XIC ic = release || !entry || secretFocus(widget) ? nullptr : inputContext(dialog->windowId());
    KeySym sym = NoSymbol;
    std::string chars;
    {
        GUIX_DisplayLock l;
        if (ic) {
            Status status = XLookupNone;
            chars.resize(64);
            int n =
                Xutf8LookupString(ic, &xev.xkey, chars.data(), static_cast<int>(chars.size()), &sym, &status);
            if (status == XBufferOverflow) {
                chars.resize(static_cast<std::size_t>(n));
                n = Xutf8LookupString(ic, &xev.xkey, chars.data(), n, &sym, &status);
            }
            chars.resize(status == XLookupChars || status == XLookupBoth ? static_cast<std::size_t>(n) : 0);
            if (status == XLookupChars) sym = NoSymbol;
        } else {
            XLookupString(&xev.xkey, nullptr, 0, &sym, nullptr);
        }
    }
    switch (sym) {
    case XK_Tab:
    case XK_KP_Tab:
    case XK_ISO_Left_Tab: deliverKey(widget, KEY_TAB, 0, release); return;
    case XK_BackSpace: deliverKey(widget, KEY_BACKSPACE, 0, release); return;
    case XK_Return:
    case XK_KP_Enter: deliverKey(widget, KEY_RETURN, 0, release); return;
    case XK_Delete:
    case XK_KP_Delete: deliverKey(widget, KEY_DELETE, 0, release); return;
    default: break;
    }
    if (!ic) {
        if (const std::uint32_t c = KeysymCharacter(sym)) deliverKey(widget, KEY_CHAR, c, release);
        return;
    }
    if (!IsUtf8(chars)) return;
    for (std::size_t pos = 0; pos < chars.size();) {
        const char32_t c = NextCodePoint(chars, pos);
        if (c >= 0x20 && c != 0x7F) deliverKey(widget, KEY_CHAR, c, false);  // not the control characters
    }
}
