#include "SessionCodeWindow.h"

#include <algorithm>

#include "GUIX_Application.h"
#include "GUIX_Button.h"
#include "GUIX_MethodFunctor.h"
#include "GUIX_TextLine.h"
#include "LauncherIcon.xpm"
#include "Utf8.h"

namespace {

// The 1x design: 350 x 70, the entry 220 x 30 at (20, 20), "Ok" 75 wide 15 beside it.
constexpr int kMargin = 20, kEntryWidth = 220, kGap = 15, kButtonWidth = 75, kRowHeight = 30;

int Px(int length) { return GUIX_Application::instance().px(length); }

}  // namespace

SessionCodeWindow::SessionCodeWindow(const Catalog* catalog)
    : GUIX_Dialog(ScreenText(TextId::ENTER_CODE, catalog),
                  Px(kMargin + kEntryWidth + kGap + kButtonWidth + kMargin), Px(2 * kMargin + kRowHeight),
                  0x3) {
    // The only focusable child, so it holds the focus from the start.
    m_code = std::make_unique<GUIX_TextLine>(this, "", scaled(kMargin), scaled(kMargin), scaled(kEntryWidth),
                                             scaled(kRowHeight), 0);
    m_code->setReturnCallback(new GUIX_MethodFunctor<SessionCodeWindow>(this, &SessionCodeWindow::onOk));
    m_ok = std::make_unique<GUIX_Button>(this, ScreenText(TextId::OK, catalog),
                                         scaled(kMargin + kEntryWidth + kGap), scaled(kMargin),
                                         scaled(kButtonWidth), scaled(kRowHeight));
    m_ok->setCallback(new GUIX_MethodFunctor<SessionCodeWindow>(this, &SessionCodeWindow::onOk));
    setIcon(launcher_icon_xpm);
    // A button text wider than the button widens it, and the window.
    const int okWidth = m_ok->fitWidth(scaled(kButtonWidth));
    const int rowHeight = std::max(m_code->fitHeight(scaled(kEntryWidth), scaled(kRowHeight)),
                                   m_ok->fitHeight(okWidth, scaled(kRowHeight)));
    m_code->resize(scaled(kEntryWidth), rowHeight);
    m_ok->resize(okWidth, rowHeight);
    resize(scaled(kMargin + kEntryWidth + kGap) + okWidth + scaled(kMargin), scaled(2 * kMargin) + rowHeight);
}

SessionCodeWindow::~SessionCodeWindow() = default;

// Input methods type full-width digits: the server knows ASCII ones.
std::string SessionCodeWindow::code() const { return ToAsciiDigits(m_code->text()); }

void SessionCodeWindow::onOk() {
    setResultCode(kResultOk);
    close();
}
