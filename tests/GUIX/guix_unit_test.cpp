// Toolkit pieces that need no X server: the event record, text layout,
// colour mixing and the wait handshake.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>

#include "GUIX_Color.h"
#include "GUIX_Drawable.h"
#include "GUIX_Event.h"
#include "GUIX_WaitEvent.h"

namespace {

TEST(EventRecord, IsNineteenWordsWithPayloadZeroed) {
    EXPECT_EQ(sizeof(GUIX_Event), 76u);
    EXPECT_EQ(offsetof(GUIX_Event, kind), 0u);
    EXPECT_EQ(offsetof(GUIX_Event, source), 4u);
    EXPECT_EQ(offsetof(GUIX_Event, target), 8u);
    EXPECT_EQ(offsetof(GUIX_Event, payload), 12u);
    GUIX_Event e(EV_MOVE, 0x1234, 0x99);
    EXPECT_EQ(e.kind, 17u);
    EXPECT_EQ(e.target, 0x1234u);
    EXPECT_EQ(e.source, 0x99u);
    for (auto w : e.payload) EXPECT_EQ(w, 0u);
    // The fixed kind numbers of the wire format.
    EXPECT_EQ(EV_REGISTER_DIALOG, 23u);
    EXPECT_EQ(EV_QUIT, 25u);
    EXPECT_EQ(KEY_TAB, 4u);
}

// Layout with a 6-pixel fixed font, ascent 11, descent 2.
std::vector<GUIX_TextLineLayout> Layout(const std::string& text, int w, int h, std::uint32_t flags,
                                        int charWidth = 6) {
    return GUIX_Drawable::layoutText(text, w, h, flags, charWidth, 11, 2, nullptr, nullptr);
}

std::vector<std::string> Lines(const std::string& text, const std::vector<GUIX_TextLineLayout>& l) {
    std::vector<std::string> out;
    for (const auto& line : l) out.push_back(text.substr(line.start, line.length));
    return out;
}

TEST(TextBlock, SingleLinePlacement) {
    auto l = Layout("Connecting...", 200, 26, 0);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].x, 5);
    EXPECT_EQ(l[0].baseline, 26 / 2 - 13 / 2 + 11);
    EXPECT_EQ(Layout("Ok", 75, 30, GUIX_TEXT_HCENTER)[0].x, 75 / 2 - 12 / 2);
    EXPECT_EQ(Layout("Login:", 90, 30, GUIX_TEXT_RIGHT)[0].x, 90 - 36 - 5);
    EXPECT_EQ(Layout("x", 90, 30, GUIX_TEXT_TOP)[0].baseline, 16);
    EXPECT_EQ(Layout("x", 90, 30, GUIX_TEXT_BOTTOM)[0].baseline, 30 - 2 - 5);
}

TEST(TextBlock, WrapBreaksAtTheLastSpaceAndAtNewlines) {
    // 170 pixels: (170 - 10) / 6 = 26 characters per line.
    std::string text = "Proxy authentication required by the realm Squid on host";
    auto l = Layout(text, 170, 70, GUIX_TEXT_TOP | GUIX_TEXT_WRAP);
    auto lines = Lines(text, l);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Proxy authentication");
    EXPECT_EQ(lines[1], "required by the realm");
    EXPECT_EQ(lines[2], "Squid on host");
    EXPECT_EQ(l[1].baseline - l[0].baseline, 13);
    EXPECT_EQ(Lines("ab\ncd", Layout("ab\ncd", 170, 70, GUIX_TEXT_WRAP)),
              (std::vector<std::string>{"ab", "cd"}));
    // A word longer than a line is cut.
    std::string word(30, 'w');
    auto cut = Lines(word, Layout(word, 170, 70, GUIX_TEXT_WRAP));
    EXPECT_EQ(cut, (std::vector<std::string>{std::string(26, 'w'), std::string(4, 'w')}));
    // Bottom alignment lifts the first line by the others.
    auto bottom = Layout(text, 170, 70, GUIX_TEXT_BOTTOM | GUIX_TEXT_WRAP);
    EXPECT_EQ(bottom[0].baseline, 70 - 2 - 5 - 2 * 13);
}

TEST(TextBlock, NarrowWidgetOrZeroWidthFontStillEnds) {
    std::string text = "a narrow label";
    auto narrow = Layout(text, 4, 30, GUIX_TEXT_WRAP);
    std::size_t chars = 0;
    for (const auto& line : narrow) {
        EXPECT_GE(line.length, 1u);
        chars += line.length;
    }
    EXPECT_EQ(chars + 2, text.size());  // the two spaces between lines are skipped
    auto zero = Layout(text, 100, 30, GUIX_TEXT_WRAP, 0);
    EXPECT_FALSE(zero.empty());
    EXPECT_LE(zero.size(), text.size());
}

TEST(Colour, MixTruncatesPerChannel) {
    GUIX_Color grey(200, 200, 200);
    EXPECT_EQ(GUIX_Color::mix(grey, GUIX_Color::white, 0.66), GUIX_Color(236, 236, 236));
    EXPECT_EQ(GUIX_Color::mix(grey, GUIX_Color::black, 0.66), GUIX_Color(68, 68, 68));
    EXPECT_EQ(GUIX_Color::mix(GUIX_Color(10, 20, 30), GUIX_Color(20, 40, 60), 0.5), GUIX_Color(15, 30, 45));
}

TEST(WaitEvent, ManualStartsUnsignalledAndResetsAfterAWait) {
    GUIX_WaitEvent w(true);
    EXPECT_FALSE(w.wait(0, 20));
    w.signal(0);
    EXPECT_TRUE(w.wait(0, 20));
    EXPECT_FALSE(w.wait(0, 20));
    w.signal(1);
    EXPECT_FALSE(w.wait(0, 20));  // wrong value
    EXPECT_TRUE(w.wait(1, 20));
}

TEST(WaitEvent, NonManualStartsSignalledAndLetsEveryWaiterThrough) {
    GUIX_WaitEvent w(false);
    EXPECT_TRUE(w.wait(0, 0));
    EXPECT_TRUE(w.wait(0, 0));
    w.reset();
    std::atomic<int> through{0};
    std::thread a([&] { w.wait(7); ++through; });
    std::thread b([&] { w.wait(7); ++through; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(through.load(), 0);
    w.signal(7);
    a.join();
    b.join();
    EXPECT_EQ(through.load(), 2);
}

}  // namespace
