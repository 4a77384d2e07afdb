#pragma once
// A fixed-size top-level window with title, icon, the window manager's close
// button, a focus list and the end-of-dialog handshake used by runModal.

#include <atomic>
#include <cstdint>
#include <string>

#include "GUIX_Composite.h"
#include "GUIX_List.h"
#include "GUIX_WaitEvent.h"

class GUIX_Focusable;

class GUIX_Dialog : public GUIX_Composite {
public:
    // flags 0x3 (GUIX_CENTER_H | GUIX_CENTER_V) centres the dialog on the screen.
    GUIX_Dialog(const std::string& title, int width, int height, std::uint32_t flags);
    ~GUIX_Dialog() override;

    void handleEvent(const GUIX_Event& event) override;
    void draw() override;  // clears to the background colour
    // Called on the GUI thread when the window manager asks to close the window.
    // The default sets the result code to 0 and accepts (true); true ends the dialog.
    virtual bool onCloseRequest();

    // Stores the XPM data (not copied: it must outlive the dialog) and asks the
    // GUI thread to set the icon. Always true.
    bool setIcon(const char* const* xpmData);
    // Ends the dialog: its modal caller wakes up, and the GUI thread hides and
    // unregisters it. Any thread.
    void close();

    std::int32_t resultCode() const { return m_result.load(); }
    void setResultCode(std::int32_t code) { m_result.store(code); }
    const std::string& title() const { return m_title; }
    // GUI thread: the name a window manager shows for the window iconified
    // (at first the title).
    void setIconName(const std::string& name);
    GUIX_WaitEvent& endSignal() { return m_end; }

    // Focus (GUI thread, except registration at construction).
    void addFocusable(GUIX_Focusable* entry);
    void removeFocusable(GUIX_Focusable* entry);
    void setFocus(GUIX_Focusable* entry);
    void focusNext();
    GUIX_Focusable* currentFocus() const { return m_current.load(); }

    // Used by the application: a plain show, and the start of a modal run
    // (result code back to 1).
    void beginShow();
    void beginModal();
    bool closePending() const { return m_closePending.load(); }

private:
    void setSizeHints();
    void applyIcon();

    std::atomic<std::int32_t> m_result{1};
    GUIX_WaitEvent m_end{false};
    std::string m_title;
    struct IconState;
    IconState* m_icon = nullptr;
    std::atomic<const char* const*> m_iconData{nullptr};
    bool m_firstMove = true;
    GUIX_List<GUIX_Focusable*> m_focusList;
    std::atomic<GUIX_Focusable*> m_current{nullptr};
    std::atomic<bool> m_closePending{false};
};
