// A session page reply as the session thread reads it (ticket, script,
// error up to a CR), and an assignment as the session request reads it.

#include "FuzzHarness.h"
#include "Launcher.h"
#include "String_Utils_Unix.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = FuzzText(data, size);
    std::string value;
    for (const char* key : {"ticket", "script", "error"})
        if (FindParameter(text.c_str(), key, '=', '\r', value))
            FUZZ_CHECK(!value.empty() && value.find('\r') == std::string::npos &&
                       text.find(value) != std::string::npos);
    for (const char* key : {"isd", "mode", "lUid"}) {
        value = GetParameter(text, key, '=', '&', "-");
        FUZZ_CHECK(!value.empty() && value.find('&') == std::string::npos);
    }
    ClientRole(GetParameter(text, "mode", '=', '&', "2"));
    return 0;
}
