#pragma once
// A text entry that shows one '*' per character; text() returns the real text.

#include "GUIX_TextLine.h"

class GUIX_PasswordLine : public GUIX_TextLine {
public:
    GUIX_PasswordLine(GUIX_Widget* parent, const std::string& text, int x, int y, int width, int height,
                      std::uint32_t flags = 0);
    ~GUIX_PasswordLine() override;

    void draw() override;

protected:
    std::string shownText() const override;
};
