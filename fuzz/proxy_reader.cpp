// One proxy settings reader (SA_READER, set per target) on a fuzzed file, and
// what discovery makes of its result: a proxy reported is a usable host and port.

#include <string>

#include "FuzzHarness.h"
#include "ProxySettingsReaders.h"

namespace {

// The proxy variables for a transfer: the input's first line is its URL.
[[maybe_unused]] bool ReadEnvironmentForUrl(const std::string& text, ProxyFound& found) {
    const std::size_t eol = text.find('\n');
    if (eol == std::string::npos) return ReadProxyEnvironment("", text, found);
    return ReadProxyEnvironment(text.substr(eol + 1), text.substr(0, eol), found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProxyFound found;
    if (!SA_READER(FuzzText(data, size), found)) return 0;
    ProxySettings settings;
    if (!ApplyProxyFound(settings, found)) return 0;
    const std::string host = settings.host ? settings.host : "";
    FUZZ_CHECK(!host.empty());
    if (host[0] == '[')  // an IPv6 address, in the brackets libcurl wants
        FUZZ_CHECK(host.find_first_not_of("0123456789abcdefABCDEF:.", 1) == host.size() - 1 &&
                   host.back() == ']');
    else  // a DNS name or an IPv4 address
        FUZZ_CHECK(
            host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._") ==
            std::string::npos);
    FUZZ_CHECK(settings.port > 0 && settings.port <= 65535);
    return 0;
}
