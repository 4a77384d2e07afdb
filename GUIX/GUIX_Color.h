#pragma once
// An RGB colour, each channel 0..255.

#include <cstdint>

struct GUIX_Color {
    std::int32_t red = 0;
    std::int32_t green = 0;
    std::int32_t blue = 0;

    constexpr GUIX_Color() = default;
    constexpr GUIX_Color(std::int32_t r, std::int32_t g, std::int32_t b) : red(r), green(g), blue(b) {}

    // a * (1 - t) + b * t per channel, truncated toward zero.
    static GUIX_Color mix(const GUIX_Color& a, const GUIX_Color& b, double t);

    bool operator==(const GUIX_Color&) const = default;

    static const GUIX_Color white;
    static const GUIX_Color black;
};
