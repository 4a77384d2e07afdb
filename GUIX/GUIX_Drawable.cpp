#include "GUIX_Drawable.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

#include "GUIX_Application.h"
#include "GUIX_Font.h"
#include "GUIX_Xft.h"
#include "Log.h"
#include "Utf8.h"

namespace {

// Colours are allocated once per process and never freed.
std::mutex s_colourMutex;
std::map<std::tuple<int, int, int>, unsigned long>& colourCache() {
    static auto* cache = new std::map<std::tuple<int, int, int>, unsigned long>;
    return *cache;
}

}  // namespace

struct GUIX_Drawable::XState {
    GC gc = nullptr;
    XftDraw* xftDraw = nullptr;  // made on the first text drawn
};

// Centring in the parent (or on the screen): both halves truncated on their
// own, the parent's size taken as unsigned.
int GUIX_Drawable::placeX(GUIX_Widget* parent, int x, int width, std::uint32_t flags) {
    if (!(flags & GUIX_CENTER_H)) return x;
    auto* p = dynamic_cast<GUIX_Drawable*>(parent);
    int pw = p ? p->width() : GUIX_Application::instance().screenWidth();
    return static_cast<int>(static_cast<unsigned>(pw) / 2 - static_cast<unsigned>(width / 2));
}

int GUIX_Drawable::placeY(GUIX_Widget* parent, int y, int height, std::uint32_t flags) {
    if (!(flags & GUIX_CENTER_V)) return y;
    auto* p = dynamic_cast<GUIX_Drawable*>(parent);
    int ph = p ? p->height() : GUIX_Application::instance().screenHeight();
    return static_cast<int>(static_cast<unsigned>(ph) / 2 - static_cast<unsigned>(height / 2));
}

GUIX_Drawable::GUIX_Drawable(GUIX_Widget* parent, int x, int y, int width, int height, std::uint32_t flags)
    : GUIX_Widget(parent, placeX(parent, x, width, flags), placeY(parent, y, height, flags), width, height) {
    init(placeX(parent, x, width, flags), placeY(parent, y, height, flags), width, height, flags);
}

GUIX_Drawable::GUIX_Drawable(int x, int y, int width, int height, std::uint32_t flags)
    : GUIX_Widget(nullptr, placeX(nullptr, x, width, flags), placeY(nullptr, y, height, flags), width,
                  height) {
    init(placeX(nullptr, x, width, flags), placeY(nullptr, y, height, flags), width, height, flags);
}

void GUIX_Drawable::init(int x, int y, int width, int height, std::uint32_t flags) {
    m_flags = flags;
    m_width = width;
    m_height = height;
    m_xs = std::make_unique<XState>();
    GUIX_Application& app = GUIX_Application::instance();
    m_scale = app.scale();
    m_font = app.font();
    {
        GUIX_DisplayLock l;
        if (l) {
            m_colormap = DefaultColormap(l.display(), app.screen());
            m_xs->gc = XCreateGC(l.display(), windowId(), 0, nullptr);
        }
    }
    selectEvents(GUIX_SELECT_EXPOSURE);
    m_x = x;
    m_y = y;
}

GUIX_Drawable::~GUIX_Drawable() {
    GUIX_DisplayLock l;
    if (l && m_xs) {
        if (m_xs->xftDraw) GUIX_Xft()->XftDrawDestroy(m_xs->xftDraw);
        if (m_xs->gc) XFreeGC(l.display(), m_xs->gc);
    }
}

int GUIX_Drawable::parentWidth() const {
    if (auto* p = dynamic_cast<GUIX_Drawable*>(parent())) return p->width();
    return GUIX_Application::instance().screenWidth();
}

int GUIX_Drawable::parentHeight() const {
    if (auto* p = dynamic_cast<GUIX_Drawable*>(parent())) return p->height();
    return GUIX_Application::instance().screenHeight();
}

void GUIX_Drawable::draw() {}

void GUIX_Drawable::repaintTree() {
    draw();
    for (GUIX_Widget* child : children().snapshot())
        if (auto* d = dynamic_cast<GUIX_Drawable*>(child)) d->repaintTree();
}

void GUIX_Drawable::handleEvent(const GUIX_Event& event) {
    switch (event.kind) {
    case EV_REPAINT: repaintTree(); break;
    case EV_SHOW: {
        {
            GUIX_DisplayLock l;
            if (!l) break;
            XMapWindow(l.display(), windowId());
            XMapSubwindows(l.display(), windowId());
        }
        for (GUIX_Widget* child : children().snapshot()) child->postSelf(EV_SHOW);
        break;
    }
    case EV_HIDE: {
        GUIX_DisplayLock l;
        if (!l) break;
        XUnmapWindow(l.display(), windowId());
        XUnmapSubwindows(l.display(), windowId());
        break;
    }
    case EV_RESIZE: {
        // X carries sizes in 16 bits and refuses 0; a record from another
        // client may hold anything.
        const int w = static_cast<int>(std::clamp<std::uint32_t>(event.payload[0], 1, 32767));
        const int h = static_cast<int>(std::clamp<std::uint32_t>(event.payload[1], 1, 32767));
        m_width = w;
        m_height = h;
        if (event.payload[2] == 0) {
            GUIX_DisplayLock l;
            if (l) XResizeWindow(l.display(), windowId(), static_cast<unsigned>(w), static_cast<unsigned>(h));
        }
        break;
    }
    case EV_MOVE: {
        int x = static_cast<int>(event.payload[0]);
        int y = static_cast<int>(event.payload[1]);
        m_x = x;
        m_y = y;
        GUIX_DisplayLock l;
        if (l) XMoveWindow(l.display(), windowId(), x, y);
        break;
    }
    default: break;
    }
}

void GUIX_Drawable::show() { postSelf(EV_SHOW); }
void GUIX_Drawable::hide() { postSelf(EV_HIDE); }
void GUIX_Drawable::repaint() { postSelf(EV_REPAINT); }

void GUIX_Drawable::move(int x, int y) {
    std::uint32_t id = static_cast<std::uint32_t>(windowId());
    GUIX_Event ev(EV_MOVE, id, id);
    ev.payload[0] = static_cast<std::uint32_t>(x);
    ev.payload[1] = static_cast<std::uint32_t>(y);
    request(ev);
}

void GUIX_Drawable::resize(int width, int height) {
    std::uint32_t id = static_cast<std::uint32_t>(windowId());
    GUIX_Event ev(EV_RESIZE, id, id);
    ev.payload[0] = static_cast<std::uint32_t>(width);
    ev.payload[1] = static_cast<std::uint32_t>(height);
    request(ev);
}

// Carried out at once where X may be talked to, so that a layout reads the
// sizes it has just set; posted from any other thread.
void GUIX_Drawable::request(const GUIX_Event& event) {
    GUIX_Application& app = GUIX_Application::instance();
    if (app.onGuiThread() || !app.isRunning())
        handleEvent(event);
    else
        post(event);
}

void GUIX_Drawable::showChild(GUIX_Widget* child) {
    if (child) child->postSelf(EV_SHOW);
}

void GUIX_Drawable::setBackground(const GUIX_Color& colour) {
    setBackgroundColor(colour);
    repaint();
}

void GUIX_Drawable::setBackgroundColor(const GUIX_Color& colour) {
    std::lock_guard<std::mutex> g(m_colourMutex);
    m_background = colour;
}

void GUIX_Drawable::setForeground(const GUIX_Color& colour) {
    std::lock_guard<std::mutex> g(m_colourMutex);
    m_foreground = colour;
}

void GUIX_Drawable::setLightColor(const GUIX_Color& colour) {
    std::lock_guard<std::mutex> g(m_colourMutex);
    m_light = colour;
}

GUIX_Color GUIX_Drawable::background() const {
    std::lock_guard<std::mutex> g(m_colourMutex);
    return m_background;
}

GUIX_Color GUIX_Drawable::foreground() const {
    std::lock_guard<std::mutex> g(m_colourMutex);
    return m_foreground;
}

GUIX_Color GUIX_Drawable::light() const {
    std::lock_guard<std::mutex> g(m_colourMutex);
    return m_light;
}

void GUIX_Drawable::setDrawColor(const GUIX_Color& colour) {
    if (!m_colormap || !m_xs || !m_xs->gc) return;
    auto key = std::make_tuple(colour.red, colour.green, colour.blue);
    unsigned long pixel = 0;
    bool known;
    {
        std::lock_guard<std::mutex> g(s_colourMutex);
        auto it = colourCache().find(key);
        known = it != colourCache().end();
        if (known) pixel = it->second;
    }
    GUIX_DisplayLock l;
    if (!l) return;
    if (!known) {
        XColor c{};
        c.red = static_cast<unsigned short>(std::lround(colour.red * 257.0));
        c.green = static_cast<unsigned short>(std::lround(colour.green * 257.0));
        c.blue = static_cast<unsigned short>(std::lround(colour.blue * 257.0));
        c.flags = DoRed | DoGreen | DoBlue;
        if (!XAllocColor(l.display(), m_colormap, &c)) return;
        pixel = c.pixel;
    }
    XSetForeground(l.display(), m_xs->gc, pixel);
    if (!known) {
        // Remembered after the display lock is let go (never take another
        // lock while holding it).
        l.release();
        std::lock_guard<std::mutex> g(s_colourMutex);
        colourCache()[key] = pixel;
    }
}

void GUIX_Drawable::drawString(const GUIX_Color& colour, std::string_view text, int x, int y) {
    if (!m_font || text.empty()) return;
    if (m_font->antialiased()) {
        GUIX_Application& app = GUIX_Application::instance();
        const XftColor* c = app.xftColour(colour);
        GUIX_DisplayLock l;
        if (!l) return;
        if (!m_xs->xftDraw)
            m_xs->xftDraw = GUIX_Xft()->XftDrawCreate(l.display(), windowId(),
                                                      DefaultVisual(l.display(), app.screen()), m_colormap);
        m_font->drawXft(m_xs->xftDraw, c, x, y, text);
        return;
    }
    setDrawColor(colour);
    GUIX_DisplayLock l;
    if (l) m_font->drawCore(windowId(), m_xs->gc, x, y, text);
}

void GUIX_Drawable::drawLine(const GUIX_Color& colour, int x1, int y1, int x2, int y2) {
    setDrawColor(colour);
    GUIX_DisplayLock l;
    if (!l) return;
    XDrawLine(l.display(), windowId(), m_xs->gc, x1, y1, x2, y2);
}

void GUIX_Drawable::drawRect(const GUIX_Color& colour, int x, int y, int w, int h) {
    if (w < 1 || h < 1) return;
    setDrawColor(colour);
    GUIX_DisplayLock l;
    if (!l) return;
    XDrawRectangle(l.display(), windowId(), m_xs->gc, x, y, static_cast<unsigned>(w - 1),
                   static_cast<unsigned>(h - 1));
}

void GUIX_Drawable::drawBorder(const GUIX_Color& colour, int inset) {
    const GUIX_Color colours[1] = {colour};
    drawFrame(inset, colours, colours, 1);
}

void GUIX_Drawable::fillRect(const GUIX_Color& colour, int x, int y, int w, int h) {
    if (w < 1 || h < 1) return;
    setDrawColor(colour);
    GUIX_DisplayLock l;
    if (!l) return;
    XFillRectangle(l.display(), windowId(), m_xs->gc, x, y, static_cast<unsigned>(w),
                   static_cast<unsigned>(h));
}

void GUIX_Drawable::clear(int inset) {
    const int i = scaled(inset);
    fillRect(background(), i, i, width() - 2 * i, height() - 2 * i);
}

// Band d of a frame covers what line d covers at 1x, scaled: its top and
// left first, then its bottom and right over their corners, as lines do.
void GUIX_Drawable::drawFrame(int inset, const GUIX_Color* topLeft, const GUIX_Color* bottomRight, int n) {
    const int W = width();
    const int H = height();
    for (int d = 0; d < n; ++d) {
        const int lo = scaled(inset + d);
        const int band = std::max(scaled(inset + d + 1) - lo, 1);
        const int right = W - 1 - lo;
        const int bottom = H - 1 - lo;
        if (right < lo || bottom < lo) return;
        fillRect(topLeft[d], lo, lo, right - lo + 1, band);
        fillRect(topLeft[d], lo, lo, band, bottom - lo + 1);
        fillRect(bottomRight[d], lo, bottom - band + 1, right - lo + 1, band);
        fillRect(bottomRight[d], right - band + 1, lo, band, bottom - lo + 1);
    }
}

void GUIX_Drawable::drawRaisedFrame2(int inset) {
    GUIX_Color lt = light(), bg = background();
    const GUIX_Color tl[2] = {GUIX_Color::mix(lt, GUIX_Color::white, 0.33),
                              GUIX_Color::mix(lt, GUIX_Color::white, 0.66)};
    const GUIX_Color br[2] = {GUIX_Color::mix(bg, GUIX_Color::black, 0.66),
                              GUIX_Color::mix(bg, GUIX_Color::black, 0.33)};
    drawFrame(inset, tl, br, 2);
}

void GUIX_Drawable::drawSunkenFrame2(int inset) {
    GUIX_Color lt = light();
    const GUIX_Color tl[2] = {GUIX_Color::mix(lt, GUIX_Color::black, 0.33),
                              GUIX_Color::mix(lt, GUIX_Color::black, 0.66)};
    const GUIX_Color br[2] = {GUIX_Color::mix(GUIX_Color::white, lt, 0.66),
                              GUIX_Color::mix(GUIX_Color::white, lt, 0.33)};
    drawFrame(inset, tl, br, 2);
}

void GUIX_Drawable::drawRaisedFrame3(int inset) {
    GUIX_Color lt = light(), bg = background();
    const GUIX_Color tl[3] = {GUIX_Color::mix(lt, GUIX_Color::white, 0.33),
                              GUIX_Color::mix(lt, GUIX_Color::white, 0.66), GUIX_Color::white};
    const GUIX_Color br[3] = {GUIX_Color::black, GUIX_Color::mix(bg, GUIX_Color::black, 0.66),
                              GUIX_Color::mix(bg, GUIX_Color::black, 0.33)};
    drawFrame(inset, tl, br, 3);
}

void GUIX_Drawable::drawSunkenFrame3(int inset) {
    GUIX_Color lt = light(), bg = background();
    const GUIX_Color tl[3] = {GUIX_Color::mix(lt, GUIX_Color::black, 0.33),
                              GUIX_Color::mix(lt, GUIX_Color::black, 0.66), GUIX_Color::black};
    const GUIX_Color br[3] = {GUIX_Color::mix(bg, lt, 0.66), GUIX_Color::mix(bg, lt, 0.33),
                              GUIX_Color::white};
    drawFrame(inset, tl, br, 3);
}

int GUIX_Drawable::lineHeight() const { return ascent() + descent(); }
int GUIX_Drawable::ascent() const { return m_font && m_font->ok() ? m_font->ascent() : scaled(11); }
int GUIX_Drawable::descent() const { return m_font && m_font->ok() ? m_font->descent() : scaled(2); }
int GUIX_Drawable::textWidth(std::string_view text) const { return m_font ? m_font->textWidth(text) : 0; }
bool GUIX_Drawable::hasFont() const { return m_font && m_font->ok(); }
int GUIX_Drawable::scaled(int length) const { return static_cast<int>(std::lround(length * m_scale)); }

std::vector<GUIX_TextLineLayout> GUIX_Drawable::layoutText(const std::string& text, int width, int height,
                                                           std::uint32_t flags) const {
    return layoutText(text, width, height, flags, ascent(), descent(), scaled(5),
                      [this](std::string_view piece) { return textWidth(piece); });
}

std::vector<GUIX_TextLineLayout> GUIX_Drawable::layoutText(
    const std::string& text, int width, int height, std::uint32_t flags, int ascent, int descent, int margin,
    const std::function<int(std::string_view)>& textWidth) {
    std::vector<GUIX_TextLineLayout> lines;
    const std::string_view all(text);
    const std::size_t n = text.size();
    if (!(flags & GUIX_TEXT_WRAP)) {
        lines.push_back({0, n, 0, 0});
    } else {
        const int room = width - 2 * margin;
        std::size_t pos = 0;
        do {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = n;
            std::size_t len = end - pos;
            if (textWidth(all.substr(pos, len)) > room) {
                // The characters that fit, at least one, so that the walk always ends.
                std::size_t fit = pos;
                int used = 0;
                for (std::size_t next = pos; fit < end; fit = next) {
                    NextCodePoint(all, next);
                    used += textWidth(all.substr(fit, next - fit));
                    if (used > room && fit > pos) break;
                }
                if (text[fit] == ' ') {
                    len = fit - pos;
                } else {
                    const std::size_t space = text.rfind(' ', fit - 1);
                    len = (space != std::string::npos && space > pos ? space : fit) - pos;
                }
            }
            lines.push_back({pos, len, 0, 0});
            pos += len;
            if (pos < n && (text[pos] == '\n' || text[pos] == ' ')) ++pos;
        } while (pos < n);
    }
    const int lineH = ascent + descent;
    const int count = static_cast<int>(lines.size());
    int baseline;
    if (flags & GUIX_TEXT_TOP)
        baseline = ascent + margin;
    else if (flags & GUIX_TEXT_BOTTOM)
        baseline = height - descent - margin - (count - 1) * lineH;
    else
        baseline = height / 2 - (lineH * count) / 2 + ascent;
    for (auto& line : lines) {
        const int tw = textWidth(all.substr(line.start, line.length));
        if (flags & GUIX_TEXT_RIGHT)
            line.x = width - tw - margin;
        else if (flags & GUIX_TEXT_HCENTER)
            line.x = width / 2 - tw / 2;
        else
            line.x = margin;
        line.baseline = baseline;
        baseline += lineH;
    }
    return lines;
}

void GUIX_Drawable::drawTextBlock(const std::string& text, std::uint32_t flags) {
    if (!hasFont()) return;
    const GUIX_Color fg = foreground();
    for (const auto& line : layoutText(text, width(), height(), flags))
        drawString(fg, std::string_view(text).substr(line.start, line.length), line.x, line.baseline);
}
