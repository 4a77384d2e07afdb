// A 401/407 header section as libcurl hands it over.

#include "FuzzHarness.h"
#include "ProxyAuthChallenge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProxyAuthChallenge challenge;
    const uint32_t scheme = challenge.ParseChallenge(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(scheme <= ProxyAuthChallenge::AUTH_DIGEST || scheme == ProxyAuthChallenge::AUTH_NTLM ||
               scheme == ProxyAuthChallenge::AUTH_NTLM_CHALLENGE);
    FUZZ_CHECK(w16::wcslen(challenge.GetChallengeText()) <= size);
    return 0;
}
