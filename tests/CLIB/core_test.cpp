// The core: events, strings, the protected log and the cipher, in one program.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CriticalSection.h"
#include "Crypto.h"
#include "Log.h"
#include "String_Utils_Unix.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Utf8.h"

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {
// While set, a timed wait on this event times out and a set lands before the
// waiter has the mutex back: the race of a SetEvent at the deadline, every time.
MPEventID* g_setAtExpiry = nullptr;
}  // namespace

extern "C" int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, const timespec* until) {
    using Wait = int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*);
    // By version: i386's plain lookup finds the old ABI's.
    static const auto real = reinterpret_cast<Wait>(dlvsym(RTLD_NEXT, "pthread_cond_timedwait", "GLIBC_2.3.2")
                                                        ?: dlsym(RTLD_NEXT, "pthread_cond_timedwait"));
    const int result = real(cond, mutex, until);
    // The mutex is held again here, as SetEvent holds it.
    if (result == ETIMEDOUT && g_setAtExpiry && cond == &g_setAtExpiry->condition)
        __atomic_store_n(&g_setAtExpiry->aval, 1, __ATOMIC_RELAXED);
    return result;
}

namespace {

class CoreEvents : public ::testing::Test {
protected:
    void SetUp() override { CreateEvent(ev); }
    void TearDown() override { DestroyEvent(ev); }
    bool TimedWait(std::int32_t ms) {
        bool signalled = false;
        WaitEventTimer(ev, ms, signalled);
        return signalled;
    }
    MPEventID ev;
};

TEST_F(CoreEvents, PendingSetIsTakenOnceAndTimedWaitsLastTheirTime) {
    SetEvent(ev);
    EXPECT_TRUE(TimedWait(5000));
    EXPECT_FALSE(TimedWait(0)) << "the wait clears the event";
    SetEvent(ev);
    ResetEvent(ev);
    const std::uint64_t start = TickCountMs();
    EXPECT_FALSE(TimedWait(150));
    EXPECT_GE(TickCountMs() - start, 150u) << "measured on another clock than its deadline";
}

TEST_F(CoreEvents, SetThatLandsAsTheWaitTimesOutIsReported) {
    g_setAtExpiry = &ev;
    EXPECT_TRUE(TimedWait(10));
    g_setAtExpiry = nullptr;
    EXPECT_FALSE(TimedWait(0)) << "and taken";
}

TEST(CoreStrings, BytesAreWidenedAndUnitsNarrowedNotDecoded) {
    WString w = nullptr;
    ASSERT_TRUE(ToWString("\xE9z", w));
    EXPECT_EQ(std::u16string(w), u"\u00e9z");
    FreeWString(w);
    const WChar units[] = {0x0141, u'b', 0x0100, u'c', 0};
    EXPECT_EQ(ToNarrow(units), "Ab");  // the low byte; 0x0100 ends the text
}

// What reaches the screen: outside bytes to UTF-8 (Windows-1252 known
// answers from the WHATWG encoding index), and typed text cut and converted.
TEST(CoreStrings, TextForTheScreenAndBack) {
    const struct {
        std::string bytes, utf8;
    } decoded[] = {
        {"w\xc3\xa4hlt \xe6\x9d\xb1\xf0\xa0\xae\xb7", "w\u00e4hlt \u6771\U00020BB7"},  // UTF-8 stays
        {"w\xe4hlt", "w\u00e4hlt"},                                                    // Latin-1
        {"\x80\x84\x93\x96\x9f", "\u20ac\u201e\u201c\u2013\u0178"},                    // 0x80-0x9F
        {"\x81\x8d", "\ufffd\ufffd"},                                                  // undefined there
        {"\xc0\xaf", "\u00c0\u00af"},                      // an overlong '/' is no UTF-8
        {"\xed\xa0\x80", "\u00ed\u00a0\u20ac"},            // nor a surrogate
        {"\xf4\x90\x80\x80", "\u00f4\ufffd\u20ac\u20ac"},  // nor above U+10FFFF
        {"\xe6\x9d", "\u00e6\ufffd"},                      // nor a cut sequence
    };
    for (const auto& c : decoded) EXPECT_EQ(ToUtf8Text(c.bytes), c.utf8) << c.bytes;
    const WChar units[] = {u'A', 0xD842, 0xDFB7, 0xDC00, 0x0141};
    EXPECT_EQ(Utf16ToUtf8(units, 5), "A\U00020BB7\ufffd\u0141");
    EXPECT_EQ(Utf8ToUtf16("A\U00020BB7\u0141"), u"A\U00020BB7\u0141");
    EXPECT_EQ(Utf8PrefixLength("a\u00e4\u6771", 3), 3u);  // "a", "\u00e4"
    EXPECT_EQ(Utf8PrefixLength("a\u00e4\u6771", 5), 3u);  // not 2 of the 3 bytes of U+6771
    EXPECT_EQ(ToAsciiDigits("\uff13\uff11\u0664-9\u0967x"), "314-91x");
    std::string latin1;
    EXPECT_TRUE(Utf8ToLatin1("j\u00fcrgen:\u00ff", latin1));
    EXPECT_EQ(latin1, "j\xfcrgen:\xff");
    EXPECT_FALSE(Utf8ToLatin1("\u0141ukasz", latin1));
    EXPECT_EQ(latin1, "j\xfcrgen:\xff");
}

// LC_CTYPE in Latin-1, where isalnum takes 0xE9 for a letter, from a locale made here.
struct Latin1 {
    testsupport::TempDir dir;
    bool ready =
        testsupport::Run({"localedef", "-i", "en_US", "-f", "ISO-8859-1", dir / "l1"}, 60000).exitCode == 0 &&
        setenv("LOCPATH", dir.path().c_str(), 1) == 0 && setlocale(LC_CTYPE, "l1") && isalnum(0xE9);
    ~Latin1() { setlocale(LC_CTYPE, "C"), unsetenv("LOCPATH"); }
};

TEST(CoreStrings, FindParameterAlsoUnderLatin1) {
    const Latin1 locale;
    if (!locale.ready) GTEST_SKIP() << "no Latin-1 locale here (localedef, package locales)";
    const struct {
        const char *text, *key;
        char sep, term;
        const char* value;
    } cases[] = {
        {"url(a)lang(en)code()", "lang", '(', ')', "en"},
        {"url(a)lang(en)code()", "code", '(', ')', nullptr},  // empty value: not found
        {"url(a)lang(en)code()", "ng", '(', ')', nullptr},    // letter before the hit
        {"CODE(Ab12)", "Code", '(', ')', "Ab12"},             // the key ignores case, the value keeps it
        {"xurl(a)url(b)", "url", '(', ')', "b"},
        {"lUid=7&mod=1", "mod", '=', '&', "1"},  // no terminator: runs to the end
        {"ticket=T1\rerror=\r", "ticket", '=', '\r', "T1"},
        {"ticket=T1\rerror=\r", "error", '=', '\r', nullptr},
        {"\xE9key=v", "key", '=', '&', "v"},  // a byte above 127 is no letter, in any locale
        {"9key=v", "key", '=', '&', nullptr},
        {"_key=v", "key", '=', '&', "v"},
        {nullptr, "a", '=', '&', nullptr},
        {"a=1", "", '=', '&', nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "<null>") + " / " + c.key);
        std::string v;
        EXPECT_EQ(FindParameter(c.text, c.key, c.sep, c.term, v), c.value != nullptr);
        EXPECT_EQ(GetParameter(c.text, c.key, c.sep, c.term, "-"), c.value ? c.value : "-");
    }
}

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t pos = 0, end;
    for (; (end = content.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(content.substr(pos, end - pos));
    return lines;
}

// A line is "<24-character time> <cipher><32-digit hash>".
std::string Hash(const std::string& line) { return line.substr(line.size() - 32); }

class CoreLog : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("HOME", home.path().c_str(), 1);
        LogInit("exe.log", true, true);
    }
    void TearDown() override { LogInit("", false, true); }
    std::string Folder() const { return home.path() + "/ZEL"; }
    std::string LogPath() const { return Folder() + "/exe.log"; }
    // Reads the log back; returns the report and the number of damaged lines.
    std::string Verify(int& damaged) {
        const std::string report = home.path() + "/report.txt";
        EXPECT_TRUE(LogVerify(LogPath().c_str(), report.c_str(), true, &damaged));
        return ReadFile(report);
    }
    testsupport::TempDir home;
};

TEST_F(CoreLog, EncryptedLinesLayoutChainAndPrivacy) {
    LogWrite("first %s %d", "line", 1);
    LogWrite("same");
    LogWrite("same");
    const std::vector<std::string> lines = SplitLines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 3u);
    const char* messages[] = {"first line 1", "same", "same"};
    std::string previous, expectedReport;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(Hash(lines[i]), Md5HexUpper((std::string(messages[i]) + "\r\n").c_str(), previous.c_str()));
        previous = Hash(lines[i]);
        expectedReport += lines[i].substr(0, 24) + " " + messages[i] + "\r\n";
    }
    EXPECT_NE(lines[1].substr(25, 64), lines[2].substr(25, 64)) << "the salt must differ";

    struct stat folder, file;
    ASSERT_EQ(stat(Folder().c_str(), &folder) + stat(LogPath().c_str(), &file), 0);
    EXPECT_EQ((folder.st_mode & 0777) * 01000 + (file.st_mode & 0777), 0700600u) << "private folder and file";

    int damaged = -1;
    EXPECT_EQ(Verify(damaged), expectedReport + "\r\n\r\n");
    EXPECT_EQ(damaged, 0);
}

TEST_F(CoreLog, ExistingFileIsContinuedUpToTheSizeLimit) {
    ASSERT_EQ(mkdir(Folder().c_str(), 0700), 0);
    ASSERT_TRUE(WriteFile(LogPath(), std::string(2000000, 'x'), 0600));
    LogWrite("kept");
    EXPECT_EQ(ReadFile(LogPath()).find("\r\n"), 2000000u + 24 + 1 + 64 + 32) << "appended to";

    ASSERT_TRUE(WriteFile(LogPath(), std::string(2000001, 'x'), 0600));
    LogWrite("fresh");
    EXPECT_EQ(ReadFile(LogPath()).size(), 24 + 1 + 64 + 32 + 2u) << "the file must start afresh";
}

TEST_F(CoreLog, VerifyReportsDeletedDamagedAndForeignLines) {
    for (int i = 1; i <= 6; ++i) LogWrite("line %d", i);
    std::vector<std::string> lines = SplitLines(ReadFile(LogPath()));
    lines.erase(lines.begin() + 2);           // line 3 deleted: line 3 is now "line 4"
    lines[3].erase(lines[3].size() - 33, 1);  // odd number of cipher digits
    lines.push_back("no token here");         // foreign text
    std::string content;
    for (const auto& l : lines) content += l + "\r\n";
    ASSERT_TRUE(WriteFile(LogPath(), content, 0600));

    int damaged = -1;
    const std::string report = Verify(damaged);
    EXPECT_EQ(damaged, 3);
    EXPECT_NE(report.find(" line 6\r\n"), std::string::npos) << "reading goes on after damage";
    EXPECT_NE(report.find("\r\n\r\nError on data validation (line 3)\r\n"
                          "Error on data decryption (line 4)\r\n"
                          "Error possibly data lost (line 6)\r\n"),
              std::string::npos)
        << report;

    // Another user's link at the report's name does not receive the log.
    const std::string victim = home.path() + "/victim", planted = home.path() + "/planted.txt";
    ASSERT_TRUE(WriteFile(victim, "precious"));
    ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
    EXPECT_TRUE(LogVerify(LogPath().c_str(), planted.c_str(), false, &damaged));
    EXPECT_EQ(ReadFile(victim), "precious");
}

TEST_F(CoreLog, TwoProcessesChainEveryLine) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const int writer = child == 0 ? 1 : 0;
    for (int i = 0; i < 2000; ++i) LogWrite("%d:%d", writer, i);
    if (child == 0) _exit(0);
    int status = -1;
    ASSERT_TRUE(testsupport::WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 60000));
    int damaged = -1;
    std::set<std::string> seen;
    const auto lines = SplitLines(Verify(damaged));
    for (const std::string& line : lines) seen.insert(line.substr(std::min<std::size_t>(25, line.size())));
    EXPECT_EQ(damaged, 0);
    EXPECT_EQ(lines.size(), 2u * 2000 + 2);  // the report ends in an empty line
    EXPECT_EQ(seen.size(), 2u * 2000 + 1) << "lines doubled or garbled";
}

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
