#include "GUIX_Event.h"

GUIX_Event::GUIX_Event(std::uint32_t k, std::uint32_t t, std::uint32_t s)
    : kind(k), source(s), target(t), payload{} {}
