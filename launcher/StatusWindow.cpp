#include "StatusWindow.h"

#include "GUIX_Application.h"
#include "GUIX_Button.h"
#include "GUIX_Label.h"
#include "GUIX_MethodFunctor.h"
#include "LauncherIcon.xpm"

StatusWindow::StatusWindow() : GUIX_Dialog("Connection Status", 350, 60, 0x3) {
    m_status = std::make_unique<GUIX_Label>(this, "Connecting...", 20, 17, 200, 26, 0x20);
    m_status->setBackground(GUIX_Color::white);
    m_cancel = std::make_unique<GUIX_Button>(this, "Cancel", 240, 17, 90, 26);
    m_cancel->setCallback(new GUIX_MethodFunctor<StatusWindow>(this, &StatusWindow::onCancel));
    setIcon(launcher_icon_xpm);
}

StatusWindow::~StatusWindow() = default;

void StatusWindow::setText(const std::string& text) { m_status->setText(text); }

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
