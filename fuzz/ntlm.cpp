// An NTLM CHALLENGE_MESSAGE: the input is the message's bytes, sent base64
// encoded as a proxy sends it.

#include <openssl/evp.h>

#include <vector>

#include "FuzzHarness.h"
#include "ProxyAuthChallenge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> base64(4 * (size / 3 + 1) + 1);
    EVP_EncodeBlock(base64.data(), data, static_cast<int>(size));
    ProxyAuthChallenge challenge;
    challenge.ParseNtlmChallenge(reinterpret_cast<const char*>(base64.data()));
    FUZZ_CHECK(w16::wcslen(challenge.GetChallengeText()) <= size / 2);
    return 0;
}
