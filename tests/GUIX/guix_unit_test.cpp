// Toolkit pieces that need no X server: text layout and colour mixing.

#include <gtest/gtest.h>

#include "GUIX_Color.h"
#include "GUIX_Drawable.h"
#include "GUIX_Scale.h"
#include "Utf8.h"

namespace {

// Layout with a font of charWidth pixels a character, ascent 11, descent 2, margins 5.
std::vector<GUIX_TextLineLayout> Layout(const std::string& text, int w, int h, std::uint32_t flags,
                                        int charWidth = 6) {
    return GUIX_Drawable::layoutText(text, w, h, flags, 11, 2, 5, [charWidth](std::string_view s) {
        int n = 0;
        for (std::size_t pos = 0; pos < s.size(); ++n) NextCodePoint(s, pos);
        return n * charWidth;
    });
}

std::vector<std::string> Lines(const std::string& text, std::uint32_t flags) {
    std::vector<std::string> out;
    for (const auto& line : Layout(text, 170, 70, flags)) out.push_back(text.substr(line.start, line.length));
    return out;
}

TEST(TextBlock, SingleLinePlacement) {
    constexpr int kMid = 26 / 2 - 13 / 2 + 11;  // the baseline of a vertically centred line
    struct {
        const char* text;
        int width;
        std::uint32_t flags;
        int x, baseline;
    } cases[] = {
        {"Connecting...", 200, 0, 5, kMid},
        {"Ok", 75, GUIX_TEXT_HCENTER, 75 / 2 - 12 / 2, kMid},
        {"Login:", 90, GUIX_TEXT_RIGHT, 90 - 36 - 5, kMid},
        {"x", 90, GUIX_TEXT_TOP, 5, 11 + 5},
        {"x", 90, GUIX_TEXT_BOTTOM, 5, 26 - 2 - 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto l = Layout(c.text, c.width, 26, c.flags);
        ASSERT_EQ(l.size(), 1u);
        EXPECT_EQ(l[0].x, c.x);
        EXPECT_EQ(l[0].baseline, c.baseline);
    }
}

TEST(TextBlock, WrapBreaksAtTheLastSpaceAtNewlinesAndCutsLongWords) {
    // 170 pixels: (170 - 10) / 6 = 26 characters per line.
    std::string text = "Proxy authentication required by the realm Squid on host";
    using V = std::vector<std::string>;
    EXPECT_EQ(Lines(text, GUIX_TEXT_TOP | GUIX_TEXT_WRAP),
              (V{"Proxy authentication", "required by the realm", "Squid on host"}));
    EXPECT_EQ(Lines("ab\ncd", GUIX_TEXT_WRAP), (V{"ab", "cd"}));
    EXPECT_EQ(Lines(std::string(30, 'w'), GUIX_TEXT_WRAP), (V{std::string(26, 'w'), std::string(4, 'w')}));
    auto top = Layout(text, 170, 70, GUIX_TEXT_TOP | GUIX_TEXT_WRAP);
    EXPECT_EQ(top[1].baseline - top[0].baseline, 13);
    // Bottom alignment lifts the first line by the others.
    EXPECT_EQ(Layout(text, 170, 70, GUIX_TEXT_BOTTOM | GUIX_TEXT_WRAP)[0].baseline, 70 - 2 - 5 - 2 * 13);
}

TEST(TextBlock, NarrowWidgetOrZeroWidthFontStillEnds) {
    std::string text = "a narrow label";
    std::size_t chars = 0;
    for (const auto& line : Layout(text, 4, 30, GUIX_TEXT_WRAP)) {
        EXPECT_GE(line.length, 1u);
        chars += line.length;
    }
    EXPECT_EQ(chars + 2, text.size());  // the two spaces between lines are skipped
    auto zero = Layout(text, 100, 30, GUIX_TEXT_WRAP, 0);
    EXPECT_FALSE(zero.empty());
    EXPECT_LE(zero.size(), text.size());
}

TEST(TextBlock, UnspacedTextWrapsBetweenCharacters) {
    const std::string text = "\u3042\u3044\u3046\u3048\u304a\u304b";  // six kana, 3 bytes each
    const auto lines = Layout(text, 10 + 4 * 6, 40, GUIX_TEXT_WRAP);  // four characters a line
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(text.substr(lines[0].start, lines[0].length), "\u3042\u3044\u3046\u3048");
    EXPECT_EQ(text.substr(lines[1].start, lines[1].length), "\u304a\u304b");
}

TEST(Scale, ResourcesThenGtkThenQtClampedToQuarters) {
    const struct {
        const char *resources, *gdk, *qt;
        double scale;
    } cases[] = {
        {"Xft.antialias:\t1\nXft.dpi:\t192\n", "3", "3", 2},
        {"Xft.dpi: 144", nullptr, nullptr, 1.5},
        {"Xft.dpi: 120", nullptr, nullptr, 1.25},
        {"Xft.dpi: 72", "2", nullptr, 1},  // below 96: clamped, not passed on
        {"Xft.dpi: 960", nullptr, nullptr, 4},
        {"Xft.dpi: none", "2", nullptr, 2},   // unreadable: the next source
        {"*.dpi: 192", nullptr, nullptr, 2},  // as Xft reads it
        {nullptr, nullptr, "1.3", 1.25},
        {nullptr, "2x", "1.8", 1.75},
        {nullptr, nullptr, nullptr, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GUIX_DesktopScale(c.resources, c.gdk, c.qt), c.scale) << (c.resources ? c.resources : "-");
}

// Truncated per channel, the same on 32- and 64-bit builds (the frame shades).
TEST(Colour, MixTruncatesPerChannel) {
    GUIX_Color grey(200, 200, 200);
    struct {
        GUIX_Color a, b;
        double t;
        GUIX_Color expected;
    } cases[] = {
        {grey, GUIX_Color::white, 0.66, GUIX_Color(236, 236, 236)},
        {grey, GUIX_Color::white, 0.33, GUIX_Color(218, 218, 218)},
        {grey, GUIX_Color::black, 0.66, GUIX_Color(68, 68, 68)},
        {grey, GUIX_Color::black, 0.33, GUIX_Color(134, 134, 134)},
        {GUIX_Color(10, 20, 30), GUIX_Color(20, 40, 60), 0.5, GUIX_Color(15, 30, 45)},
    };
    for (const auto& c : cases) EXPECT_EQ(GUIX_Color::mix(c.a, c.b, c.t), c.expected) << c.t;
}

}  // namespace
