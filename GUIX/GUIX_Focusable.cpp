#include "GUIX_Focusable.h"

#include "GUIX_Dialog.h"
#include "GUIX_Widget.h"

GUIX_Focusable::GUIX_Focusable(GUIX_Widget* widget, GUIX_Widget* parent)
    : m_widget(widget), m_dialog(parent ? dynamic_cast<GUIX_Dialog*>(parent->topLevel()) : nullptr) {
    if (m_dialog) m_dialog->addFocusable(this);
}

GUIX_Focusable::~GUIX_Focusable() {
    if (m_dialog) m_dialog->removeFocusable(this);
}

void GUIX_Focusable::requestFocus() {
    if (m_dialog) m_dialog->setFocus(this);
}
