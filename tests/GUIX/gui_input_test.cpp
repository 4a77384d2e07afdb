// Keyboard and mouse, typed and clicked through XTest as a user would.

#include "GuiTestSupport.h"

#include "GUIX_Button.h"
#include "GUIX_MethodFunctor.h"
#include "GUIX_PasswordLine.h"
#include "GUIX_TextLine.h"

GUIX_TEST_DISPLAY();

using namespace guitest;

namespace {

// A dialog that records the key events the loop delivers to it: the character of each
// press ('?' for other keys), '^' for each release.
class KeyDialog : public GUIX_Dialog {
public:
    KeyDialog() : GUIX_Dialog("Keys", 200, 80, 0x3) {}
    void handleEvent(const GUIX_Event& e) override {
        if (e.kind == EV_KEY) {
            std::lock_guard<std::mutex> g(mutex_);
            seen_ += e.keyRelease() ? '^' : e.keyKind() == KEY_CHAR ? e.keyChar() : '?';
        }
        GUIX_Dialog::handleEvent(e);
    }
    std::string seen() {
        std::lock_guard<std::mutex> g(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::string seen_;
};

struct Counter {
    std::atomic<int> calls{0};
    void hit() { ++calls; }
    GUIX_Functor* functor() { return new GUIX_MethodFunctor<Counter>(this, &Counter::hit); }
};

class InputTest : public GuiTest {};

TEST_F(InputTest, ShiftNumLockAndCapsLockSelectTheCharacter) {
    KeyDialog d;
    Loop loop;
    auto modal = Show(d, true);
    user.key(XK_Shift_L, true);
    user.tap(XK_a);               // 'A'
    user.key(XK_Shift_L, false);  // Shift alone: nothing
    user.tap(XK_b);
    user.tap(XK_Num_Lock);
    user.tap(XK_KP_5);  // '5'
    user.key(XK_Shift_L, true);
    user.tap(XK_KP_5);  // with Shift: a keypad key without character
    user.key(XK_Shift_L, false);
    user.tap(XK_Num_Lock);
    user.tap(XK_Caps_Lock);
    user.type("q1");  // 'Q' and '1'
    user.tap(XK_Caps_Lock);
    user.type("q");
    ASSERT_TRUE(WaitFor([&] { return d.seen().size() >= 12; }, 3000)) << d.seen();
    Settle(100);
    EXPECT_EQ(d.seen(), "A^b^5^Q^1^q^");
}

TEST_F(InputTest, TypingBackSpaceAndTabEditTheFocusedEntry) {
    GUIX_Dialog d("Entries", 300, 100, 0x3);
    GUIX_TextLine first(&d, "", 10, 10, 200, 30, 0);
    GUIX_TextLine second(&d, "x", 10, 50, 200, 30, 0);
    Loop loop;
    auto modal = Show(d, true);
    user.type("ab");
    user.tap(XK_BackSpace);
    user.type("c");
    user.tap(XK_Delete);  // the cursor is at the end: nothing to delete
    ASSERT_TRUE(WaitFor([&] { return first.text() == "ac"; }, 3000)) << first.text();
    user.tap(XK_Tab);
    ASSERT_TRUE(WaitFor([&] { return second.focused() && !first.focused(); }, 3000));
    user.type("yz");
    user.tap(XK_Tab);  // wraps back to the first
    user.type("d");
    ASSERT_TRUE(WaitFor([&] { return first.text() == "acd"; }, 3000)) << first.text();
    EXPECT_EQ(second.text(), "xyz");
    // BackSpace on an empty entry stays in bounds.
    GUIX_TextLine lone(nullptr, "", 0, 0, 50, 20, 0);
    GUIX_Event bs(EV_KEY, static_cast<std::uint32_t>(lone.windowId()));
    bs.payload[0] = KEY_BACKSPACE;
    lone.handleEvent(bs);
    EXPECT_EQ(lone.text(), "");
    EXPECT_EQ(lone.cursor(), 0);
}

TEST_F(InputTest, ReturnCallsTheReturnCallbackAndThePasswordEntryKeepsTheRealText) {
    GUIX_Dialog d("Password", 300, 140, 0x3);
    GUIX_PasswordLine pw(&d, "", 10, 10, 200, 30, 0);
    GUIX_TextLine stars(&d, "******", 10, 50, 200, 30, 0);
    GUIX_TextLine plain(&d, "secret", 10, 90, 200, 30, 0);
    Counter returns;
    pw.setReturnCallback(returns.functor());
    Loop loop;
    auto modal = Show(d, true);
    user.type("secret");
    user.tap(XK_Return);
    ASSERT_TRUE(WaitFor([&] { return returns.calls.load() == 1; }, 3000));
    EXPECT_EQ(pw.text(), "secret");
    // Inside the focus mark, it shows what an entry holding six asterisks shows.
    auto inner = [&](const GUIX_Widget& w) {
        Image img = user.image(w.windowId(), 200, 30), out;
        for (std::size_t y = 4; y < 26 && y < img.size(); ++y)
            out.emplace_back(img[y].begin() + 4, img[y].end() - 4);
        return out;
    };
    EXPECT_TRUE(WaitFor([&] { return inner(pw) == inner(stars); }, 3000));
    EXPECT_NE(inner(pw), inner(plain));
}

TEST_F(InputTest, ButtonCallsBackOnlyWhenReleasedOverIt) {
    GUIX_Dialog d("Buttons", 300, 100, 0x3);
    GUIX_Button b(&d, "Press", 50, 30, 100, 30);
    Counter clicks;
    b.setCallback(clicks.functor());
    Loop loop;
    auto modal = Show(d, true);
    auto move = [&](int x) {  // inside the 100-pixel button below 100, outside above
        user.moveTo(b.windowId(), x, 15);
        return WaitFor([&] { return b.hovered() == (x < 100); }, 3000);
    };
    auto press = [&](bool down) {
        user.button(down);
        return WaitFor([&] { return b.pressed() == down; }, 3000);
    };
    // Press and release inside: one call.
    ASSERT_TRUE(move(50) && press(true) && press(false));
    ASSERT_TRUE(WaitFor([&] { return clicks.calls.load() == 1; }, 3000));
    // Press, leave, release: none.
    ASSERT_TRUE(press(true) && move(150) && press(false));
    Settle(100);
    EXPECT_EQ(clicks.calls.load(), 1);
    // Press, leave, come back, release: one more.
    ASSERT_TRUE(move(50) && press(true) && move(150) && move(50) && press(false));
    ASSERT_TRUE(WaitFor([&] { return clicks.calls.load() == 2; }, 3000));
}

}  // namespace
