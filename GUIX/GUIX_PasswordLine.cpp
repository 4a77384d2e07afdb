#include "GUIX_PasswordLine.h"

GUIX_PasswordLine::GUIX_PasswordLine(GUIX_Widget* parent, const std::string& text, int x, int y, int width,
                                     int height, std::uint32_t flags)
    : GUIX_TextLine(parent, text, x, y, width, height, flags) {}

GUIX_PasswordLine::~GUIX_PasswordLine() = default;

void GUIX_PasswordLine::draw() { GUIX_TextLine::draw(); }

std::string GUIX_PasswordLine::shownText() const {
    return std::string(static_cast<std::size_t>(textLength()), '*');
}
