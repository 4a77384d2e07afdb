#include "GUIX_Font.h"

#include "GUIX_Xft.h"
#include "Log.h"
#include "Utf8.h"

namespace {

// Fonts asked for characters the main font lacks; a text in a script of its
// own needs one or two. Beyond this the main font draws what it can.
constexpr std::size_t kMaxFallbacks = 16;
constexpr std::size_t kMaxGlyphs = 4096;

const FcChar8* Text(const char* s) { return reinterpret_cast<const FcChar8*>(s); }

}  // namespace

GUIX_Font::GUIX_Font(Display* display, int screen, double pixelSize, const std::string& language, bool useXft)
    : m_display(display), m_screen(screen) {
    if (!display) return;
    if (!useXft || !openXft(pixelSize, language)) openCore();
}

GUIX_Font::~GUIX_Font() {
    if (m_xft) {
        for (XftFont* f : m_fallbacks) GUIX_Xft()->XftFontClose(m_display, f);
        GUIX_Xft()->XftFontClose(m_display, m_xft);
    }
    if (m_request) GUIX_Fc()->FcPatternDestroy(m_request);
    if (m_core) XFreeFont(m_display, m_core);
}

bool GUIX_Font::openXft(double pixelSize, const std::string& language) {
    const GUIX_XftFunctions* xft = GUIX_Xft();
    const GUIX_FcFunctions* fc = GUIX_Fc();
    const GUIX_XrenderFunctions* render = GUIX_Xrender();
    if (!xft || !fc || !render) return false;  // each logged when looked for
    int eventBase = 0, errorBase = 0;
    if (!render->XRenderQueryExtension(m_display, &eventBase, &errorBase)) {
        LogWrite("WARNING: the X server has no RENDER extension: texts in the core X font");
        return false;
    }
    m_request = fc->FcPatternCreate();
    if (!m_request) return false;
    fc->FcPatternAddString(m_request, "family", Text("sans-serif"));
    // A pixel size, not a point size: Xft would scale points by Xft.dpi a second time.
    fc->FcPatternAddDouble(m_request, "pixelsize", pixelSize);
    if (!language.empty()) fc->FcPatternAddString(m_request, "lang", Text(language.c_str()));
    FcResult result = FcResultNoMatch;
    FcPattern* match = xft->XftFontMatch(m_display, m_screen, m_request, &result);
    if (match) {
        m_xft = xft->XftFontOpenPattern(m_display, match);
        if (!m_xft) fc->FcPatternDestroy(match);
    }
    if (!m_xft) {
        LogWrite("WARNING: fontconfig has no \"sans-serif\" font: texts in the core X font");
        return false;
    }
    FcChar8* family = nullptr;
    fc->FcPatternGetString(m_xft->pattern, "family", 0, &family);
    LogWrite("Font: %s, %.2f px", family ? reinterpret_cast<const char*>(family) : "?", pixelSize);
    m_ascent = m_xft->ascent;
    m_descent = m_xft->descent;
    return true;
}

void GUIX_Font::openCore() {
    const std::size_t count = sizeof kCoreFonts / sizeof kCoreFonts[0];
    for (std::size_t i = 0; i < count && !m_core; ++i) {
        m_core = XLoadQueryFont(m_display, kCoreFonts[i]);
        if (m_core) break;
        if (i + 1 < count)
            LogWrite("WARNING: font \"%s\" not available, using \"%s\"", kCoreFonts[i], kCoreFonts[i + 1]);
        else
            LogWrite("ERROR: font \"%s\" not available, texts are not drawn", kCoreFonts[i]);
    }
    if (!m_core) return;
    m_core16 = m_core->min_byte1 != 0 || m_core->max_byte1 != 0;
    m_ascent = m_core->ascent;
    m_descent = m_core->descent;
}

XftFont* GUIX_Font::fallbackFor(char32_t c) {
    const GUIX_XftFunctions* xft = GUIX_Xft();
    const GUIX_FcFunctions* fc = GUIX_Fc();
    for (XftFont* f : m_fallbacks)
        if (xft->XftCharExists(m_display, f, c)) return f;
    if (m_fallbacks.size() >= kMaxFallbacks) return nullptr;
    FcPattern* pattern = fc->FcPatternDuplicate(m_request);
    FcCharSet* charset = fc->FcCharSetCreate();
    if (!pattern || !charset) {
        if (pattern) fc->FcPatternDestroy(pattern);
        if (charset) fc->FcCharSetDestroy(charset);
        return nullptr;
    }
    fc->FcCharSetAddChar(charset, c);
    fc->FcPatternAddCharSet(pattern, "charset", charset);  // holds its own reference
    fc->FcCharSetDestroy(charset);
    FcResult result = FcResultNoMatch;
    FcPattern* match = xft->XftFontMatch(m_display, m_screen, pattern, &result);
    fc->FcPatternDestroy(pattern);
    XftFont* font = match ? xft->XftFontOpenPattern(m_display, match) : nullptr;
    if (!font) {
        if (match) fc->FcPatternDestroy(match);
        return nullptr;
    }
    if (!xft->XftCharExists(m_display, font, c)) {  // no installed font has it
        xft->XftFontClose(m_display, font);
        return nullptr;
    }
    m_fallbacks.push_back(font);
    return font;
}

const GUIX_Font::Glyph& GUIX_Font::glyph(char32_t c) {
    auto it = m_glyphs.find(c);
    if (it != m_glyphs.end()) return it->second;
    if (m_glyphs.size() >= kMaxGlyphs) m_glyphs.clear();
    const GUIX_XftFunctions* xft = GUIX_Xft();
    Glyph g{m_xft, 0};
    if (c >= 0x20 && c != 0x7F) {
        if (!xft->XftCharExists(m_display, m_xft, c))
            if (XftFont* f = fallbackFor(c)) g.font = f;
        const FcChar32 ucs4 = c;
        XGlyphInfo info{};
        xft->XftTextExtents32(m_display, g.font, &ucs4, 1, &info);
        g.advance = info.xOff;
    }
    return m_glyphs.emplace(c, g).first->second;
}

std::string GUIX_Font::coreBytes(std::string_view text) const {
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t c = NextCodePoint(text, pos);
        if (c < 0x20 || c == 0x7F) continue;
        if (m_core16) {
            if (c > 0xFFFF) c = '?';
            out.push_back(static_cast<char>(c >> 8));
            out.push_back(static_cast<char>(c & 0xFF));
        } else {
            out.push_back(static_cast<char>(c <= 0xFF ? c : '?'));
        }
    }
    return out;
}

int GUIX_Font::textWidth(std::string_view text) {
    if (m_xft) {
        int width = 0;
        for (std::size_t pos = 0; pos < text.size();) width += glyph(NextCodePoint(text, pos)).advance;
        return width;
    }
    if (!m_core) return 0;
    const std::string bytes = coreBytes(text);
    if (m_core16)
        return XTextWidth16(m_core, reinterpret_cast<const XChar2b*>(bytes.data()),
                            static_cast<int>(bytes.size() / 2));
    return XTextWidth(m_core, bytes.data(), static_cast<int>(bytes.size()));
}

void GUIX_Font::drawXft(XftDraw* draw, const XftColor* colour, int x, int y, std::string_view text) {
    if (!m_xft || !draw || !colour) return;
    std::vector<XftCharFontSpec> specs;
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = NextCodePoint(text, pos);
        const Glyph& g = glyph(c);
        if (g.advance == 0 && (c < 0x20 || c == 0x7F)) continue;
        specs.push_back({g.font, c, static_cast<short>(x), static_cast<short>(y)});
        x += g.advance;
    }
    if (!specs.empty())
        GUIX_Xft()->XftDrawCharFontSpec(draw, colour, specs.data(), static_cast<int>(specs.size()));
}

void GUIX_Font::drawCore(Drawable window, GC gc, int x, int y, std::string_view text) {
    if (!m_core || !gc) return;
    const std::string bytes = coreBytes(text);
    XSetFont(m_display, gc, m_core->fid);
    if (m_core16)
        XDrawString16(m_display, window, gc, x, y, reinterpret_cast<const XChar2b*>(bytes.data()),
                      static_cast<int>(bytes.size() / 2));
    else
        XDrawString(m_display, window, gc, x, y, bytes.data(), static_cast<int>(bytes.size()));
}
