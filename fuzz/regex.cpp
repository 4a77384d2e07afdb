// RegexMatchIterator: byte 0 the compile flags, then the pattern up to a NUL,
// then the text. Every step moves on, and every match is a piece of the text.

#include <regex.h>

#include "FuzzHarness.h"
#include "RegexMatchIterator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int flags = data[0] & (REG_EXTENDED | REG_ICASE | REG_NEWLINE | REG_NOSUB);
    const std::string rest = FuzzText(data + 1, size - 1);
    const std::size_t split = rest.find('\0');
    // Counted repetition and back references blow up inside glibc, not here.
    if (split == std::string::npos || split > 64 || rest.find_first_of("{\\") < split) return 0;
    const std::string pattern = rest.substr(0, split), text = rest.substr(split + 1);
    std::size_t steps = 0;
    for (RegexMatchIterator it(pattern, text, flags), end; it != end; ++it) {
        FUZZ_CHECK(++steps <= text.size() + 1);
        FUZZ_CHECK(!it->empty() && text.find((*it)[0]) != std::string::npos);
    }
    return 0;
}
