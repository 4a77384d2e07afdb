#pragma once
// Keyboard focus within one dialog. A focusable registers with its dialog at
// construction; the first one registered holds the focus at start.

#include <atomic>

class GUIX_Widget;
class GUIX_Dialog;

class GUIX_Focusable {
public:
    GUIX_Focusable(GUIX_Widget* widget, GUIX_Widget* parent);
    ~GUIX_Focusable();
    GUIX_Focusable(const GUIX_Focusable&) = delete;
    GUIX_Focusable& operator=(const GUIX_Focusable&) = delete;

    // Asks the dialog to move the focus here.
    void requestFocus();
    bool focused() const { return m_focused.load(); }
    void setFocused(bool on) { m_focused.store(on); }
    GUIX_Widget* focusWidget() const { return m_widget; }
    GUIX_Dialog* dialog() const { return m_dialog; }
    // A password entry: its keys bypass the input method.
    bool secret() const { return m_secret; }

protected:
    void setSecret() { m_secret = true; }

private:
    GUIX_Widget* m_widget;
    GUIX_Dialog* m_dialog;
    std::atomic<bool> m_focused{false};
    bool m_secret = false;
};
