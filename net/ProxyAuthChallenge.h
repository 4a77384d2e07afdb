#pragma once
// Reads HTTP authentication challenges (Proxy-Authenticate / WWW-Authenticate)
// and pulls out a text to show the user: the realm of a Basic challenge or the
// NetBIOS domain carried in an NTLM challenge message.

#include <cstddef>
#include <cstdint>
#include <string>

#include "String_Utils_Unix.h"

// Growable zero-terminated text of 16-bit units.
class WStringBuffer {
public:
    WStringBuffer();
    ~WStringBuffer();
    WStringBuffer(const WStringBuffer&) = delete;
    WStringBuffer& operator=(const WStringBuffer&) = delete;

    // Appends n units; false (and nothing changed) when the memory is not there.
    bool Append(const WChar* units, uint32_t n);
    // Appends a narrow text, one unit per byte.
    bool Append(const char* text);
    // Replaces the content; on failure the old content stays.
    bool Assign(const WChar* units, uint32_t n);
    void Clear();
    void Release();

    const WChar* data() const { return m_data; }
    uint32_t length() const { return m_length; }
    uint32_t capacity() const { return m_capacity; }

private:
    uint32_t m_capacity = 0;
    uint32_t m_length = 0;
    WChar* m_data = nullptr;
};

class ProxyAuthChallenge {
public:
    enum Scheme : uint32_t {
        AUTH_NONE = 0,
        AUTH_BASIC = 1,
        AUTH_DIGEST = 2,
        AUTH_NTLM = 5,           // NTLM offered, no challenge message
        AUTH_NTLM_CHALLENGE = 6  // NTLM challenge message present
    };

    ProxyAuthChallenge();
    ~ProxyAuthChallenge();
    ProxyAuthChallenge(const ProxyAuthChallenge&) = delete;
    ProxyAuthChallenge& operator=(const ProxyAuthChallenge&) = delete;

    // Header section (ended by a blank line, more text may follow) -> scheme.
    uint32_t ParseChallenge(const char* headers, size_t length);
    // Base64 NTLM CHALLENGE_MESSAGE; takes the NetBIOS domain as challenge text.
    // False for a message too short or not a challenge message.
    bool ParseNtlmChallenge(const char* base64);
    // Zero-terminated 16-bit text owned by the object.
    const WChar* GetChallengeText();
    // The same text as bytes: a realm as the server sent it (its charset is
    // not said: the window decides how to read it), an NTLM domain in UTF-8.
    std::string GetChallengeMessage();

    uint32_t scheme() const { return m_scheme; }
    const char* realm() const { return m_realm; }

private:
    uint32_t m_scheme = AUTH_NONE;
    WStringBuffer m_text;
    bool m_textIsRealm = false;  // m_text holds a realm's bytes, one unit each
    char* m_realm = nullptr;
};
