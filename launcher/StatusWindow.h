#pragma once
// "Connection Status": the session's progress text and a Cancel button.
// Cancel and the window manager's close both stop the toolkit loop, which is
// how the user interrupts a running session. Its words come from catalog
// (null: English); its icon name is the text it shows.

#include <memory>
#include <string>

#include "GUIX_Dialog.h"
#include "Texts.h"

class GUIX_Button;
class GUIX_Label;

class StatusWindow : public GUIX_Dialog {
public:
    explicit StatusWindow(const Catalog* catalog = nullptr);
    ~StatusWindow() override;

    // GUI thread: the text, translated, the window grown to show all of it.
    void setText(const UiText& text);
    std::string text() const;  // as shown, UTF-8

    void onCancel();
    bool onCloseRequest() override;

private:
    void layout();

    const Catalog* m_catalog;
    std::unique_ptr<GUIX_Label> m_status;
    std::unique_ptr<GUIX_Button> m_cancel;
};
