// Dialogs with the window manager, and what the toolkit draws, read back as pixels.

#include "GuiTestSupport.h"

#include "GUIX_Label.h"

GUIX_TEST_DISPLAY();

using namespace guitest;

namespace {

class DialogTest : public GuiTest {
protected:
    // Asks the window manager to close the window titled title, once it lists it.
    void wmClose(const std::string& title) {
        auto listed = [&] {
            return testsupport::Run({"wmctrl", "-l"}, 5000).output.find(title) != std::string::npos;
        };
        ASSERT_TRUE(WaitFor(listed, 3000));
        EXPECT_EQ(testsupport::Run({"wmctrl", "-c", title}, 5000).exitCode, 0);
    }
    // The widget's pixels, once the exposures that follow showing it are painted.
    Image painted(const GUIX_Widget& w, int width, int height) {
        Settle(300);
        Image img = user.image(w.windowId(), width, height);
        EXPECT_EQ(img.size(), std::size_t(height));
        return img;
    }
};

// Answers close requests as told.
class GuardedDialog : public GUIX_Dialog {
public:
    GuardedDialog() : GUIX_Dialog("Guarded", 350, 60, 0x3) {}
    bool onCloseRequest() override {
        ++asked;
        if (allow) setResultCode(5);
        return allow;
    }
    std::atomic<bool> allow{false};
    std::atomic<int> asked{0};
};

TEST_F(DialogTest, FixedSizeAndWindowManagerCloseEndsTheModalWaitOnlyWhenAccepted) {
    GuardedDialog d;
    GUIX_Dialog plain("Plain", 200, 80, 0x3);
    Loop loop;
    auto modal = Show(d);
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(user.dpy(), d.windowId(), &hints, &supplied));
    EXPECT_EQ(hints.flags & (PMinSize | PMaxSize), PMinSize | PMaxSize);
    EXPECT_EQ((std::vector<int>{hints.min_width, hints.min_height, hints.max_width, hints.max_height}),
              (std::vector<int>{350, 60, 350, 60}));
    wmClose("Guarded");
    ASSERT_TRUE(WaitFor([&] { return d.asked.load() == 1; }, 3000));
    Settle(300);
    EXPECT_FALSE(modal->done);  // refused: still shown, caller still waiting
    EXPECT_TRUE(user.viewable(d.windowId()));
    d.allow = true;
    wmClose("Guarded");
    ASSERT_TRUE(modal->waitDone());
    EXPECT_EQ(modal->result.load(), 5);
    EXPECT_TRUE(user.waitViewable(d.windowId(), false));
    EXPECT_FALSE(GUIX_Application::instance().isDialogRegistered(d.windowId()));
    // Without a handler of its own the close is accepted with result 0, and the next run starts at 1.
    modal = Show(plain);
    wmClose("Plain");
    ASSERT_TRUE(modal->waitDone());
    EXPECT_EQ(modal->result.load(), 0);
    ASSERT_TRUE(user.waitViewable(plain.windowId(), false));
    modal = Show(plain);
    plain.close();
    ASSERT_TRUE(modal->waitDone());
    EXPECT_EQ(modal->result.load(), 1);
}

// Draws a rectangle outline and a red fill on a white ground.
class Canvas : public GUIX_Drawable {
public:
    explicit Canvas(GUIX_Widget* parent) : GUIX_Drawable(parent, 10, 10, 60, 20, 0) {}
    void draw() override {
        setBackgroundColor(GUIX_Color::white);
        clear(0);
        drawRect(GUIX_Color::black, 2, 3, 10, 6);
        fillRect(GUIX_Color(255, 0, 0), 20, 3, 4, 5);
    }
};

constexpr Pixel kWhite{255, 255, 255}, kBlack{0, 0, 0}, kRed{255, 0, 0};

struct Expected {
    int row, col;
    Pixel colour;
};

void ExpectPixels(const Image& img, const std::vector<Expected>& table, int tolerance = 0) {
    for (const auto& e : table) {
        const Pixel& p = img.at(std::size_t(e.row)).at(std::size_t(e.col));
        EXPECT_LE(
            std::max({std::abs(p.r - e.colour.r), std::abs(p.g - e.colour.g), std::abs(p.b - e.colour.b)}),
            tolerance)
            << "row " << e.row << " col " << e.col << ": " << p << " wanted " << e.colour;
    }
}

// How many pixels have the colour, and their bounding box.
struct Ink {
    int count = 0, minX = 1000, maxX = -1, minY = 1000, maxY = -1;
    Ink(const Image& img, const Pixel& colour) {
        for (int y = 0; y < int(img.size()); ++y)
            for (int x = 0; x < int(img[std::size_t(y)].size()); ++x)
                if (img[std::size_t(y)][std::size_t(x)] == colour) {
                    ++count;
                    minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y),
                    maxY = std::max(maxY, y);
                }
    }
};

TEST_F(DialogTest, RectangleOutlineAndFillCoverExactlyTheirSize) {
    GUIX_Dialog d("Canvas", 200, 100, 0x3);
    Canvas c(&d);
    Loop loop;
    auto modal = Show(d);
    auto img = painted(c, 60, 20);
    // drawRect(2, 3, 10, 6): columns 2..11, rows 3..8, outline only.
    ExpectPixels(img, {{3, 2, kBlack},
                       {3, 11, kBlack},
                       {8, 2, kBlack},
                       {8, 11, kBlack},
                       {3, 12, kWhite},
                       {9, 2, kWhite},
                       {2, 2, kWhite},
                       {3, 1, kWhite},
                       {5, 6, kWhite},
                       {7, 23, kRed}});
    EXPECT_EQ(Ink(img, kBlack).count, 2 * 10 + 2 * 4);
    Ink red(img, kRed);  // fillRect(20, 3, 4, 5)
    EXPECT_EQ((std::vector<int>{red.count, red.minX, red.maxX, red.minY, red.maxY}),
              (std::vector<int>{20, 20, 23, 3, 7}));
}

// A missing font falls back to "fixed", says so, and still draws.
TEST_F(DialogTest, LabelTextStartsAtFiveAndIsVerticallyCentredAndAMissingFontFallsBack) {
    GUIX_Dialog d("Label", 300, 100, 0x3);
    GUIX_Label label(&d, "Connecting...", 20, 17, 200, 26, 0);
    GUIX_Drawable::setFontName("guix-no-such-font-13");
    GUIX_Label fallback(&d, "Hello", 20, 60, 100, 30, 0);
    GUIX_Drawable::setFontName("6x13");
    EXPECT_NE(LogText().find("font \"guix-no-such-font-13\" not available, using \"fixed\""),
              std::string::npos)
        << LogText();
    label.setBackground(GUIX_Color::white);
    fallback.setBackground(GUIX_Color::white);
    Loop loop;
    auto modal = Show(d);
    // Where the font itself puts the ink of this text around its origin.
    XFontStruct* font = XLoadQueryFont(user.dpy(), "6x13");
    ASSERT_NE(font, nullptr);
    int dir = 0, ascent = 0, descent = 0;
    XCharStruct extent{};
    XTextExtents(font, "Connecting...", 13, &dir, &ascent, &descent, &extent);
    int baseline = 26 / 2 - (font->ascent + font->descent) / 2 + font->ascent;
    XFreeFont(user.dpy(), font);
    Ink ink(painted(label, 200, 26), kBlack);
    EXPECT_EQ((std::vector<int>{ink.minX, ink.maxX, ink.minY, ink.maxY}),
              (std::vector<int>{5 + extent.lbearing, 5 + extent.rbearing - 1, baseline - extent.ascent,
                                baseline + extent.descent - 1}));
    EXPECT_LE(std::abs((ink.minY + ink.maxY + 1) / 2 - 13), 2);  // the ink's middle near the label's
    EXPECT_GT(Ink(user.image(fallback.windowId(), 100, 30), kBlack).count, 10);
}

TEST_F(DialogTest, SunkenAndRaisedFramesHaveTheirShadesInTheRightRows) {
    GUIX_Dialog d("Frames", 300, 100, 0x3);
    GUIX_Label sunken(&d, "", 10, 10, 100, 30, GUIX_FRAME_SUNKEN);
    GUIX_Label raised(&d, "", 10, 50, 100, 30, GUIX_FRAME_RAISED);
    Loop loop;
    auto modal = Show(d);
    // Grey 200 toward black at 0.33 and 0.66 gives 134 and 68, toward white 218 and 236.
    auto grey = [](int v) { return Pixel{v, v, v}; };
    // Sunken: dark above and left, light below and right.
    ExpectPixels(painted(sunken, 100, 30),
                 {{0, 50, grey(134)},
                  {1, 50, grey(68)},
                  {15, 0, grey(134)},
                  {15, 1, grey(68)},
                  {29, 50, grey(218)},
                  {28, 50, grey(236)},
                  {15, 99, grey(218)},
                  {15, 50, grey(200)}},
                 1);
    // Raised: light above and left, dark below and right.
    ExpectPixels(painted(raised, 100, 30),
                 {{0, 50, grey(218)},
                  {1, 50, grey(236)},
                  {29, 50, grey(68)},
                  {28, 50, grey(134)},
                  {15, 98, grey(134)},
                  {15, 50, grey(200)}},
                 1);
}

}  // namespace
