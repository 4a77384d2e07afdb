#include "GUIX_Label.h"

GUIX_Label::GUIX_Label(GUIX_Widget* parent, const std::string& text, int x, int y, int width, int height,
                       std::uint32_t flags)
    : GUIX_Drawable(parent, x, y, width, height, flags), m_text(text) {}

GUIX_Label::GUIX_Label(GUIX_Widget* parent, const std::string& text, int width, int height,
                       std::uint32_t flags)
    : GUIX_Label(parent, text, 0, 0, width, height, flags) {}

GUIX_Label::~GUIX_Label() = default;

void GUIX_Label::draw() {
    std::uint32_t f = flags();
    int inset = (f & (GUIX_FRAME_SUNKEN | GUIX_FRAME_RAISED)) ? 2 : 0;
    clear(inset);
    drawTextBlock(text(), f);
    if (f & GUIX_FRAME_SUNKEN)
        drawSunkenFrame2(0);
    else if (f & GUIX_FRAME_RAISED)
        drawRaisedFrame2(0);
}

void GUIX_Label::setText(const std::string& text) {
    {
        std::lock_guard<std::mutex> g(m_textMutex);
        m_text = text;
    }
    repaint();
}

std::string GUIX_Label::text() const {
    std::lock_guard<std::mutex> g(m_textMutex);
    return m_text;
}

int GUIX_Label::textLength() const {
    std::lock_guard<std::mutex> g(m_textMutex);
    return static_cast<int>(m_text.size());
}

bool GUIX_Label::insertChar(char c, int index) {
    std::lock_guard<std::mutex> g(m_textMutex);
    if (index < 0 || index > static_cast<int>(m_text.size())) return false;
    m_text.insert(m_text.begin() + index, c);
    return true;
}

bool GUIX_Label::eraseChar(int index) {
    std::lock_guard<std::mutex> g(m_textMutex);
    if (index < 0 || index >= static_cast<int>(m_text.size())) return false;
    m_text.erase(m_text.begin() + index);
    return true;
}
