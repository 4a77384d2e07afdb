#include "GUIX_Color.h"

#include <cmath>

const GUIX_Color GUIX_Color::white(255, 255, 255);
const GUIX_Color GUIX_Color::black(0, 0, 0);

GUIX_Color GUIX_Color::mix(const GUIX_Color& a, const GUIX_Color& b, double t) {
    // Exact in thousandths: x87 extended precision would otherwise turn
    // 200 * (1 - 0.66) into 67.99... and the 32-bit build would draw other shades.
    const std::int64_t p = std::llround(t * 1000.0);
    auto ch = [p](std::int32_t x, std::int32_t y) {
        return static_cast<std::int32_t>((x * (1000 - p) + y * p) / 1000);
    };
    return GUIX_Color(ch(a.red, b.red), ch(a.green, b.green), ch(a.blue, b.blue));
}
