#pragma once
// The toolkit's one font at one pixel size, for UTF-8 text: fontconfig's
// "sans-serif" through Xft, with a fallback font for each character it
// lacks (kept in a small cache), or without Xft a core X font. Xft is not
// thread-safe: fonts are used on the GUI thread only (or before the loop runs).

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct _XftDraw;
struct _XftFont;
struct _XftColor;
struct _FcPattern;

class GUIX_Font {
public:
    // The core fonts tried without Xft, in this order.
    static constexpr const char* kCoreFonts[] = {
        "-misc-fixed-medium-r-semicondensed--13-120-75-75-c-60-iso10646-1", "6x13", "fixed"};

    // pixelSize: 13 x the scale. language: a fontconfig language tag ("de",
    // "ja", "zh-tw") or empty. useXft false: the core fonts only.
    GUIX_Font(Display* display, int screen, double pixelSize, const std::string& language,
              bool useXft = true);
    ~GUIX_Font();
    GUIX_Font(const GUIX_Font&) = delete;
    GUIX_Font& operator=(const GUIX_Font&) = delete;

    bool ok() const { return m_xft || m_core; }
    bool antialiased() const { return m_xft != nullptr; }
    int ascent() const { return m_ascent; }
    int descent() const { return m_descent; }
    // The advance of text in pixels (control characters count nothing).
    int textWidth(std::string_view text);
    // Text with its baseline at (x, y): through Xft on draw, else with gc on window.
    void drawXft(_XftDraw* draw, const _XftColor* colour, int x, int y, std::string_view text);
    void drawCore(Drawable window, GC gc, int x, int y, std::string_view text);

private:
    struct Glyph {
        _XftFont* font;
        int advance;
    };
    bool openXft(double pixelSize, const std::string& language);
    void openCore();
    const Glyph& glyph(char32_t c);
    _XftFont* fallbackFor(char32_t c);
    // The text in the core font's encoding: 2 bytes a character for a
    // Unicode font, else Latin-1 ('?' for what it lacks).
    std::string coreBytes(std::string_view text) const;

    Display* m_display;
    int m_screen;
    _XftFont* m_xft = nullptr;
    _FcPattern* m_request = nullptr;  // what fallbacks are asked for, plus their character
    std::vector<_XftFont*> m_fallbacks;
    std::unordered_map<char32_t, Glyph> m_glyphs;
    XFontStruct* m_core = nullptr;
    bool m_core16 = false;
    int m_ascent = 0, m_descent = 0;
};
