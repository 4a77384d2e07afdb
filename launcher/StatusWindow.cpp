#include "StatusWindow.h"

#include <algorithm>

#include "GUIX_Application.h"
#include "GUIX_Button.h"
#include "GUIX_Label.h"
#include "GUIX_MethodFunctor.h"
#include "LauncherIcon.xpm"

namespace {

// The 1x design: 350 x 60, the label 200 x 26 at (20, 17), Cancel 90 wide beside it.
constexpr int kMargin = 20, kTop = 17, kLabelWidth = 200, kRowHeight = 26, kButtonWidth = 90;

int Px(int length) { return GUIX_Application::instance().px(length); }

}  // namespace

StatusWindow::StatusWindow(const Catalog* catalog)
    : GUIX_Dialog(ScreenText(TextId::CONNECTION_STATUS, catalog),
                  Px(2 * kMargin + kLabelWidth + kMargin + kButtonWidth), Px(2 * kTop + kRowHeight), 0x3),
      m_catalog(catalog) {
    m_status = std::make_unique<GUIX_Label>(this, ScreenText(TextId::CONNECTING, catalog), scaled(kMargin),
                                            scaled(kTop), scaled(kLabelWidth), scaled(kRowHeight),
                                            GUIX_FRAME_SUNKEN | GUIX_TEXT_WRAP);
    m_status->setBackground(GUIX_Color::white);
    m_cancel = std::make_unique<GUIX_Button>(this, ScreenText(TextId::CANCEL, catalog),
                                             scaled(kMargin + kLabelWidth + kMargin), scaled(kTop),
                                             scaled(kButtonWidth), scaled(kRowHeight));
    m_cancel->setCallback(new GUIX_MethodFunctor<StatusWindow>(this, &StatusWindow::onCancel));
    setIcon(launcher_icon_xpm);
    layout();
}

StatusWindow::~StatusWindow() = default;

// A long text (a missing library's sentence, a server's long error) wraps
// instead of being cut, and the window grows to hold it; a long button
// text widens the button.
void StatusWindow::layout() {
    const int labelWidth = scaled(kLabelWidth);
    const int labelHeight = m_status->fitHeight(labelWidth, scaled(kRowHeight));
    const int buttonWidth = m_cancel->fitWidth(scaled(kButtonWidth));
    const int buttonHeight = m_cancel->fitHeight(buttonWidth, scaled(kRowHeight));
    const int w = scaled(kMargin) + labelWidth + scaled(kMargin) + buttonWidth + scaled(kMargin);
    const int h = scaled(2 * kTop) + std::max(labelHeight, buttonHeight);
    if (labelHeight != m_status->height()) m_status->resize(labelWidth, labelHeight);
    if (buttonWidth != m_cancel->width() || buttonHeight != m_cancel->height())
        m_cancel->resize(buttonWidth, buttonHeight);
    if (w != width() || h != height()) resize(w, h);
}

void StatusWindow::setText(const UiText& text) {
    const std::string shown = ScreenText(text, m_catalog);
    m_status->setText(shown);
    setIconName(shown);  // what a window manager lists for it iconified
    layout();
}

std::string StatusWindow::text() const { return m_status->text(); }

// The same end as a close through the window manager: the loop stops, the
// result code stays as it was.
void StatusWindow::onCancel() {
    GUIX_Application::instance().quit();
    close();
}

bool StatusWindow::onCloseRequest() {
    GUIX_Application::instance().quit();
    return true;
}
