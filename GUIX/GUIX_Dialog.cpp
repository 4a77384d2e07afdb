#include "GUIX_Dialog.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "GUIX_Application.h"
#include "GUIX_Focusable.h"
#include "GUIX_Libraries.h"
#include "Utf8.h"

namespace {

// A name as WM_NAME or WM_ICON_NAME (STRING when Latin-1 holds it, else
// compound text) and as _NET_WM_NAME or _NET_WM_ICON_NAME in UTF-8, which
// window managers of today show.
void SetName(Display* display, Window window, const std::string& name, bool title) {
    char* text = const_cast<char*>(name.c_str());
    XTextProperty property{};
    if (Xutf8TextListToTextProperty(display, &text, 1, XStdICCTextStyle, &property) >= Success) {
        if (title) XSetWMName(display, window, &property);
        XSetWMIconName(display, window, &property);
        XFree(property.value);
    }
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const auto set = [&](const char* atom) {
        XChangeProperty(display, window, XInternAtom(display, atom, False), utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(name.data()), static_cast<int>(name.size()));
    };
    if (title) set("_NET_WM_NAME");
    set("_NET_WM_ICON_NAME");
}

// An XPM image as text, enlarged by scale (nearest pixel): its rows and the
// characters of each pixel repeated. Empty when the header cannot be read.
std::vector<std::string> ScaledXpm(const char* const* data, double scale) {
    int w = 0, h = 0, colours = 0, perPixel = 0;
    if (!data || std::sscanf(data[0], "%d %d %d %d", &w, &h, &colours, &perPixel) != 4 || w <= 0 || h <= 0 ||
        colours <= 0 || perPixel <= 0)
        return {};
    const int W = static_cast<int>(std::lround(w * scale)), H = static_cast<int>(std::lround(h * scale));
    std::vector<std::string> out{std::to_string(W) + " " + std::to_string(H) + " " + std::to_string(colours) +
                                 " " + std::to_string(perPixel)};
    for (int i = 1; i <= colours; ++i) out.emplace_back(data[i]);
    for (int y = 0; y < H; ++y) {
        const std::string source = data[1 + colours + y * h / H];
        if (source.size() < static_cast<std::size_t>(w * perPixel)) return {};
        std::string row;
        for (int x = 0; x < W; ++x)
            row.append(source, static_cast<std::size_t>(x * w / W * perPixel), perPixel);
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace

struct GUIX_Dialog::IconState {
    XpmAttributes attributes{};
    bool attributesUsed = false;
    Pixmap pixmap = 0;
    Pixmap mask = 0;
};

GUIX_Dialog::GUIX_Dialog(const std::string& title, int width, int height, std::uint32_t flags)
    : GUIX_Composite(0, 0, width, height, flags), m_title(title) {
    selectEvents(GUIX_SELECT_KEYS);
    selectEvents(GUIX_SELECT_FOCUS);  // the input method follows the focus
    GUIX_DisplayLock l;
    if (!l || !windowId()) return;
    // Interned unconditionally: without it the window manager's close button
    // could only kill the client.
    Atom wmDelete = XInternAtom(l.display(), "WM_DELETE_WINDOW", False);
    XSetWMProtocols(l.display(), windowId(), &wmDelete, 1);
    setSizeHints();
    SetName(l.display(), windowId(), m_title, true);
    if (m_iconData.load()) applyIcon();
}

GUIX_Dialog::~GUIX_Dialog() {
    if (m_icon) {
        GUIX_DisplayLock l;
        if (l) {
            if (m_icon->attributesUsed) GUIX_Xpm()->XpmFreeAttributes(&m_icon->attributes);
            if (m_icon->pixmap) XFreePixmap(l.display(), m_icon->pixmap);
            if (m_icon->mask) XFreePixmap(l.display(), m_icon->mask);
        }
        delete m_icon;
    }
    m_focusList.clear();
}

void GUIX_Dialog::setIconName(const std::string& name) {
    GUIX_DisplayLock l;
    if (l && windowId()) SetName(l.display(), windowId(), name, false);
}

void GUIX_Dialog::setSizeHints() {
    GUIX_DisplayLock l;
    if (!l || !windowId()) return;
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return;
    hints->flags = PPosition | PSize | PMinSize | PMaxSize;
    hints->x = x();
    hints->y = y();
    hints->width = hints->min_width = hints->max_width = width();
    hints->height = hints->min_height = hints->max_height = height();
    XSetWMNormalHints(l.display(), windowId(), hints);
    XFree(hints);
}

void GUIX_Dialog::applyIcon() {
    const char* const* data = m_iconData.load();
    const GUIX_XpmFunctions* xpm = GUIX_Xpm();
    if (!data || !xpm) return;
    GUIX_DisplayLock l;
    if (!l || !windowId()) return;
    if (!m_icon) m_icon = new IconState;
    if (m_icon->attributesUsed) xpm->XpmFreeAttributes(&m_icon->attributes);
    m_icon->attributes = XpmAttributes{};
    m_icon->attributes.valuemask = 0;
    m_icon->attributesUsed = true;
    // The icon grows with the desktop's scale, as the window does.
    std::vector<std::string> scaledRows =
        scaled(16) != 16 ? ScaledXpm(data, scaled(16) / 16.0) : std::vector<std::string>{};
    std::vector<char*> rows;
    for (std::string& row : scaledRows) rows.push_back(row.data());
    char** pixels = rows.empty() ? const_cast<char**>(data) : rows.data();
    Pixmap pixmap = 0, mask = 0;
    int rc = xpm->XpmCreatePixmapFromData(l.display(), GUIX_Application::instance().rootWindow(), pixels,
                                          &pixmap, &mask, &m_icon->attributes);
    if (rc != XpmSuccess) return;  // the dialog stays without an icon
    if (m_icon->pixmap) XFreePixmap(l.display(), m_icon->pixmap);
    if (m_icon->mask) XFreePixmap(l.display(), m_icon->mask);
    m_icon->pixmap = pixmap;
    m_icon->mask = mask;
    XWMHints* hints = XAllocWMHints();
    if (!hints) return;
    hints->flags = IconPixmapHint;
    hints->icon_pixmap = pixmap;
    if (mask) {
        hints->flags |= IconMaskHint;
        hints->icon_mask = mask;
    }
    XSetWMHints(l.display(), windowId(), hints);
    XFree(hints);
}

bool GUIX_Dialog::setIcon(const char* const* xpmData) {
    m_iconData.store(xpmData);
    postSelf(EV_SET_ICON);
    return true;
}

void GUIX_Dialog::close() {
    m_closePending.store(true);
    m_end.signal(0);
    GUIX_Event ev(EV_UNREGISTER_DIALOG, 0, 0);
    ev.payload[0] = static_cast<std::uint32_t>(windowId());
    post(ev);
}

void GUIX_Dialog::beginShow() { m_closePending.store(false); }

void GUIX_Dialog::beginModal() {
    m_result.store(1);
    m_closePending.store(false);
}

bool GUIX_Dialog::onCloseRequest() {
    setResultCode(0);
    return true;
}

void GUIX_Dialog::draw() { clear(0); }

void GUIX_Dialog::handleEvent(const GUIX_Event& event) {
    switch (event.kind) {
    case EV_KEY: {
        if (event.keyKind() == KEY_TAB) {
            if (!event.keyRelease()) focusNext();
            return;
        }
        GUIX_Focusable* focus = m_current.load();
        if (!focus) return;
        GUIX_Event ev = event;
        ev.target = static_cast<std::uint32_t>(focus->focusWidget()->windowId());
        post(ev);
        return;
    }
    case EV_DIALOG_SHOWN: m_end.reset(); return;
    case EV_DIALOG_CLOSING: m_end.signal(0); return;
    case EV_CLOSE_REQUEST:
        if (onCloseRequest()) {
            m_end.signal(0);
            GUIX_Event ev(EV_UNREGISTER_DIALOG, 0, 0);
            ev.payload[0] = static_cast<std::uint32_t>(windowId());
            post(ev);
        }
        return;
    case EV_RESIZE:
        GUIX_Composite::handleEvent(event);
        setSizeHints();  // with the new size, so the window manager accepts it
        return;
    case EV_MOVE:
        if (m_firstMove) {
            m_firstMove = false;  // the window manager places the window
            return;
        }
        GUIX_Composite::handleEvent(event);
        return;
    case EV_SET_ICON: applyIcon(); return;
    default: GUIX_Composite::handleEvent(event); return;
    }
}

void GUIX_Dialog::addFocusable(GUIX_Focusable* entry) {
    m_focusList.pushBack(entry);
    if (!m_current.load()) {
        GUIX_Focusable* first = nullptr;
        if (m_focusList.front(first)) {
            m_current.store(first);
            first->setFocused(true);
        }
    }
}

void GUIX_Dialog::removeFocusable(GUIX_Focusable* entry) {
    m_focusList.remove(entry);
    if (m_current.load() == entry) {
        GUIX_Focusable* first = nullptr;
        m_focusList.front(first);
        m_current.store(first);
        if (first) first->setFocused(true);
    }
}

void GUIX_Dialog::setFocus(GUIX_Focusable* entry) {
    if (!entry || !m_focusList.contains(entry)) return;
    GUIX_Focusable* old = m_current.load();
    if (old) old->setFocused(false);
    m_current.store(entry);
    entry->setFocused(true);
    if (old) old->focusWidget()->postSelf(EV_FOCUS_OUT);
    entry->focusWidget()->postSelf(EV_FOCUS_IN);
    if (old) old->focusWidget()->postSelf(EV_REPAINT);
    entry->focusWidget()->postSelf(EV_REPAINT);
}

void GUIX_Dialog::focusNext() {
    if (m_focusList.size() < 2) return;
    GUIX_Focusable* next = nullptr;
    if (m_focusList.nextAfter(m_current.load(), next)) setFocus(next);
}
