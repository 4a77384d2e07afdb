#include "ProxyAuthChallenge.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Crypto.h"
#include "Utf8.h"

namespace {

constexpr uint32_t kInitialUnits = 128;
constexpr uint32_t kGrowUnits = 64;

// Fixed part of a CHALLENGE_MESSAGE, up to and including TargetInfoFields.
constexpr size_t kNtlmFixedHeader = 48;
constexpr size_t kNtlmTargetInfoOffset = 44;
constexpr int kNtlmAvPairSteps = 4;

enum : uint16_t {
    MsvAvNbComputerName = 1,
    MsvAvNbDomainName = 2,
    MsvAvDnsComputerName = 3,
    MsvAvDnsDomainName = 4,
};

std::string Lowered(const char* text, size_t length) {
    std::string s(text, length);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

// ---- WStringBuffer ---------------------------------------------------------

WStringBuffer::WStringBuffer() {
    m_data = static_cast<WChar*>(malloc(kInitialUnits * sizeof(WChar)));
    if (m_data) {
        m_capacity = kInitialUnits;
        m_data[0] = 0;
    }
}

WStringBuffer::~WStringBuffer() { Release(); }

bool WStringBuffer::Append(const WChar* units, uint32_t n) {
    if (!units || n == 0) return true;
    // Room for the units, the terminator and the usual slack; refuse what
    // would not fit in the 32-bit counters.
    if (n > UINT32_MAX - kGrowUnits - m_length) return false;
    const uint32_t newLength = m_length + n;
    if (newLength + kGrowUnits > m_capacity || !m_data) {
        const uint32_t newCapacity = newLength + kGrowUnits;
        auto* grown = static_cast<WChar*>(realloc(m_data, static_cast<size_t>(newCapacity) * sizeof(WChar)));
        if (!grown) return false;  // old array, length and capacity stay valid
        m_data = grown;
        m_capacity = newCapacity;
    }
    memcpy(m_data + m_length, units, static_cast<size_t>(n) * sizeof(WChar));
    m_length = newLength;
    m_data[m_length] = 0;
    return true;
}

bool WStringBuffer::Append(const char* text) {
    if (!text) return true;
    const size_t len = strlen(text);
    if (len == 0) return true;
    if (len > UINT32_MAX - kGrowUnits) return false;
    std::vector<WChar> wide(len);
    for (size_t i = 0; i < len; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return Append(wide.data(), static_cast<uint32_t>(len));
}

bool WStringBuffer::Assign(const WChar* units, uint32_t n) {
    if (!units || n == 0) {
        Clear();
        return true;
    }
    if (n > UINT32_MAX - kGrowUnits) return false;
    if (!m_data || n + kGrowUnits > m_capacity) {
        // Grow before emptying so a failure keeps the old text.
        const uint32_t newCapacity = n + kGrowUnits;
        auto* grown = static_cast<WChar*>(realloc(m_data, static_cast<size_t>(newCapacity) * sizeof(WChar)));
        if (!grown) return false;
        m_data = grown;
        m_capacity = newCapacity;
    }
    m_length = 0;
    return Append(units, n);
}

void WStringBuffer::Clear() {
    m_length = 0;
    if (m_data) m_data[0] = 0;
}

void WStringBuffer::Release() {
    free(m_data);
    m_data = nullptr;
    m_capacity = 0;
    m_length = 0;
}

// ---- ProxyAuthChallenge ----------------------------------------------------

ProxyAuthChallenge::ProxyAuthChallenge() = default;

ProxyAuthChallenge::~ProxyAuthChallenge() { free(m_realm); }

uint32_t ProxyAuthChallenge::ParseChallenge(const char* headers, size_t length) {
    m_scheme = AUTH_NONE;
    if (!headers || length == 0) return m_scheme;

    const size_t end = std::string_view(headers, length).find("\r\n\r\n");
    if (end == std::string::npos || end == 0) return m_scheme;

    const std::string section(headers, end);
    const std::string lowered = Lowered(headers, end);

    struct Candidate {
        const char* needle;
        uint32_t scheme;
    };
    static const Candidate kOrder[] = {
        {"authenticate: basic", AUTH_BASIC},
        {"authenticate: ntlm tlrmtvntuaac", AUTH_NTLM_CHALLENGE},
        {"authenticate: ntlm", AUTH_NTLM},
        {"authenticate: digest", AUTH_DIGEST},
    };
    size_t match = std::string::npos;
    for (const auto& c : kOrder) {
        match = lowered.find(c.needle);
        if (match != std::string::npos) {
            m_scheme = c.scheme;
            break;
        }
    }
    if (match == std::string::npos || match == 0) return m_scheme;

    size_t lineEnd = section.find("\r\n", match);
    if (lineEnd == std::string::npos) lineEnd = section.size();
    const std::string line = section.substr(match, lineEnd - match);
    const std::string lowLine = lowered.substr(match, lineEnd - match);

    if (m_scheme == AUTH_BASIC || m_scheme == AUTH_DIGEST) {
        // Digest carries the same realm parameter; the user sees it either way.
        static const char kRealm[] = "realm=\"";
        const size_t r = lowLine.find(kRealm);
        if (r == std::string::npos) return m_scheme;
        const size_t start = r + sizeof(kRealm) - 1;
        const size_t close = line.find('"', start);
        if (close == std::string::npos) return m_scheme;
        free(m_realm);
        m_realm = nullptr;
        if (close > start) m_realm = strndup(line.c_str() + start, close - start);
    } else if (m_scheme == AUTH_NTLM_CHALLENGE) {
        static const char kNtlm[] = "authenticate: ntlm ";
        const size_t n = lowLine.find(kNtlm);
        if (n != std::string::npos) ParseNtlmChallenge(line.c_str() + n + sizeof(kNtlm) - 1);
    }
    return m_scheme;
}

bool ProxyAuthChallenge::ParseNtlmChallenge(const char* base64) {
    if (!base64) return false;
    const size_t chars = strlen(base64);
    // The decoder writes a partial byte and a zero byte behind the data.
    std::vector<unsigned char> buf(chars / 4 * 3 + 4, 0);
    const int touched = Base64Decode(base64, buf.data());
    if (touched <= 0) return false;

    // Only whole bytes count; the partial one holds leftover bits of padding.
    size_t decoded = 0;
    while (decoded < chars && IsBase64Char(base64[decoded])) ++decoded;
    size_t len = decoded * 6 / 8;
    if (len > static_cast<size_t>(touched)) len = static_cast<size_t>(touched);

    if (len < kNtlmFixedHeader) return false;
    static const unsigned char kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    if (memcmp(buf.data(), kSignature, sizeof(kSignature)) != 0) return false;
    if (buf[8] != 2) return false;

    const unsigned char* msg = buf.data();
    size_t pos = Le32(msg + kNtlmTargetInfoOffset);
    for (int step = 0; step < kNtlmAvPairSteps; ++step) {
        // Subtraction only: no sum that could wrap on a 32-bit size_t.
        if (pos > len || len - pos < 4) break;
        const uint16_t id = Le16(msg + pos);
        const uint16_t avLen = Le16(msg + pos + 2);
        if (avLen > len - pos - 4) break;
        if (id == MsvAvNbDomainName) {
            const uint32_t units = avLen / 2u;
            std::vector<WChar> name(units);
            for (uint32_t i = 0; i < units; ++i) name[i] = Le16(msg + pos + 4 + 2 * i);
            if (m_text.Assign(name.data(), units)) m_textIsRealm = false;
            pos += 4u + avLen;
        } else if (id == MsvAvNbComputerName || id == MsvAvDnsComputerName || id == MsvAvDnsDomainName) {
            pos += 4u + avLen;
        } else {
            break;  // MsvAvEOL or a pair we do not walk past
        }
    }
    return true;
}

const WChar* ProxyAuthChallenge::GetChallengeText() {
    if (m_scheme == AUTH_BASIC || m_scheme == AUTH_DIGEST) {
        m_text.Clear();
        if (m_realm) m_text.Append(m_realm);
        m_textIsRealm = true;
    }
    static const WChar kEmpty[1] = {0};
    return m_text.data() ? m_text.data() : kEmpty;
}

std::string ProxyAuthChallenge::GetChallengeMessage() {
    const WChar* text = GetChallengeText();
    if (!m_textIsRealm) return Utf16ToUtf8(text, m_text.length());
    std::string bytes;
    for (; *text; ++text) bytes.push_back(static_cast<char>(*text));
    return bytes;
}
