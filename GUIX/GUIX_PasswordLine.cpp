#include "GUIX_PasswordLine.h"

#include "Utf8.h"

GUIX_PasswordLine::GUIX_PasswordLine(GUIX_Widget* parent, const std::string& text, int x, int y, int width,
                                     int height, std::uint32_t flags)
    : GUIX_TextLine(parent, text, x, y, width, height, flags) {
    setSecret();
}

GUIX_PasswordLine::~GUIX_PasswordLine() = default;

void GUIX_PasswordLine::draw() { GUIX_TextLine::draw(); }

std::string GUIX_PasswordLine::shownText() const {
    const std::string real = text();
    std::size_t characters = 0;
    for (std::size_t pos = 0; pos < real.size(); ++characters) NextCodePoint(real, pos);
    return std::string(characters, '*');
}
