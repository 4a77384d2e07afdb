#include "StatusWindow.h"

#include <algorithm>

#include "GUIX_Application.h"
#include "GUIX_Button.h"
#include "GUIX_Label.h"
#include "GUIX_MethodFunctor.h"
#include "LauncherIcon.xpm"

namespace {

constexpr int kWidth = 350, kHeight = 60;
constexpr int kLabelWidth = 200, kLabelHeight = 26;
constexpr int kCharWidth = 6;  // the toolkit's one font, 6x13

int CellWidth(const char*, int length, void*) { return length * kCharWidth; }

}  // namespace

// Wrapped text draws a line that fits exactly as unwrapped text does; longer
// texts (a missing library's sentence, a server's long error) wrap instead of
// being cut, and the window grows to hold them.
StatusWindow::StatusWindow() : GUIX_Dialog("Connection Status", kWidth, kHeight, 0x3) {
    m_status = std::make_unique<GUIX_Label>(this, "Connecting...", 20, 17, kLabelWidth, kLabelHeight,
                                            GUIX_FRAME_SUNKEN | GUIX_TEXT_WRAP);
    m_status->setBackground(GUIX_Color::white);
    m_cancel = std::make_unique<GUIX_Button>(this, "Cancel", 240, 17, 90, 26);
    m_cancel->setCallback(new GUIX_MethodFunctor<StatusWindow>(this, &StatusWindow::onCancel));
    setIcon(launcher_icon_xpm);
}

StatusWindow::~StatusWindow() = default;

void StatusWindow::setText(const std::string& text) {
    const int lineHeight = m_status->hasFont() ? m_status->lineHeight() : 13;
    const auto lines = GUIX_Drawable::layoutText(text, kLabelWidth, kLabelHeight, GUIX_TEXT_WRAP, kCharWidth,
                                                 lineHeight, 0, CellWidth, nullptr);
    const int labelHeight = std::max(kLabelHeight, static_cast<int>(lines.size()) * lineHeight + 10);
    if (labelHeight != m_status->height()) {
        resize(kWidth, kHeight + labelHeight - kLabelHeight);
        m_status->resize(kLabelWidth, labelHeight);
    }
    m_status->setText(text);
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
