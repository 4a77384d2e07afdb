// Authentication challenges: real header sections, published NTLM messages,
// and NTLM messages that lie about their sizes.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "ProxyAuthChallenge.h"
#include "NetTestSupport.h"

namespace {

using A = ProxyAuthChallenge;
using testsupport::ProxyHome;

// A CHALLENGE_MESSAGE in base64: the 48-byte fixed part, then AV pairs {id,
// UTF-16LE value}; then a field at some offset overwritten, and all cut to a length.
std::string Challenge(const std::vector<std::pair<uint16_t, std::u16string>>& pairs, size_t at = 0,
                      uint32_t value = 0, int size = 0, size_t length = SIZE_MAX) {
    std::vector<uint8_t> m = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 2};
    m.resize(48);
    m[44] = 48;
    for (const auto& [id, text] : pairs) {
        m.insert(m.end(), {static_cast<uint8_t>(id), 0, static_cast<uint8_t>(text.size() * 2), 0});
        for (char16_t c : text)
            m.insert(m.end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
    }
    for (int i = 0; i < size; ++i) m[at + i] = (value >> (8 * i)) & 0xFF;  // little-endian
    m.resize(std::min(length, m.size()));
    std::string out(4 * (m.size() / 3 + 1), '\0');
    out.resize(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), m.data(), static_cast<int>(m.size())));
    return out;
}

}  // namespace

TEST(ChallengeHeaders, RealSectionsAndPreferenceOrder) {
    const auto section = [](const std::string& lines) { return "HTTP/1.1 407 x\r\n" + lines + "\r\n\r\n"; };
    const struct {
        std::string text;
        uint32_t type;
        const char* challengeText;
    } cases[] = {
        {ProxyHome::Fixture("http-auth/moodle-squid27-407-basic-then-200.http"), A::AUTH_BASIC,
         "Squid proxy-caching web server"},
        {ProxyHome::Fixture("http-auth/pubnub-407-digest-qop.http"), A::AUTH_DIGEST, "testrealm@host.com"},
        {ProxyHome::Fixture("http-auth/curl-test2056-401-negotiate-only.http"), A::AUTH_NONE, ""},
        {ProxyHome::Fixture("http-auth/curl-test209-407-ntlm-type2-CC.http"), A::AUTH_NTLM_CHALLENGE, "CC"},
        {section("Proxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm=\"Corp\""), A::AUTH_BASIC,
         "Corp"},
        {section("WWW-AUTHENTICATE: BASIC REALM=\"Intranet Zone\""), A::AUTH_BASIC, "Intranet Zone"},
        {section("Proxy-Authenticate: Digest realm=\"d\"\r\nProxy-Authenticate: NTLM"), A::AUTH_NTLM, ""},
        // A realm's bytes go on as they came: the window reads them.
        {section("Proxy-Authenticate: Basic realm=\"B\xfcro\""), A::AUTH_BASIC, "B\xfcro"},
        {section("Proxy-Authenticate: Basic realm=\"\xe6\x9d\xb1\""), A::AUTH_BASIC, "\xe6\x9d\xb1"},
    };
    for (const auto& c : cases) {
        A parser;
        EXPECT_EQ(parser.ParseChallenge(c.text.data(), c.text.size()), c.type) << c.text;
        EXPECT_EQ(parser.GetChallengeMessage(), c.challengeText) << c.text;
    }
}

// Each message after the published one with domain "CC": one that lies
// about its sizes must leave that text alone (asan also sees that nothing
// past the decoded bytes is read).
TEST(NtlmChallenge, DomainsOfPublishedBuiltAndLyingMessages) {
    const struct {
        std::string base64;
        bool ok;
        const char* text;
    } cases[] = {
        {ProxyHome::Fixture("ntlm/ms-nlmp-4.2.4.3-Domain.b64"), true, "Domain"},
        {Challenge({{1, u"SERVER"}, {2, u"WORKGROUP"}, {0, u""}}), true, "WORKGROUP"},
        {Challenge({{2, u"EDGE"}}), true, "EDGE"},                  // ends with the message
        {Challenge({{2, u"M\u00dcNCHEN"}}), true, "M\u00dcNCHEN"},  // in UTF-8 for the window
        {Challenge({{2, u"\u0391\u0398\u0397\u039d\u0391"}}), true,
         "\u0391\u0398\u0397\u039d\u0391"},                       // not cut
        {Challenge({{2, u"\U00020BB7X"}}), true, "\U00020BB7X"},  // a surrogate pair
        {Challenge({{0, u""}, {2, u"OTHER"}}), true, "CC"},       // none after the end of the list
        {Challenge({{1, u"a"}, {3, u"b"}, {4, u"c"}, {1, u"d"}, {2, u"LATE"}}), true,
         "CC"},                                                      // walks four at most
        {Challenge({{2, u"X"}}, 50, 0xFFFF, 2), true, "CC"},         // a pair far longer than the message
        {Challenge({{2, u"EVIL"}}, 50, 9, 2), true, "CC"},           // one byte longer
        {Challenge({{2, u"EVIL"}}, 44, 0xFFFFFFFE, 4), true, "CC"},  // offset wraps when added to
        {Challenge({{2, u"EVIL"}}, 44, 57, 4), true, "CC"},          // fewer than 4 bytes left for a pair
        {Challenge({{1, u"S"}, {2, u"EVIL"}}, 50, 0xFFF0, 2), true, "CC"},  // one walked past jumps out
        {Challenge({{2, u"EVIL"}}, 0, 0, 0, 46), false, "CC"},              // the offset field cut short
        {Challenge({{2, u"EVIL"}}, 8, 3, 1), false, "CC"},                  // not a type 2 message
        {Challenge({{2, u"EVIL"}}, 7, 'X', 1), false, "CC"},                // signature
        {"!!!!", false, "CC"},
    };
    for (const auto& k : cases) {
        A c;
        ASSERT_TRUE(c.ParseNtlmChallenge(ProxyHome::Fixture("ntlm/curl-test209-CC.b64").c_str()));
        EXPECT_EQ(c.ParseNtlmChallenge(k.base64.c_str()), k.ok) << k.base64;
        EXPECT_EQ(c.GetChallengeMessage(), k.text) << k.base64;
    }
}
