#pragma once
// A container; children travel with it because they are X subwindows.

#include "GUIX_Drawable.h"

class GUIX_Composite : public GUIX_Drawable {
public:
    GUIX_Composite(GUIX_Widget* parent, int x, int y, int width, int height, std::uint32_t flags);
    GUIX_Composite(int x, int y, int width, int height, std::uint32_t flags);
    ~GUIX_Composite() override;
};
