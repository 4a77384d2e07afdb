#pragma once
// Static text, optionally framed (GUIX_FRAME_SUNKEN / GUIX_FRAME_RAISED).

#include <cstdint>
#include <mutex>
#include <string>

#include "GUIX_Drawable.h"

class GUIX_Label : public GUIX_Drawable {
public:
    GUIX_Label(GUIX_Widget* parent, const std::string& text, int x, int y, int width, int height,
               std::uint32_t flags = 0);
    GUIX_Label(GUIX_Widget* parent, const std::string& text, int width, int height, std::uint32_t flags = 0);
    ~GUIX_Label() override;

    void draw() override;

    // Any thread: replaces the text and requests a repaint.
    void setText(const std::string& text);
    std::string text() const;
    // Inserts c before index (0 <= index <= length); true when the text grew.
    bool insertChar(char c, int index);
    // Removes the character at index (0 <= index < length); true when the text shrank.
    bool eraseChar(int index);
    int textLength() const;

private:
    mutable std::mutex m_textMutex;
    std::string m_text;
};
