// Keyboard and mouse, typed and clicked through XTest as a user would.

#include "GuiTestSupport.h"

#include "GUIX_Button.h"
#include "GUIX_MethodFunctor.h"
#include "GUIX_PasswordLine.h"
#include "GUIX_TextLine.h"

GUIX_TEST_DISPLAY();

using namespace guitest;

namespace {

// A dialog that records the key events the loop delivers to it.
class KeyDialog : public GUIX_Dialog {
public:
    KeyDialog() : GUIX_Dialog("Keys", 200, 80, 0x3) {}
    void handleEvent(const GUIX_Event& e) override {
        if (e.kind == EV_KEY) {
            std::lock_guard<std::mutex> g(mutex_);
            keys_.push_back(e);
        }
        GUIX_Dialog::handleEvent(e);
    }
    std::vector<GUIX_Event> keys() {
        std::lock_guard<std::mutex> g(mutex_);
        return keys_;
    }
    // Characters of the key presses seen so far ('\t' Tab, '\b' BackSpace, '\r' Return).
    std::string pressed() {
        std::string s;
        for (const auto& e : keys()) {
            if (e.keyRelease()) continue;
            switch (e.keyKind()) {
            case KEY_CHAR: s += e.keyChar(); break;
            case KEY_TAB: s += '\t'; break;
            case KEY_BACKSPACE: s += '\b'; break;
            case KEY_RETURN: s += '\r'; break;
            case KEY_DELETE: s += '\x7f'; break;
            }
        }
        return s;
    }

private:
    std::mutex mutex_;
    std::vector<GUIX_Event> keys_;
};

struct Counter {
    std::atomic<int> calls{0};
    void hit() { ++calls; }
};

template <class T>
GUIX_Functor* Bind(T* object, void (T::*method)()) {
    return new GUIX_MethodFunctor<T>(object, method);
}

class InputTest : public GuiTest {
protected:
    // Shows d modally and gives it the keyboard focus. The run must end
    // before the dialog goes: keep the result after the dialog.
    std::unique_ptr<ModalRun> Show(GUIX_Dialog& d) {
        auto modal = std::make_unique<ModalRun>(&d);
        EXPECT_TRUE(user.waitViewable(d.windowId()));
        EXPECT_TRUE(user.focus(d.windowId()));
        return modal;
    }
    Loop loop;
};

TEST_F(InputTest, ShiftSelectsTheUpperCaseAndAloneGivesNothing) {
    KeyDialog d;
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    user.key(XK_Shift_L, true);
    user.tap(XK_a);
    user.key(XK_Shift_L, false);
    user.tap(XK_b);
    ASSERT_TRUE(WaitFor([&] { return d.keys().size() >= 4; }, 3000)) << d.keys().size();
    Settle(100);
    auto keys = d.keys();
    ASSERT_EQ(keys.size(), 4u);  // a press and a release each; Shift itself gives none
    EXPECT_EQ(keys[0].keyKind(), KEY_CHAR);
    EXPECT_EQ(keys[0].keyChar(), 'A');
    EXPECT_FALSE(keys[0].keyRelease());
    EXPECT_TRUE(keys[1].keyRelease());
    EXPECT_EQ(keys[2].keyChar(), 'b');
    loop.stop();  // before the widgets go
}

TEST_F(InputTest, KeypadWithNumLockGivesDigitsAndCapsLockShiftsLetters) {
    KeyDialog d;
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    user.tap(XK_Num_Lock);  // NumLock on
    user.tap(XK_KP_5);
    user.key(XK_Shift_L, true);
    user.tap(XK_KP_5);      // with Shift: a keypad key without character
    user.key(XK_Shift_L, false);
    user.tap(XK_Num_Lock);  // off again
    user.tap(XK_Caps_Lock);
    user.type("q1");
    user.tap(XK_Caps_Lock);
    user.type("q");
    ASSERT_TRUE(WaitFor([&] { return d.pressed().size() >= 4; }, 3000)) << d.pressed();
    Settle(100);
    EXPECT_EQ(d.pressed(), "5Q1q");
    loop.stop();  // before the widgets go
}

TEST_F(InputTest, TypingBackSpaceAndTabEditTheFocusedEntry) {
    GUIX_Dialog d("Entries", 300, 100, 0x3);
    GUIX_TextLine first(&d, "", 10, 10, 200, 30, 0);
    GUIX_TextLine second(&d, "x", 10, 50, 200, 30, 0);
    EXPECT_TRUE(first.focused());
    EXPECT_EQ(second.cursor(), 1);
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    user.type("ab");
    user.tap(XK_BackSpace);
    user.type("c");
    user.tap(XK_Delete);  // the cursor is at the end: nothing to delete
    ASSERT_TRUE(WaitFor([&] { return first.text() == "ac"; }, 3000)) << first.text();
    EXPECT_EQ(first.cursor(), 2);
    user.tap(XK_Tab);
    ASSERT_TRUE(WaitFor([&] { return second.focused(); }, 3000));
    EXPECT_FALSE(first.focused());
    user.type("yz");
    user.tap(XK_Tab);  // wraps back to the first
    user.type("d");
    ASSERT_TRUE(WaitFor([&] { return first.text() == "acd"; }, 3000)) << first.text();
    EXPECT_EQ(second.text(), "xyz");
    // BackSpace on an empty entry does nothing.
    GUIX_TextLine lone(nullptr, "", 0, 0, 50, 20, 0);
    GUIX_Event bs(EV_KEY, static_cast<std::uint32_t>(lone.windowId()));
    bs.payload[0] = KEY_BACKSPACE;
    lone.handleEvent(bs);
    EXPECT_EQ(lone.text(), "");
    EXPECT_EQ(lone.cursor(), 0);
    loop.stop();  // before the widgets go
}

TEST_F(InputTest, ReturnCallsTheReturnCallbackAndThePasswordEntryKeepsTheRealText) {
    GUIX_Dialog d("Password", 300, 140, 0x3);
    GUIX_PasswordLine pw(&d, "", 10, 10, 200, 30, 0);
    GUIX_TextLine stars(&d, "******", 10, 50, 200, 30, 0);
    GUIX_TextLine plain(&d, "secret", 10, 90, 200, 30, 0);
    Counter returns;
    pw.setReturnCallback(Bind(&returns, &Counter::hit));
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    user.type("secret");
    user.tap(XK_Return);
    ASSERT_TRUE(WaitFor([&] { return returns.calls.load() == 1; }, 3000));
    EXPECT_EQ(pw.text(), "secret");
    // Inside the focus mark, the password entry shows what an entry holding
    // six asterisks shows, and not the text itself.
    auto inner = [&](const GUIX_Widget& w) {
        auto img = user.image(w.windowId(), 200, 30);
        std::vector<std::vector<Pixel>> out;
        for (std::size_t y = 4; y < 26 && y < img.size(); ++y)
            out.emplace_back(img[y].begin() + 4, img[y].begin() + 196);
        return out;
    };
    EXPECT_TRUE(WaitFor([&] { return inner(pw) == inner(stars); }, 3000));
    EXPECT_NE(inner(pw), inner(plain));
    loop.stop();  // before the widgets go
}

TEST_F(InputTest, ButtonCallsBackOnlyWhenReleasedOverIt) {
    GUIX_Dialog d("Buttons", 300, 100, 0x3);
    GUIX_Button b(&d, "Press", 50, 30, 100, 30);
    Counter clicks;
    b.setCallback(Bind(&clicks, &Counter::hit));
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    // Press and release inside: one call.
    user.moveTo(b.windowId(), 50, 15);
    ASSERT_TRUE(WaitFor([&] { return b.hovered(); }, 3000));
    user.button(true);
    ASSERT_TRUE(WaitFor([&] { return b.pressed(); }, 3000));
    user.button(false);
    ASSERT_TRUE(WaitFor([&] { return clicks.calls.load() == 1; }, 3000));
    EXPECT_FALSE(b.pressed());
    // Press, leave, release: none.
    user.button(true);
    ASSERT_TRUE(WaitFor([&] { return b.pressed(); }, 3000));
    user.moveTo(b.windowId(), 150, 15);
    ASSERT_TRUE(WaitFor([&] { return !b.hovered(); }, 3000));
    user.button(false);
    ASSERT_TRUE(WaitFor([&] { return !b.pressed(); }, 3000));
    Settle(100);
    EXPECT_EQ(clicks.calls.load(), 1);
    // Press, leave, come back, release: one more.
    user.moveTo(b.windowId(), 50, 15);
    ASSERT_TRUE(WaitFor([&] { return b.hovered(); }, 3000));
    user.button(true);
    ASSERT_TRUE(WaitFor([&] { return b.pressed(); }, 3000));
    user.moveTo(b.windowId(), 150, 15);
    ASSERT_TRUE(WaitFor([&] { return !b.hovered(); }, 3000));
    user.moveTo(b.windowId(), 50, 15);
    ASSERT_TRUE(WaitFor([&] { return b.hovered(); }, 3000));
    user.button(false);
    ASSERT_TRUE(WaitFor([&] { return clicks.calls.load() == 2; }, 3000));
    loop.stop();  // before the widgets go
}

}  // namespace
