#pragma once
// "Connection Status": the session's progress text and a Cancel button.
// Cancel and the window manager's close both stop the toolkit loop, which is
// how the user interrupts a running session.

#include <memory>
#include <string>

#include "GUIX_Dialog.h"

class GUIX_Button;
class GUIX_Label;

class StatusWindow : public GUIX_Dialog {
public:
    StatusWindow();
    ~StatusWindow() override;

    // GUI thread: the text (UTF-8), the window grown to show all of it.
    void setText(const std::string& text);
    std::string text() const;

    void onCancel();
    bool onCloseRequest() override;

private:
    void layout();

    std::unique_ptr<GUIX_Label> m_status;
    std::unique_ptr<GUIX_Button> m_cancel;
};
