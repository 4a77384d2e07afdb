// RegexMatchIterator: byte 0 the compile flags, then the pattern up to a NUL,
// then the text. Every step moves on, and every match is a piece of the text.

#include <regex.h>

#include <algorithm>

#include "FuzzHarness.h"
#include "RegexMatchIterator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int flags = data[0] & (REG_EXTENDED | REG_ICASE | REG_NEWLINE | REG_NOSUB);
    const std::string rest = FuzzText(data + 1, size - 1);
    const std::size_t split = rest.find('\0');
    if (split == std::string::npos || split > 64) return 0;
    const std::string pattern = rest.substr(0, split), text = rest.substr(split + 1);
    // Counted, stacked or many repetitions and back references make glibc's
    // regcomp itself blow up; the product compiles only its own patterns.
    if (pattern.find_first_of("{\\") != std::string::npos ||
        std::count_if(pattern.begin(), pattern.end(),
                      [](char c) { return c == '*' || c == '+' || c == '?'; }) > 6)
        return 0;
    std::size_t steps = 0;
    for (RegexMatchIterator it(pattern, text, flags), end; it != end; ++it) {
        FUZZ_CHECK(++steps <= text.size() + 1);
        FUZZ_CHECK(!it->empty() && text.find((*it)[0]) != std::string::npos);
    }
    return 0;
}
