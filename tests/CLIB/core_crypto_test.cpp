#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Crypto.h"
#include "Log.h"
#include "String_Utils_Unix.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

std::vector<unsigned char> FromHex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const unsigned char* p, std::size_t n, const char* d = "0123456789abcdef") {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += {d[p[i] >> 4], d[p[i] & 15]};
    return s;
}

TEST(CoreCrypto, Md5Rfc1321Suite) {
    // clang-format off
    const std::pair<std::string, const char*> v[] = {{"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"}, {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890" "1234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"}};
    // clang-format on
    for (const auto& [in, md5] : v) EXPECT_EQ(Md5Hex(in.data(), in.size()), md5) << in;
    EXPECT_EQ(Md5HexUpper("message ", "digest"), "F96B697D7CB7938D525A2F31AAF161D0");
}

// NIST SP 800-38A, F.2.5 / F.2.6 (CBC-AES256).
const char* kNistKey = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char* kNistIv = "000102030405060708090a0b0c0d0e0f";
const char* kNistPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char* kNistCipher =
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";

TEST(CoreCrypto, AesCbc256NistVectors) {
    const auto key = FromHex(kNistKey), iv = FromHex(kNistIv), plain = FromHex(kNistPlain);
    AesCipher enc, dec;
    ASSERT_EQ(
        enc.Init(AesCipher::MODE_CBC, AesCipher::DIR_ENCRYPT, key.data(), AesCipher::KEY_256, iv.data()), 0);
    unsigned char out[96], back[96];
    ASSERT_EQ(enc.PadEncrypt(plain.data(), 64, out), 80);  // a whole padding block is added
    EXPECT_EQ(ToHex(out, 64), kNistCipher);
    // The published cipher text plus the padding block decrypts to the published plain text.
    std::vector<unsigned char> cipher = FromHex(kNistCipher);
    cipher.insert(cipher.end(), out + 64, out + 80);
    ASSERT_EQ(
        dec.Init(AesCipher::MODE_CBC, AesCipher::DIR_DECRYPT, key.data(), AesCipher::KEY_256, iv.data()), 0);
    ASSERT_EQ(dec.PadDecrypt(cipher.data(), 80, back), 64);
    EXPECT_EQ(ToHex(back, 64), kNistPlain);
}

// AES-256 through OpenSSL, for values made independently of the code under test.
std::string Evp(const EVP_CIPHER* cipher, const std::string& key, bool pad, const std::string& in) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                              EVP_CIPHER_CTX_free);
    unsigned char iv[16] = {}, out[512];
    int n1 = 0, n2 = 0;
    EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, reinterpret_cast<const unsigned char*>(key.data()), iv);
    EVP_CIPHER_CTX_set_padding(ctx.get(), pad);
    EVP_EncryptUpdate(ctx.get(), out, &n1, reinterpret_cast<const unsigned char*>(in.data()),
                      static_cast<int>(in.size()));
    EVP_EncryptFinal_ex(ctx.get(), out + n1, &n2);
    return std::string(reinterpret_cast<char*>(out), static_cast<std::size_t>(n1 + n2));
}

// Blocks filled with one byte value: only 1..16 is padding; only whole blocks are decrypted.
TEST(CoreCrypto, PaddingAndLengthAreCheckedOnDecrypt) {
    const auto key = FromHex(kNistKey);
    const struct {
        char fill;
        int length, result;
    } cases[] = {{1, 16, 15}, {16, 16, 0}, {0, 16, -7}, {17, 16, -7}, {1, 17, -7}, {1, 0, 0}};
    for (const auto& c : cases) {
        const std::string cipher =
            Evp(EVP_aes_256_ecb(), std::string(key.begin(), key.end()), false, std::string(32, c.fill));
        unsigned char out[32];
        std::memset(out, 1, sizeof out);  // what lies past 16 bytes reads as a pad of 1
        AesCipher d;
        ASSERT_EQ(d.Init(AesCipher::MODE_ECB, AesCipher::DIR_DECRYPT, key.data(), AesCipher::KEY_256), 0);
        EXPECT_EQ(d.PadDecrypt(reinterpret_cast<const unsigned char*>(cipher.data()), c.length, out),
                  c.result)
            << int(c.fill) << " " << c.length;
    }
}

// The server values composed independently with OpenSSL's own CBC and padding.
std::string ReferenceServerCipher(const std::string& plain) {
    const char16_t keyText[] = u"quarkmellowfern";
    std::string wide;
    for (char c : plain) wide += std::string{c, '\0'};
    // The key is the MD5 text of the UTF-16LE key on a little-endian host.
    const std::string out = Evp(EVP_aes_256_cbc(), Md5Hex(keyText, 30), true, wide);
    return ToHex(reinterpret_cast<const unsigned char*>(out.data()), out.size(), "0123456789ABCDEF");
}

TEST(CoreCrypto, ServerValuesAreOpenSslsAndFailuresAreLogged) {
    testsupport::TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    LogInit("crypto.log", false, true);
    const std::string value = "proxy.example.org:3128", hex = EncryptForServer(value);
    EXPECT_EQ(hex, ReferenceServerCipher(value));
    EXPECT_EQ(DecryptConnectionString((hex + ";rest").c_str()), value);
    EXPECT_EQ(DecryptFromServer("abc") + DecryptConnectionString("no separator"), "");
    LogInit("", false, true);
    const std::string log = testsupport::ReadFile(home.path() + "/ZEL/crypto.log");
    EXPECT_NE(log.find(" Decrypt ERROR\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" Invalid connection string buffer (no semicolon)\r\n"), std::string::npos);
}

TEST(CoreCrypto, TextWithAnOddByteCount) {
    // An odd decrypted byte count keeps its terminator: 23 bytes come back as 12 units. A terminator
    // written one unit short would end a 24-byte allocation, so the text would run on into the heap.
    ByteBuffer in, out;
    ASSERT_TRUE(in.Append("abcdefghijklmnopqrstuvw", 23) && EncryptBytesToHex(in, u"k", out));
    WString hex = ToWString(reinterpret_cast<const char*>(out.data)), back = DecryptHexToText(hex, u"k");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::u16string(back), u"\u6261\u6463\u6665\u6867\u6a69\u6c6b\u6e6d\u706f\u7271\u7473\u7675w");
    FreeWString(back);
    FreeWString(hex);
}

}  // namespace
