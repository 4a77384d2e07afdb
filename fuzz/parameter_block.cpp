// The ParameterBlock of a patched copy: the input's first 1026 bytes.
// Without a display nobody is asked for a code.

#include <algorithm>
#include <cstring>

#include "FuzzHarness.h"
#include "Launcher.h"
#include "ParameterBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::memset(ParameterBlock, 0, kParameterBlockSize);
    std::memcpy(ParameterBlock, data, std::min(size, kParameterBlockSize));
    ParseParameterBlock();
    const SessionParametersRecord& p = SessionParameters;
    for (const std::string* value : {&p.url, &p.owner, &p.title, &p.lang, &p.ac, &p.code}) {
        FUZZ_CHECK(value->size() < kParameterTextSize && value->find(')') == std::string::npos);
        FUZZ_CHECK(value->find('\0') == std::string::npos && (value == &p.code || !value->empty()));
    }
    return 0;
}
