// Base64Decode into exactly the room its header promises is enough.

#include <cstring>
#include <vector>

#include "Crypto.h"
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = FuzzText(data, size);
    std::vector<unsigned char> out(std::strlen(text.c_str()) * 3 / 4 + 2);
    const int touched = Base64Decode(text.c_str(), out.data());
    FUZZ_CHECK(touched >= 0 && static_cast<std::size_t>(touched) < out.size() && out[touched] == 0);
    return 0;
}
