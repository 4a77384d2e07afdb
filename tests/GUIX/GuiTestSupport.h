#pragma once
// GUI test helpers: one Xvfb + openbox per test process, the toolkit loop on a thread, and
// a second X connection through which the test acts as a user and reads pixels.

// gtest before Xlib: Xlib's None macro would break gtest's own headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GUIX_Application.h"
#include "GUIX_Dialog.h"
#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "XDisplay.h"

namespace guitest {

using testsupport::WaitFor;

// Plain log in a private HOME, so tests can read what the toolkit logged.
inline testsupport::TempDir& LogHome() {
    static testsupport::TempDir* dir = [] {
        auto* d = new testsupport::TempDir("guix-log");
        setenv("HOME", d->path().c_str(), 1);
        LogInit("guix-test.log", false, true);
        return d;
    }();
    return *dir;
}

inline std::string LogText() { return testsupport::ReadFile(LogHome().path() + "/ZEL/guix-test.log"); }

struct Pixel {
    int r, g, b;
    bool operator==(const Pixel&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Pixel& p) {
    return os << p.r << "," << p.g << "," << p.b;
}
using Image = std::vector<std::vector<Pixel>>;

// A user's own connection to the test display: XTest input and pixels read back.
class User {
public:
    User()
        : dpy_((GUIX_Application::instance(), XOpenDisplay(std::getenv("DISPLAY")))) {}  // XInitThreads first
    ~User() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    Display* dpy() const { return dpy_; }

    bool viewable(unsigned long w) {
        XWindowAttributes a{};
        return XGetWindowAttributes(dpy_, w, &a) && a.map_state == IsViewable;
    }
    bool waitViewable(unsigned long w, bool shown = true) {
        return WaitFor([&] { return viewable(w) == shown; }, 5000);
    }
    // Gives the keyboard focus to w and waits until the server reports it.
    bool focus(unsigned long w) {
        return WaitFor(
            [&] {
                Window f = 0;
                int revert = 0;
                XSetInputFocus(dpy_, w, RevertToParent, CurrentTime);
                XSync(dpy_, False);
                XGetInputFocus(dpy_, &f, &revert);
                return f == w;
            },
            5000, 50);
    }
    void key(KeySym sym, bool press) {
        XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, sym), press, CurrentTime), sync();
    }
    void tap(KeySym sym) { key(sym, true), key(sym, false); }
    void type(const std::string& text) {
        for (char c : text) tap(static_cast<unsigned char>(c));
    }
    void button(bool press) { XTestFakeButtonEvent(dpy_, 1, press, CurrentTime), sync(); }
    void moveTo(unsigned long w, int x, int y) {
        Window child = 0;
        XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), x, y, &x, &y, &child);
        XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime), sync();
    }
    // The window's top-left width x height pixels, as rows.
    Image image(unsigned long w, int width, int height) {
        Image rows;
        XImage* img = XGetImage(dpy_, w, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
        for (int y = 0; img && y < height; ++y) {
            rows.emplace_back();
            for (int x = 0; x < width; ++x) {
                unsigned long p = XGetPixel(img, x, y);
                rows.back().push_back({int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)});
            }
        }
        if (img) XDestroyImage(img);
        return rows;
    }

private:
    void sync() { XSync(dpy_, False); }
    Display* dpy_;
};

// Runs the toolkit loop on a thread of its own. Declare it after the widgets, so the loop
// stops before they go.
struct Loop {
    std::thread thread{[] { GUIX_Application::instance().run(); }};
    Loop() { EXPECT_TRUE(GUIX_Application::instance().waitUntilRunning(10000)) << "the loop did not start"; }
    ~Loop() {
        GUIX_Application::instance().quit();
        thread.join();
    }
};

// Runs runModal on a thread; a run still waiting at the end is ended by stopping the loop.
struct ModalRun {
    std::atomic<bool> done{false};
    std::atomic<int> result{-1};
    std::thread thread;
    explicit ModalRun(GUIX_Dialog* d)
        : thread([this, d] { result = GUIX_Application::instance().runModal(d), done = true; }) {}
    ~ModalRun() {
        if (!done) GUIX_Application::instance().quit();
        thread.join();
    }
    bool waitDone() {
        return WaitFor([&] { return done.load(); }, 3000);
    }
};

inline void Settle(int ms = 200) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Base fixture: the display of this process must be up.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        LogHome();
        auto* x = testsupport::XDisplayEnvironment::Current();
        ASSERT_TRUE(x && x->ok()) << (x ? x->error() : "no display environment");
        ASSERT_TRUE(GUIX_Application::instance().hasDisplay() && user.dpy());
    }
    // Runs d modally and waits until it is viewable (and focused, when asked).
    std::unique_ptr<ModalRun> Show(GUIX_Dialog& d, bool focus = false) {
        auto modal = std::make_unique<ModalRun>(&d);
        EXPECT_TRUE(user.waitViewable(d.windowId()));
        EXPECT_TRUE(!focus || user.focus(d.windowId()));
        return modal;
    }
    User user;
};

}  // namespace guitest

// One X server per test process.
#define GUIX_TEST_DISPLAY()                                                 \
    static ::testing::Environment* const guixTestDisplay [[maybe_unused]] = \
        ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment)
