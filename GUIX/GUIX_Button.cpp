#include "GUIX_Button.h"

GUIX_Button::GUIX_Button(GUIX_Widget* parent, const std::string& text, int x, int y, int width, int height)
    : GUIX_Label(parent, text, x, y, width, height, GUIX_TEXT_HCENTER) {
    selectEvents(GUIX_SELECT_ENTER);
    selectEvents(GUIX_SELECT_LEAVE);
    selectEvents(GUIX_SELECT_BUTTON_PRESS);
    selectEvents(GUIX_SELECT_BUTTON_RELEASE);
}

GUIX_Button::GUIX_Button(GUIX_Widget* parent, const std::string& text, int width, int height)
    : GUIX_Button(parent, text, 0, 0, width, height) {}

GUIX_Button::~GUIX_Button() { delete m_callback; }

void GUIX_Button::setCallback(GUIX_Functor* callback) {
    if (callback == m_callback) return;
    delete m_callback;
    m_callback = callback;
}

void GUIX_Button::handleEvent(const GUIX_Event& event) {
    switch (event.kind) {
    case EV_ENTER:
        m_hovered = true;
        repaint();
        break;
    case EV_LEAVE:
        m_hovered = false;
        repaint();
        break;
    case EV_BUTTON_PRESS:
        m_pressed = true;
        repaint();
        break;
    case EV_BUTTON_RELEASE:
        m_pressed = false;
        repaint();
        // A press released outside the button does nothing.
        if (m_hovered && m_callback) m_callback->call();
        break;
    default: GUIX_Label::handleEvent(event); break;
    }
}

void GUIX_Button::draw() {
    setBackgroundColor(m_hovered ? GUIX_Color(225, 225, 225) : GUIX_Color(200, 200, 200));
    setForeground(GUIX_Color::black);
    if (m_pressed) {
        clear(5);
        drawTextBlock(text(), flags());
        drawSunkenFrame3(0);
        drawRaisedFrame2(3);
    } else {
        clear(3);
        drawTextBlock(text(), flags());
        drawRaisedFrame3(0);
    }
}
