// One proxy settings reader (SA_READER, set per target) on a fuzzed file, and
// what discovery makes of its result: a proxy reported is a usable host and port.

#include <cstring>

#include "FuzzHarness.h"
#include "ProxySettingsReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProxyFound found;
    if (!SA_READER(FuzzText(data, size), found)) return 0;
    ProxySettings settings;
    if (!ApplyProxyFound(settings, found)) return 0;
    FUZZ_CHECK(settings.host && *settings.host && !std::strpbrk(settings.host, " \t:/"));
    FUZZ_CHECK(settings.port > 0 && settings.port <= 65535);
    return 0;
}
