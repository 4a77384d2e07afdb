#pragma once
// Access to the patched ParameterBlock of this executable.

#include <strings.h>

#include <cstddef>
#include <cstring>
#include <string>

inline constexpr std::size_t kParameterTextSize = 1024;
inline constexpr std::size_t kParameterBlockSize = 1026;
inline constexpr std::size_t kSessionEnabledOffset = 1024;
inline constexpr std::size_t kAutoRemoveEnabledOffset = 1025;

extern "C" unsigned char ParameterBlock[kParameterBlockSize];

// The text area up to its first zero byte, never more than 1024 bytes, so a
// patched block without a terminator cannot run into the flags.
std::string ParameterBlockText();

unsigned char SessionEnabled();
unsigned char AutoRemoveEnabled();
void SetSessionEnabled(unsigned char value);
void SetAutoRemoveEnabled(unsigned char value);

// The optional item tls(VALUE): how a copy trusts its HTTPS server.
//   absent or empty    not at all, as copies made before the item existed
//   verify             the CA store of the libcurl found at run time, and the host name
//   sha256//BASE64     the SHA-256 of the server's public key (DER), libcurl's pin;
//                      several joined by ';', one matching suffices
// The launcher and the personalisation tool both judge it here.

inline bool IsHttpsUrl(const std::string& url) { return strncasecmp(url.c_str(), "https://", 8) == 0; }

// "sha256//" and the base64 text of 32 bytes: 43 characters, the last with its
// two low bits clear (any other never matches), and one "=".
inline bool IsSha256Pin(const std::string& pin) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (pin.size() != 52 || pin.compare(0, 8, "sha256//") != 0 || pin.back() != '=') return false;
    for (std::size_t i = 8; i < 51; ++i) {
        const char* at = pin[i] != '\0' ? std::strchr(kAlphabet, pin[i]) : nullptr;
        if (at == nullptr || (i == 50 && (at - kAlphabet) % 4 != 0)) return false;
    }
    return true;
}

// What is wrong with the value of a tls item for a copy whose server is url,
// in words; empty when it is sound.
inline std::string TlsItemProblem(const std::string& value, const std::string& url) {
    if (value.empty()) return "";
    if (!IsHttpsUrl(url)) return "tls(" + value + ") needs an https URL, not " + url;
    if (value == "verify") return "";
    for (std::size_t start = 0;;) {
        const std::size_t end = value.find(';', start);
        const std::string pin = value.substr(start, end == std::string::npos ? end : end - start);
        if (!IsSha256Pin(pin))
            return "tls(" + value + "): \"" + pin +
                   "\" is neither verify nor a pin (sha256// and 44 base64 characters of a SHA-256)";
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}
