#include "GUIX_Composite.h"

GUIX_Composite::GUIX_Composite(GUIX_Widget* parent, int x, int y, int width, int height, std::uint32_t flags)
    : GUIX_Drawable(parent, x, y, width, height, flags) {}

GUIX_Composite::GUIX_Composite(int x, int y, int width, int height, std::uint32_t flags)
    : GUIX_Drawable(x, y, width, height, flags) {}

GUIX_Composite::~GUIX_Composite() = default;
