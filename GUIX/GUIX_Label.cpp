#include "GUIX_Label.h"

#include <algorithm>

#include "Utf8.h"

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

int GUIX_Label::fitWidth(int minimum) const { return std::max(minimum, textWidth(text()) + 2 * scaled(10)); }

int GUIX_Label::fitHeight(int width, int minimum) const {
    const int lines = static_cast<int>(layoutText(text(), width, height(), flags()).size());
    const int margin = flags() & (GUIX_TEXT_TOP | GUIX_TEXT_BOTTOM) ? 5 : 4;
    return std::max(minimum, lines * lineHeight() + 2 * scaled(margin));
}

int GUIX_Label::insertChar(char32_t c, int index) {
    std::lock_guard<std::mutex> g(m_textMutex);
    if (index < 0 || index > static_cast<int>(m_text.size())) return 0;
    std::string bytes;
    AppendUtf8(bytes, c);
    m_text.insert(static_cast<std::size_t>(index), bytes);
    return static_cast<int>(bytes.size());
}

int GUIX_Label::eraseChar(int index, bool before) {
    std::lock_guard<std::mutex> g(m_textMutex);
    if (index < 0 || index > static_cast<int>(m_text.size())) return 0;
    std::size_t start = static_cast<std::size_t>(index), end = start;
    if (before) {
        if (start == 0) return 0;
        start = PreviousCharacterStart(m_text, end);
    } else {
        if (start == m_text.size()) return 0;
        NextCodePoint(m_text, end);
    }
    m_text.erase(start, end - start);
    return static_cast<int>(end - start);
}
