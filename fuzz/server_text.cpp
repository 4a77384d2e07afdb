// A text from the support server (an assignment, a connection string) through
// the decryption; whatever decrypts comes back the same way round.

#include "Crypto.h"
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = FuzzText(data, size);
    const std::string plain = DecryptFromServer(text);
    if (!plain.empty()) FUZZ_CHECK(DecryptFromServer(EncryptForServer(plain)) == plain);
    DecryptConnectionString(text.c_str());
    return 0;
}
