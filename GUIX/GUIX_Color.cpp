#include "GUIX_Color.h"

const GUIX_Color GUIX_Color::white(255, 255, 255);
const GUIX_Color GUIX_Color::black(0, 0, 0);

GUIX_Color GUIX_Color::mix(const GUIX_Color& a, const GUIX_Color& b, double t) {
    auto ch = [t](std::int32_t x, std::int32_t y) {
        return static_cast<std::int32_t>(x * (1.0 - t) + y * t);
    };
    return GUIX_Color(ch(a.red, b.red), ch(a.green, b.green), ch(a.blue, b.blue));
}
