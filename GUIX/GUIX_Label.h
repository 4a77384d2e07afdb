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

    // Any thread: replaces the text (UTF-8) and requests a repaint.
    void setText(const std::string& text);
    std::string text() const;
    // Byte offsets in the UTF-8 text; a character is one code point.
    // Inserts c before the byte at index (0 <= index <= length); the number
    // of bytes inserted, 0 when index is out of range.
    int insertChar(char32_t c, int index);
    // Removes the character that starts at index (before: the one that ends
    // there); the number of bytes removed, 0 when there is none.
    int eraseChar(int index, bool before = false);
    int textLength() const;

    // What shows the whole text (GUI thread), never less than minimum: the
    // text's width plus margins, and the height of its lines when wrapped at width.
    int fitWidth(int minimum) const;
    int fitHeight(int width, int minimum) const;

private:
    mutable std::mutex m_textMutex;
    std::string m_text;
};
