#pragma once
// Shared pieces of the toolkit's GUI tests: one Xvfb + openbox per test
// process, the toolkit loop on its own thread, and a second X connection
// through which the test acts as a user (XTest) and reads back pixels.

// gtest before Xlib: Xlib's None macro would break gtest's own headers.
#include <gtest/gtest.h>

#include "Subprocess.h"
#include "TempDir.h"
#include "XDisplay.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GUIX_Application.h"
#include "GUIX_Dialog.h"
#include "Log.h"

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

inline std::string LogText() {
    return testsupport::ReadFile(LogHome().path() + "/ZEL/guix-test.log");
}

struct Pixel {
    int r = 0, g = 0, b = 0;
    bool operator==(const Pixel&) const = default;
};

inline ::std::ostream& operator<<(::std::ostream& os, const Pixel& p) {
    return os << "(" << p.r << "," << p.g << "," << p.b << ")";
}

// A user's own connection to the test display.
class User {
public:
    User() {
        GUIX_Application::instance();  // XInitThreads comes first
        dpy_ = XOpenDisplay(std::getenv("DISPLAY"));
    }
    ~User() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    Display* dpy() const { return dpy_; }

    bool viewable(unsigned long w) {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(dpy_, w, &a)) return false;
        return a.map_state == IsViewable;
    }
    bool waitViewable(unsigned long w, int ms = 5000) {
        return testsupport::WaitFor([&] { return viewable(w); }, ms);
    }
    bool waitHidden(unsigned long w, int ms = 5000) {
        return testsupport::WaitFor([&] { return !viewable(w); }, ms);
    }
    // Gives the keyboard focus to w and waits until the server reports it.
    bool focus(unsigned long w) {
        return testsupport::WaitFor(
            [&] {
                XSetInputFocus(dpy_, w, RevertToParent, CurrentTime);
                XSync(dpy_, False);
                Window f = 0;
                int revert = 0;
                XGetInputFocus(dpy_, &f, &revert);
                return f == w;
            },
            5000, 50);
    }
    void key(KeySym sym, bool press) {
        KeyCode code = XKeysymToKeycode(dpy_, sym);
        XTestFakeKeyEvent(dpy_, code, press ? True : False, CurrentTime);
        XSync(dpy_, False);
    }
    void tap(KeySym sym) {
        key(sym, true);
        key(sym, false);
    }
    void type(const std::string& text) {
        for (char c : text) tap(static_cast<KeySym>(static_cast<unsigned char>(c)));
    }
    // Moves the pointer to (x, y) inside window w.
    void moveTo(unsigned long w, int x, int y) {
        int rx = 0, ry = 0;
        Window child = 0;
        XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), x, y, &rx, &ry, &child);
        XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), rx, ry, CurrentTime);
        XSync(dpy_, False);
    }
    void button(bool press) {
        XTestFakeButtonEvent(dpy_, 1, press ? True : False, CurrentTime);
        XSync(dpy_, False);
    }
    Pixel pixel(unsigned long w, int x, int y) {
        XImage* img = XGetImage(dpy_, w, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!img) return Pixel{-1, -1, -1};
        unsigned long p = XGetPixel(img, 0, 0);
        XDestroyImage(img);
        return Pixel{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
                     static_cast<int>(p & 0xFF)};
    }
    // The whole window as rows of pixels.
    std::vector<std::vector<Pixel>> image(unsigned long w, int width, int height) {
        std::vector<std::vector<Pixel>> rows(static_cast<std::size_t>(height),
                                             std::vector<Pixel>(static_cast<std::size_t>(width)));
        XImage* img = XGetImage(dpy_, w, 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (!img) return {};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                unsigned long p = XGetPixel(img, x, y);
                rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] =
                    Pixel{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
                          static_cast<int>(p & 0xFF)};
            }
        XDestroyImage(img);
        return rows;
    }

private:
    Display* dpy_ = nullptr;
};

// Runs the toolkit loop on a thread of its own for the test's duration.
class Loop {
public:
    Loop() {
        thread_ = std::thread([this] { ran_ = GUIX_Application::instance().run(); });
        started_ = GUIX_Application::instance().waitUntilRunning(10000);
    }
    ~Loop() { stop(); }
    bool started() const { return started_; }
    void stop() {
        if (!thread_.joinable()) return;
        GUIX_Application::instance().quit();
        thread_.join();
    }

private:
    std::thread thread_;
    std::atomic<bool> ran_{false};
    bool started_ = false;
};

// Base fixture: the display of this process must be up.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        LogHome();
        auto* x = testsupport::XDisplayEnvironment::Current();
        ASSERT_NE(x, nullptr);
        ASSERT_TRUE(x->ok()) << x->error();
        ASSERT_TRUE(GUIX_Application::instance().hasDisplay());
        ASSERT_NE(user.dpy(), nullptr);
    }
    User user;
};

// Runs runModal on a thread and tells when it has returned.
class ModalRun {
public:
    explicit ModalRun(GUIX_Dialog* d) {
        thread_ = std::thread([this, d] {
            result_ = GUIX_Application::instance().runModal(d);
            done_ = true;
        });
    }
    ~ModalRun() {
        // A run still waiting is ended by stopping the loop, which ends every shown dialog.
        if (!done_.load()) GUIX_Application::instance().quit();
        if (thread_.joinable()) thread_.join();
    }
    bool waitDone(int ms) { return testsupport::WaitFor([&] { return done_.load(); }, ms); }
    bool done() const { return done_.load(); }
    int result() const { return result_.load(); }

private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<int> result_{-1};
};

inline void Settle(int ms = 200) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace guitest

// One X server per test process.
#define GUIX_TEST_DISPLAY()                                                                        \
    static ::testing::Environment* const guixTestDisplay [[maybe_unused]] =                        \
        ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment)
