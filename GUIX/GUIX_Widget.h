#pragma once
// Every visible element owns exactly one X window. Widgets form a tree;
// a process-wide registry maps window ids to widgets so that the event loop
// can route events. Parents do not delete their children.

#include <cstdint>

#include "GUIX_Event.h"
#include "GUIX_List.h"
#include "GUIX_WaitEvent.h"

// Event classes for selectEvents.
enum GUIX_EventClass {
    GUIX_SELECT_STRUCTURE = 0,
    GUIX_SELECT_PROPERTY = 1,
    GUIX_SELECT_EXPOSURE = 2,
    GUIX_SELECT_ENTER = 3,
    GUIX_SELECT_LEAVE = 4,
    GUIX_SELECT_BUTTON_PRESS = 5,
    GUIX_SELECT_BUTTON_RELEASE = 6,
    GUIX_SELECT_KEYS = 7,
    GUIX_SELECT_FOCUS = 8,
};

// Widgets are built and deleted on the GUI thread (GUIX_Application::invoke)
// or while no loop runs: they talk to the X server, and an event for a widget
// that is half destroyed would reach the wrong handler.
class GUIX_Widget {
public:
    explicit GUIX_Widget(GUIX_Widget* parent);
    virtual ~GUIX_Widget();
    GUIX_Widget(const GUIX_Widget&) = delete;
    GUIX_Widget& operator=(const GUIX_Widget&) = delete;

    virtual void handleEvent(const GUIX_Event& event);

    unsigned long windowId() const { return m_window; }
    // The parent's window, or the default screen's root without a parent.
    unsigned long parentWindowId() const;
    GUIX_Widget* parent() const { return m_parent; }
    // The widget itself without a parent, else the parent's top-level (its dialog).
    GUIX_Widget* topLevel() const { return m_topLevel; }
    const GUIX_List<GUIX_Widget*>& children() const { return m_children; }
    GUIX_WaitEvent& waitObject() { return m_wait; }

    void selectEvents(int eventClass);
    // Adds an X event mask of its own (an input method's).
    void selectMask(long mask);

    // Sets the source to this widget's window and posts through the application.
    // The target is whatever the caller set. False when the loop is not running.
    bool post(GUIX_Event event);
    // Posts an event of that kind to this widget's own window.
    bool postSelf(std::uint32_t kind);

    // Window-id registry (used by the event loop).
    static int liveWidgetCount();
    static bool registryExists();
    // Calls fn(widget) with the registry held, so the widget cannot be deleted
    // meanwhile; false when no widget owns that window.
    template <class F>
    static bool withWidget(unsigned long window, F&& fn);

protected:
    // Creates the window with its final geometry, so that building a widget
    // produces no configure event for an object still under construction.
    GUIX_Widget(GUIX_Widget* parent, int x, int y, int width, int height);

private:
    static void lockRegistry();
    static void unlockRegistry();
    static GUIX_Widget* lookupLocked(unsigned long window);

    GUIX_Widget* m_parent;
    GUIX_Widget* m_topLevel;
    GUIX_List<GUIX_Widget*> m_children;
    GUIX_WaitEvent m_wait{true};
    unsigned long m_window = 0;
    long m_eventMask = 0;
    bool m_windowGone = false;  // destroyed with a parent that was deleted first
};

template <class F>
bool GUIX_Widget::withWidget(unsigned long window, F&& fn) {
    lockRegistry();
    GUIX_Widget* w = lookupLocked(window);
    if (w) {
        try {
            fn(w);
        } catch (...) {
            unlockRegistry();
            throw;
        }
    }
    unlockRegistry();
    return w != nullptr;
}
