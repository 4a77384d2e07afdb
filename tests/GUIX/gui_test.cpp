// The toolkit on a real X server with a window manager: keys pressed through
// XTest, windows closed through wmctrl, events posted from other threads.

#include "XDisplay.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "GUIX_Application.h"
#include "GUIX_Dialog.h"
#include "GUIX_Drawable.h"
#include "GUIX_Font.h"
#include "GUIX_Widget.h"
#include "Utf8.h"

namespace {

using testsupport::WaitFor;

auto* const kDisplay [[maybe_unused]] =
    ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment);

GUIX_Application& App() { return GUIX_Application::instance(); }

// Records the key presses the loop delivers: their character, '\n' for
// Return, '?' for other keys.
class KeyDialog : public GUIX_Dialog {
public:
    KeyDialog() : GUIX_Dialog("Keys", 200, 80, 0x3) {}
    void handleEvent(const GUIX_Event& e) override {
        if (e.kind == EV_KEY && !e.keyRelease()) {
            std::lock_guard<std::mutex> g(mutex_);
            if (e.keyKind() == KEY_CHAR)
                AppendUtf8(keys_, e.keyCharacter());
            else
                keys_ += e.keyKind() == KEY_RETURN ? '\n' : '?';
        }
        GUIX_Dialog::handleEvent(e);
    }
    std::string keys() {
        std::lock_guard<std::mutex> g(mutex_);
        return keys_;
    }

private:
    std::mutex mutex_;
    std::string keys_;
};

// Posts records numbered n, with the complement at the end to show tearing.
class Poster : public GUIX_Widget {
public:
    Poster() : GUIX_Widget(nullptr) {}
    void handleEvent(const GUIX_Event& e) override {
        std::lock_guard<std::mutex> g(mutex_);
        seen_.push_back(e);
    }
    std::vector<GUIX_Event> seen() {
        std::lock_guard<std::mutex> g(mutex_);
        return seen_;
    }
    bool post(std::uint32_t n) {
        GUIX_Event e(EV_REPAINT, static_cast<std::uint32_t>(windowId()));
        e.payload[0] = n, e.payload[15] = ~n;
        return GUIX_Widget::post(e);
    }

private:
    std::mutex mutex_;
    std::vector<GUIX_Event> seen_;
};

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        x_ = testsupport::XDisplayEnvironment::Current();
        ASSERT_TRUE(x_ && x_->ok()) << (x_ ? x_->error() : "no display");
        ASSERT_TRUE(App().hasDisplay());
        user_ = XOpenDisplay(x_->display().c_str());
        ASSERT_TRUE(user_);
    }
    void TearDown() override {
        StopLoop();
        if (user_) XCloseDisplay(user_);
    }
    // Runs the loop on a thread until the guard returned goes: declare it
    // after the widgets, so the loop stops before they do.
    std::shared_ptr<void> StartLoop() {
        loop_ = std::thread([] { App().run(); });
        EXPECT_TRUE(App().waitUntilRunning(10000));
        return std::shared_ptr<void>(nullptr, [this](void*) { StopLoop(); });
    }
    void StopLoop() {
        App().quit();
        if (loop_.joinable()) loop_.join();
        if (modal_.joinable()) modal_.join();
    }
    // Runs d modally on a thread of its own until it ends; result_ gets its result.
    void Show(GUIX_Dialog& d) {
        if (modal_.joinable()) modal_.join();
        result_ = -1;
        modal_ = std::thread([&] { result_ = App().runModal(&d); });
        ASSERT_FALSE(x_->WaitForWindow(d.title()).empty());
    }
    bool Ended(int result) {
        return WaitFor([&] { return result_.load() == result; }, 5000);
    }
    void Key(KeySym sym, bool press) {
        XTestFakeKeyEvent(user_, XKeysymToKeycode(user_, sym), press, CurrentTime);
        XSync(user_, False);
    }

    testsupport::XDisplay* x_ = nullptr;
    Display* user_ = nullptr;
    std::thread loop_, modal_;
    std::atomic<int> result_{-1};
};

TEST_F(GuiTest, ModifiersAndLocksSelectTheCharacterAndBothEnterKeysConfirm) {
    struct {
        std::vector<KeySym> with;  // Shift held; the locks switched on around the key
        KeySym key;
        const char* seen;
    } cases[] = {
        {{}, XK_b, "b"},
        {{XK_Shift_L}, XK_a, "A"},
        {{XK_Caps_Lock}, XK_q, "Q"},
        {{XK_Caps_Lock}, XK_1, "1"},
        {{XK_Num_Lock}, XK_KP_5, "5"},
        {{XK_Num_Lock, XK_Shift_L}, XK_KP_5, ""},  // a keypad key without a character
        {{}, XK_Return, "\n"},
        {{}, XK_KP_Enter, "\n"},
        {{}, XK_Tab, "?"},
    };
    KeyDialog d;
    auto loop = StartLoop();
    Show(d);
    ASSERT_TRUE(x_->Do({"xdotool", "windowactivate", "--sync", x_->FindWindow("Keys")}));
    auto tap = [&](KeySym s) { Key(s, true), Key(s, false); };
    std::string expected;
    for (const auto& c : cases) {
        for (KeySym m : c.with) m == XK_Shift_L ? Key(m, true) : tap(m);
        tap(c.key);
        for (KeySym m : c.with) m == XK_Shift_L ? Key(m, false) : tap(m);
        expected += c.seen;
    }
    tap(XK_z);
    expected += "z";
    EXPECT_TRUE(WaitFor([&] { return d.keys() == expected; }, 5000)) << d.keys();
}

// Closing through the window manager asks the dialog; each modal run starts
// with a result of its own (1) whatever the run before it ended with.
TEST_F(GuiTest, WindowManagerCloseEndsTheModalRunOnlyWhenTheDialogAgrees) {
    struct Guarded : GUIX_Dialog {
        Guarded() : GUIX_Dialog("Guarded", 200, 80, 0x3) {}
        bool onCloseRequest() override {
            ++asked;
            if (allow) setResultCode(5);
            return allow;
        }
        std::atomic<bool> allow{false};
        std::atomic<int> asked{0};
    } d;
    auto loop = StartLoop();
    Show(d);
    ASSERT_TRUE(x_->Close("Guarded"));
    ASSERT_TRUE(WaitFor([&] { return d.asked.load() == 1; }, 5000));
    EXPECT_EQ(result_.load(), -1);
    d.allow = true;
    ASSERT_TRUE(x_->Close("Guarded"));
    EXPECT_TRUE(Ended(5));
    EXPECT_TRUE(x_->WaitForWindowGone("Guarded"));
    Show(d);
    d.close();
    EXPECT_TRUE(Ended(1));
}

TEST_F(GuiTest, PostedRecordsArriveWholeInOrderAndWithinTheLimitsOfX) {
    Poster r;
    GUIX_Drawable box(0, 0, 50, 20, 0), gone(0, 0, 50, 20, 0);
    EXPECT_FALSE(r.post(1)) << "no loop yet";
    auto loop = StartLoop();
    constexpr std::uint32_t kEach = 200, kB = 10000;
    auto poster = [&](std::uint32_t base) {
        for (std::uint32_t i = 0; i < kEach; ++i) EXPECT_TRUE(r.post(base + i));
    };
    std::thread a(poster, 0), b(poster, kB);
    a.join(), b.join();
    ASSERT_TRUE(WaitFor([&] { return r.seen().size() >= 2 * kEach; }, 10000)) << r.seen().size();
    std::uint32_t next[2] = {0, kB};
    for (const GUIX_Event& e : r.seen()) {
        EXPECT_EQ(e.payload[15], ~e.payload[0]) << "record torn";
        EXPECT_EQ(e.payload[0], next[e.payload[0] >= kB]++);
    }
    // X carries sizes in 16 bits: a queued height of 65536 must not arrive as
    // 0. A window another client destroyed gives an X error, not an exit.
    XDestroyWindow(user_, gone.windowId());
    XSync(user_, False);
    for (GUIX_Drawable* d : {&gone, &box}) {
        GUIX_Event resize(EV_RESIZE, static_cast<std::uint32_t>(d->windowId()));
        resize.payload[0] = 40, resize.payload[1] = 65536;
        ASSERT_TRUE(d->post(resize));
    }
    XWindowAttributes at{};
    EXPECT_TRUE(
        WaitFor([&] { return XGetWindowAttributes(user_, box.windowId(), &at) && at.height == 32767; }, 5000))
        << at.width << "x" << at.height;
    StopLoop();
    EXPECT_FALSE(r.post(2)) << "the loop has ended";
}

// What a text draws at (10, 40) of a 300 x 60 canvas: its ink, cropped to
// where it lies, one character a pixel ('#' ink, '.' none, '|' a new row).
std::string Ink(GUIX_Drawable& canvas, const std::function<void()>& draw) {
    canvas.fillRect(GUIX_Color::white, 0, 0, 300, 60);
    draw();
    GUIX_DisplayLock l;
    XSync(l.display(), False);
    XImage* image = XGetImage(l.display(), canvas.windowId(), 0, 0, 300, 60, AllPlanes, ZPixmap);
    if (!image) return "no image";
    const unsigned long paper = XGetPixel(image, 0, 0);
    int x0 = 300, y0 = 60, x1 = -1, y1 = -1;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 300; ++x)
            if (XGetPixel(image, x, y) != paper)
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    std::string ink;
    for (int y = y0; y <= y1; ++y, ink += '|')
        for (int x = x0; x <= x1; ++x) ink += XGetPixel(image, x, y) != paper ? '#' : '.';
    XDestroyImage(image);
    return ink;
}

}  // namespace

// A Japanese message in UTF-8 and a German one in Windows-1252 reach the
// screen as glyphs: each character draws ink of its own, neither the box
// of a character that no font has nor '?'. The core fonts draw without Xft.
TEST_F(GuiTest, ServerMessagesAreDrawnAsGlyphsAlsoInTheCoreFont) {
    GUIX_Drawable canvas(0, 0, 300, 60, 0);
    canvas.handleEvent(GUIX_Event(EV_SHOW, static_cast<std::uint32_t>(canvas.windowId())));
    XFlush(App().display());
    XWindowAttributes at{};
    ASSERT_TRUE(WaitFor(
        [&] { return XGetWindowAttributes(user_, canvas.windowId(), &at) && at.map_state == IsViewable; },
        5000));
    GUIX_Font* font = App().font();
    ASSERT_TRUE(font && font->antialiased()) << "no Xft font";
    GUIX_DisplayLock l;
    GUIX_Font core(l.display(), App().screen(), 13, "", false);
    GC gc = XCreateGC(l.display(), canvas.windowId(), 0, nullptr);
    l.release();
    ASSERT_TRUE(core.ok() && !core.antialiased());
    using Draw = std::function<std::string(std::string_view)>;
    const Draw xft = [&](std::string_view t) {
        return Ink(canvas, [&] { canvas.drawString(GUIX_Color::black, t, 10, 40); });
    };
    const Draw fixed = [&](std::string_view t) {
        return Ink(canvas, [&] {
            GUIX_DisplayLock d;
            core.drawCore(canvas.windowId(), gc, 10, 40, t);
        });
    };
    const std::string japanese =
        ToUtf8Text("\xe6\x8b\x85\xe5\xbd\x93\xe8\x80\x85\xe3\x81\xab\xe3\x82\xbb\xe3\x83\x83");
    const std::string german = ToUtf8Text("\x84Sitzung\x93 w\xe4hlt \x80 \xdc\xdf");
    EXPECT_EQ(german, "\u201eSitzung\u201c w\u00e4hlt \u20ac \u00dc\u00df");
    const struct {
        const char* font;
        const Draw& draw;
        std::string texts;
    } fonts[] = {{"Xft", xft, japanese + german}, {"core", fixed, german}};
    for (const auto& [name, draw, texts] : fonts) {
        SCOPED_TRACE(name);
        const std::string box = draw("\u0378"), question = draw("?");  // U+0378: no character
        for (std::size_t pos = 0; pos < texts.size();) {
            const std::size_t start = pos;
            if (NextCodePoint(texts, pos) == ' ') continue;
            const std::string ink = draw(texts.substr(start, pos - start));
            EXPECT_TRUE(!ink.empty() && ink != box && ink != question) << texts.substr(start, pos - start);
        }
    }
    EXPECT_GT(font->textWidth(japanese), 6 * font->textWidth("x"));
    EXPECT_EQ(core.textWidth("w\u00e4hlt"), 5 * core.textWidth("w"));  // one cell a character
    GUIX_DisplayLock d;
    XFreeGC(d.display(), gc);
}
