// Dialogs with the window manager, and what the toolkit draws, read back as pixels.

#include "GuiTestSupport.h"

#include <X11/Xatom.h>

#include "GUIX_Label.h"

GUIX_TEST_DISPLAY();

using namespace guitest;

namespace {

class DialogTest : public GuiTest {
protected:
    Loop loop;
};

// Answers close requests as told.
class GuardedDialog : public GUIX_Dialog {
public:
    explicit GuardedDialog(const std::string& title) : GUIX_Dialog(title, 350, 60, 0x3) {}
    bool onCloseRequest() override {
        ++asked;
        if (!allow.load()) return false;
        setResultCode(5);
        return true;
    }
    std::atomic<bool> allow{false};
    std::atomic<int> asked{0};
};

testsupport::RunResult Wmctrl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"wmctrl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::Run(argv, 5000);
}

TEST_F(DialogTest, FixedSizeHintsTitleAndCloseProtocol) {
    ASSERT_TRUE(loop.started());
    GUIX_Dialog d("Connection Status", 350, 60, 0x3);
    ModalRun modal(&d);
    ASSERT_TRUE(user.waitViewable(d.windowId()));
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(user.dpy(), d.windowId(), &hints, &supplied));
    EXPECT_EQ(hints.flags & (PMinSize | PMaxSize | PSize | PPosition), PMinSize | PMaxSize | PSize | PPosition);
    EXPECT_EQ(hints.min_width, 350);
    EXPECT_EQ(hints.min_height, 60);
    EXPECT_EQ(hints.max_width, 350);
    EXPECT_EQ(hints.max_height, 60);
    char* name = nullptr;
    ASSERT_TRUE(XFetchName(user.dpy(), d.windowId(), &name));
    EXPECT_STREQ(name, "Connection Status");
    XFree(name);
    Atom* protocols = nullptr;
    int count = 0;
    ASSERT_TRUE(XGetWMProtocols(user.dpy(), d.windowId(), &protocols, &count));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(protocols[0], XInternAtom(user.dpy(), "WM_DELETE_WINDOW", True));
    XFree(protocols);
    // The window manager lists it under its title.
    EXPECT_TRUE(WaitFor([] { return Wmctrl({"-l"}).output.find("Connection Status") != std::string::npos; }, 3000));
    d.close();
    EXPECT_TRUE(modal.waitDone(3000));
    loop.stop();  // before the widgets go
}

TEST_F(DialogTest, WindowManagerCloseEndsTheModalWaitOnlyWhenAccepted) {
    ASSERT_TRUE(loop.started());
    GuardedDialog d("Guarded");
    ModalRun modal(&d);
    ASSERT_TRUE(user.waitViewable(d.windowId()));
    ASSERT_TRUE(WaitFor([] { return Wmctrl({"-l"}).output.find("Guarded") != std::string::npos; }, 3000));
    EXPECT_EQ(Wmctrl({"-c", "Guarded"}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return d.asked.load() == 1; }, 3000));
    Settle(300);
    EXPECT_FALSE(modal.done());  // refused: still shown, caller still waiting
    EXPECT_TRUE(user.viewable(d.windowId()));
    d.allow = true;
    EXPECT_EQ(Wmctrl({"-c", "Guarded"}).exitCode, 0);
    ASSERT_TRUE(modal.waitDone(3000));
    EXPECT_EQ(modal.result(), 5);
    EXPECT_TRUE(user.waitHidden(d.windowId()));
    EXPECT_FALSE(GUIX_Application::instance().isDialogRegistered(d.windowId()));
    loop.stop();  // before the widgets go
}

TEST_F(DialogTest, DefaultCloseGivesResultZeroAndTheNextRunStartsAtOne) {
    ASSERT_TRUE(loop.started());
    GUIX_Dialog d("Plain", 200, 80, 0x3);
    {
        ModalRun modal(&d);
        ASSERT_TRUE(user.waitViewable(d.windowId()));
        ASSERT_TRUE(WaitFor([] { return Wmctrl({"-l"}).output.find("Plain") != std::string::npos; }, 3000));
        Wmctrl({"-c", "Plain"});
        ASSERT_TRUE(modal.waitDone(3000));
        EXPECT_EQ(modal.result(), 0);
    }
    ASSERT_TRUE(user.waitHidden(d.windowId()));
    ModalRun again(&d);
    ASSERT_TRUE(user.waitViewable(d.windowId()));
    d.close();  // ended without a result of its own
    ASSERT_TRUE(again.waitDone(3000));
    EXPECT_EQ(again.result(), 1);
    loop.stop();  // before the widgets go
}

// Draws what the test asks for on a white ground.
class Canvas : public GUIX_Drawable {
public:
    Canvas(GUIX_Widget* parent, int w, int h) : GUIX_Drawable(parent, 10, 10, w, h, 0) {}
    void draw() override {
        setBackgroundColor(GUIX_Color::white);
        clear(0);
        drawRect(GUIX_Color::black, 2, 3, 10, 6);
        fillRect(GUIX_Color(255, 0, 0), 20, 3, 4, 5);
    }
};

class DrawingTest : public DialogTest {
protected:
    // The run must end before the dialog goes: keep the result after the dialog.
    std::unique_ptr<ModalRun> Show(GUIX_Dialog& d) {
        auto modal = std::make_unique<ModalRun>(&d);
        EXPECT_TRUE(user.waitViewable(d.windowId()));
        Settle(300);  // let the exposures be painted
        return modal;
    }
};

constexpr Pixel kWhite{255, 255, 255};
constexpr Pixel kBlack{0, 0, 0};

bool Near(const Pixel& a, const Pixel& b) {
    return std::abs(a.r - b.r) <= 1 && std::abs(a.g - b.g) <= 1 && std::abs(a.b - b.b) <= 1;
}

TEST_F(DrawingTest, RectangleOutlineAndFillCoverExactlyTheirSize) {
    GUIX_Dialog d("Canvas", 200, 100, 0x3);
    Canvas c(&d, 60, 20);
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    auto img = user.image(c.windowId(), 60, 20);
    ASSERT_EQ(img.size(), 20u);
    // drawRect(2, 3, 10, 6): columns 2..11, rows 3..8.
    EXPECT_EQ(img[3][2], kBlack);
    EXPECT_EQ(img[3][11], kBlack);
    EXPECT_EQ(img[8][2], kBlack);
    EXPECT_EQ(img[8][11], kBlack);
    EXPECT_EQ(img[3][12], kWhite);
    EXPECT_EQ(img[9][2], kWhite);
    EXPECT_EQ(img[2][2], kWhite);
    EXPECT_EQ(img[3][1], kWhite);
    EXPECT_EQ(img[5][6], kWhite);  // outline only
    // fillRect(20, 3, 4, 5): columns 20..23, rows 3..7.
    int red = 0;
    for (const auto& row : img)
        for (const auto& p : row) red += p == Pixel{255, 0, 0};
    EXPECT_EQ(red, 20);
    EXPECT_EQ(img[7][23], (Pixel{255, 0, 0}));
    loop.stop();  // before the widgets go
}

TEST_F(DrawingTest, LabelTextStartsAtFiveAndIsVerticallyCentred) {
    GUIX_Dialog d("Label", 300, 100, 0x3);
    GUIX_Label label(&d, "Connecting...", 20, 17, 200, 26, 0);
    label.setBackground(GUIX_Color::white);
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    // Where the font itself puts the ink of this text around its origin.
    XFontStruct* font = XLoadQueryFont(user.dpy(), "6x13");
    ASSERT_NE(font, nullptr);
    int dir = 0, ascent = 0, descent = 0;
    XCharStruct extent{};
    XTextExtents(font, "Connecting...", 13, &dir, &ascent, &descent, &extent);
    int baseline = 26 / 2 - (font->ascent + font->descent) / 2 + font->ascent;
    XFreeFont(user.dpy(), font);
    auto img = user.image(label.windowId(), 200, 26);
    ASSERT_EQ(img.size(), 26u);
    int minX = 1000, maxX = -1, minY = 1000, maxY = -1;
    for (int y = 0; y < 26; ++y)
        for (int x = 0; x < 200; ++x)
            if (img[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == kBlack) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    EXPECT_EQ(minX, 5 + extent.lbearing);
    EXPECT_EQ(maxX, 5 + extent.rbearing - 1);
    EXPECT_EQ(minY, baseline - extent.ascent);
    EXPECT_EQ(maxY, baseline + extent.descent - 1);
    // Centred: the ink's middle is within a pixel or two of the label's middle.
    EXPECT_LE(std::abs((minY + maxY + 1) / 2 - 13), 2);
    loop.stop();  // before the widgets go
}

TEST_F(DrawingTest, SunkenAndRaisedFramesHaveTheirShadesInTheRightRows) {
    GUIX_Dialog d("Frames", 300, 100, 0x3);
    GUIX_Label sunken(&d, "", 10, 10, 100, 30, GUIX_FRAME_SUNKEN);
    GUIX_Label raised(&d, "", 10, 50, 100, 30, GUIX_FRAME_RAISED);
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    // Grey 200 as light and background: toward black at 0.33 and 0.66 gives
    // 134 and 68, toward white 218 and 236 (truncated, so one less may come out).
    auto s = user.image(sunken.windowId(), 100, 30);
    auto r = user.image(raised.windowId(), 100, 30);
    ASSERT_EQ(s.size(), 30u);
    ASSERT_EQ(r.size(), 30u);
    auto grey = [](int v) { return Pixel{v, v, v}; };
    // Sunken: dark above and left, light below and right.
    EXPECT_TRUE(Near(s[0][50], grey(134))) << s[0][50];
    EXPECT_TRUE(Near(s[1][50], grey(68))) << s[1][50];
    EXPECT_TRUE(Near(s[15][0], grey(134))) << s[15][0];
    EXPECT_TRUE(Near(s[15][1], grey(68))) << s[15][1];
    EXPECT_TRUE(Near(s[29][50], grey(218))) << s[29][50];
    EXPECT_TRUE(Near(s[28][50], grey(236))) << s[28][50];
    EXPECT_TRUE(Near(s[15][99], grey(218))) << s[15][99];
    EXPECT_EQ(s[15][50], grey(200));  // the inside keeps the background
    // Raised: light above and left, dark below and right.
    EXPECT_TRUE(Near(r[0][50], grey(218))) << r[0][50];
    EXPECT_TRUE(Near(r[1][50], grey(236))) << r[1][50];
    EXPECT_TRUE(Near(r[29][50], grey(68))) << r[29][50];
    EXPECT_TRUE(Near(r[28][50], grey(134))) << r[28][50];
    EXPECT_TRUE(Near(r[15][98], grey(134))) << r[15][98];
    EXPECT_EQ(r[15][50], grey(200));
    loop.stop();  // before the widgets go
}

TEST_F(DrawingTest, MissingFontFallsBackToFixedAndSaysSo) {
    GUIX_Drawable::setFontName("guix-no-such-font-13");
    GUIX_Dialog d("Fallback", 300, 100, 0x3);
    GUIX_Label label(&d, "Hello", 10, 10, 100, 30, 0);
    GUIX_Drawable::setFontName("6x13");
    EXPECT_TRUE(label.hasFont());
    EXPECT_GT(label.lineHeight(), 0);
    EXPECT_NE(LogText().find("font \"guix-no-such-font-13\" not available, using \"fixed\""), std::string::npos)
        << LogText();
    label.setBackground(GUIX_Color::white);
    ASSERT_TRUE(loop.started());
    auto modal = Show(d);
    auto img = user.image(label.windowId(), 100, 30);
    int ink = 0;
    for (const auto& row : img)
        for (const auto& p : row) ink += p == kBlack;
    EXPECT_GT(ink, 10);  // the text is drawn with the fallback
    loop.stop();  // before the widgets go
}

}  // namespace
