#include "GUIX_TextLine.h"

#include <algorithm>

#include "Utf8.h"

GUIX_TextLine::GUIX_TextLine(GUIX_Widget* parent, const std::string& text, int x, int y, int width,
                             int height, std::uint32_t flags)
    : GUIX_Label(parent, text, x, y, width, height, flags), GUIX_Focusable(this, parent) {
    m_cursor.store(static_cast<int>(text.size()));
    selectEvents(GUIX_SELECT_BUTTON_PRESS);
    // No repaint request here: the entry is not mapped yet, and a posted
    // event could reach it before a derived class is built.
    setBackgroundColor(GUIX_Color::white);
}

GUIX_TextLine::~GUIX_TextLine() { delete m_returnCallback; }

void GUIX_TextLine::setReturnCallback(GUIX_Functor* callback) {
    if (callback == m_returnCallback) return;
    delete m_returnCallback;
    m_returnCallback = callback;
}

std::string GUIX_TextLine::shownText() const { return text(); }

void GUIX_TextLine::handleEvent(const GUIX_Event& event) {
    switch (event.kind) {
    case EV_BUTTON_PRESS: requestFocus(); break;
    case EV_KEY: {
        if (event.keyRelease() || !editable()) break;
        // setText may have changed the text under the cursor: it stays between characters.
        int cursor = static_cast<int>(
            Utf8PrefixLength(text(), static_cast<std::size_t>(std::max(m_cursor.load(), 0))));
        switch (event.keyKind()) {
        case KEY_CHAR:
            if (const int n = insertChar(event.keyCharacter(), cursor)) {
                cursor += n;
                repaint();
            }
            break;
        case KEY_BACKSPACE:
            if (const int n = eraseChar(cursor, true)) {
                cursor -= n;
                repaint();
            }
            break;
        case KEY_DELETE:
            if (eraseChar(cursor)) repaint();
            break;
        case KEY_RETURN:
            if (m_returnCallback) m_returnCallback->call();
            break;
        default: break;
        }
        m_cursor.store(cursor);
        break;
    }
    case EV_FOCUS_IN:
    case EV_FOCUS_OUT: break;
    default: GUIX_Label::handleEvent(event); break;
    }
}

void GUIX_TextLine::draw() {
    setBackgroundColor(GUIX_Color::white);
    setForeground(GUIX_Color::black);
    clear(3);
    if (focused()) drawBorder(m_focusColor, 3);
    drawTextBlock(shownText(), flags());
    drawSunkenFrame3(0);
}
