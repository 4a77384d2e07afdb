#include "SessionCodeWindow.h"

#include "GUIX_Button.h"
#include "GUIX_MethodFunctor.h"
#include "GUIX_TextLine.h"
#include "LauncherIcon.xpm"

SessionCodeWindow::SessionCodeWindow() : GUIX_Dialog("Enter code", 350, 70, 0x3) {
    // The only focusable child, so it holds the focus from the start.
    m_code = std::make_unique<GUIX_TextLine>(this, "", 20, 20, 220, 30, 0);
    m_code->setReturnCallback(new GUIX_MethodFunctor<SessionCodeWindow>(this, &SessionCodeWindow::onOk));
    m_ok = std::make_unique<GUIX_Button>(this, "Ok", 255, 20, 75, 30);
    m_ok->setCallback(new GUIX_MethodFunctor<SessionCodeWindow>(this, &SessionCodeWindow::onOk));
    setIcon(launcher_icon_xpm);
}

SessionCodeWindow::~SessionCodeWindow() = default;

std::string SessionCodeWindow::code() const { return m_code->text(); }

void SessionCodeWindow::onOk() {
    setResultCode(kResultOk);
    close();
}
