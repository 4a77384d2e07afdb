#include "GUIX_Widget.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "GUIX_Application.h"
#include "GUIX_Map.h"

namespace {

// Window-id registry. Recursive: a handler that runs with it held may create
// or delete widgets. Never destroyed, so that objects torn down at process
// exit can still unregister.
struct Registry {
    std::recursive_mutex mutex;
    std::unique_ptr<GUIX_Map<unsigned long, GUIX_Widget*>> map;
    int live = 0;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

long maskForClass(int eventClass) {
    switch (eventClass) {
    case GUIX_SELECT_STRUCTURE: return StructureNotifyMask;
    case GUIX_SELECT_PROPERTY: return PropertyChangeMask;
    case GUIX_SELECT_EXPOSURE: return ExposureMask;
    case GUIX_SELECT_ENTER: return EnterWindowMask;
    case GUIX_SELECT_LEAVE: return LeaveWindowMask;
    case GUIX_SELECT_BUTTON_PRESS: return ButtonPressMask;
    case GUIX_SELECT_BUTTON_RELEASE: return ButtonReleaseMask;
    case GUIX_SELECT_KEYS: return KeyPressMask | KeyReleaseMask;
    case GUIX_SELECT_FOCUS: return FocusChangeMask;
    default: return 0;
    }
}

}  // namespace

GUIX_Widget::GUIX_Widget(GUIX_Widget* parent) : GUIX_Widget(parent, 0, 0, 1, 1) {}

GUIX_Widget::GUIX_Widget(GUIX_Widget* parent, int x, int y, int width, int height)
    : m_parent(parent), m_topLevel(parent ? parent->topLevel() : this) {
    GUIX_Application& app = GUIX_Application::instance();
    {
        GUIX_DisplayLock l;
        if (l) {
            Window parentWindow = parent ? parent->windowId() : app.rootWindow();
            m_window =
                XCreateWindow(l.display(), parentWindow, x, y, static_cast<unsigned>(std::max(width, 1)),
                              static_cast<unsigned>(std::max(height, 1)), 0, CopyFromParent, CopyFromParent,
                              CopyFromParent, 0, nullptr);
        }
    }
    {
        Registry& r = registry();
        std::lock_guard<std::recursive_mutex> g(r.mutex);
        if (!r.map) r.map = std::make_unique<GUIX_Map<unsigned long, GUIX_Widget*>>();
        if (m_window) r.map->insert(m_window, this);
        ++r.live;
    }
    if (parent) parent->m_children.pushBack(this);
    selectEvents(GUIX_SELECT_STRUCTURE);
    selectEvents(GUIX_SELECT_PROPERTY);
}

GUIX_Widget::~GUIX_Widget() {
    {
        Registry& r = registry();
        std::lock_guard<std::recursive_mutex> g(r.mutex);
        if (--r.live <= 0) {
            r.live = 0;
            r.map.reset();
        } else if (r.map && m_window) {
            r.map->erase(m_window);
        }
    }
    if (m_parent) m_parent->m_children.remove(this);
    // Children that outlive us lose their parent; their windows go with ours.
    for (GUIX_Widget* child : m_children.snapshot()) {
        child->m_parent = nullptr;
        child->m_windowGone = true;
    }
    if (m_window && !m_windowGone) {
        GUIX_DisplayLock l;
        if (l) {
            XDestroyWindow(l.display(), m_window);
            XFlush(l.display());
        }
    }
}

void GUIX_Widget::handleEvent(const GUIX_Event&) {}

unsigned long GUIX_Widget::parentWindowId() const {
    if (m_parent) return m_parent->windowId();
    return GUIX_Application::instance().rootWindow();
}

void GUIX_Widget::selectEvents(int eventClass) { selectMask(maskForClass(eventClass)); }

void GUIX_Widget::selectMask(long mask) {
    m_eventMask |= mask;
    if (!m_window) return;
    GUIX_DisplayLock l;
    if (l) XSelectInput(l.display(), m_window, m_eventMask);
}

bool GUIX_Widget::post(GUIX_Event event) {
    event.source = static_cast<std::uint32_t>(m_window);
    return GUIX_Application::instance().postEvent(event);
}

bool GUIX_Widget::postSelf(std::uint32_t kind) {
    std::uint32_t id = static_cast<std::uint32_t>(m_window);
    return post(GUIX_Event(kind, id, id));
}

int GUIX_Widget::liveWidgetCount() {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> g(r.mutex);
    return r.live;
}

bool GUIX_Widget::registryExists() {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> g(r.mutex);
    return r.map != nullptr;
}

void GUIX_Widget::lockRegistry() { registry().mutex.lock(); }

void GUIX_Widget::unlockRegistry() { registry().mutex.unlock(); }

GUIX_Widget* GUIX_Widget::lookupLocked(unsigned long window) {
    Registry& r = registry();
    GUIX_Widget* w = nullptr;
    if (r.map && window) r.map->find(window, w);
    return w;
}
