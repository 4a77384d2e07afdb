// The personalisation tool on the launcher as the build made it. It runs the
// built tool, so it is no unit test (the 32-bit tool may need an emulator).

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "ParameterBlock.h"
#include "ParameterBlockSample.h"
#include "Subprocess.h"
#include "TempDir.h"

using testsupport::ReadFile;

namespace {

const std::string kLauncher = SA_LAUNCHER;
const std::string kTool = SA_BINARY_DIR "/tools/personalise";

TEST(Personalise, WritesTheItemsAndFlagsIntoACopyAndNothingElse) {
    testsupport::TempDir temp;
    const std::string copy = temp / "copy";
    // clang-format off
    const auto r = testsupport::Run({kTool, kLauncher, copy, "--url", "http://127.0.0.1:8/velmoran/", "--lang", "de",
        "--owner", "77", "--code", "12 34", "--ac", "4242", "--title", "A B", "--cownerid", "77__site",
        "--session-enabled", "0", "--auto-remove", "1"}, 30000);
    // clang-format on
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string expected = ReadFile(kLauncher),
                block =
                    "url(http://127.0.0.1:8/velmoran/)lang(de)owner(77)code(12 34)"
                    "ac(4242)title(A B)cownerid(77__site)";
    block.resize(kParameterBlockSize, '\0');
    block[kAutoRemoveEnabledOffset] = 1;
    expected.replace(expected.find(std::string(kParameterBlockSample)), kParameterBlockSize, block);
    EXPECT_TRUE(ReadFile(copy) == expected);
    EXPECT_EQ(access(copy.c_str(), X_OK), 0);
}

// What would not read back is refused and nothing is written; https copies
// verify unless pinned (the pin as the openssl command computes it) or told not to.
TEST(Personalise, RefusesWhatWouldNotReadBackAndPinsHttpsCopies) {
    testsupport::TempDir temp;
    const std::string out = temp / "out", launcher = ReadFile(kLauncher), cert = temp / "cert.pem",
                      key = temp / "public.pem", https = "https://s/";
    ASSERT_TRUE(testsupport::WriteFile(temp / "double", launcher + launcher, 0755));
    ASSERT_EQ(testsupport::Run({kTool, kLauncher, temp / "copy", "--code", "1"}, 30000).exitCode, 0);
    const auto made =
        testsupport::Run({"sh", "-c",
                          "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "
                          "/CN=pin -days 1 -keyout "
                          "/dev/null -out \"$0\" 2>/dev/null && openssl x509 -in \"$0\" -pubkey -noout -out "
                          "\"$1\" && openssl pkey "
                          "-pubin -in \"$1\" -outform der | openssl dgst -sha256 -binary | base64",
                          cert, key},
                         30000);
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string pin = "sha256//" + made.output.substr(0, 44),
                      backup = "sha256//E9CZ9INDbd+2eRQozYqqbQ2yXLVKB9+xcprMF+44U1g=";  // RFC 7469's example
    // clang-format off
    const struct {
        std::string input;
        std::vector<std::string> args;
        std::string message;
        bool written = false;
    } cases[] = {
        {kLauncher, {"--title", "a)b"}, "must not contain"},
        {kLauncher, {"--title", std::string(1010, 't'), "--code", "1"}, "at most 1023"},  // 1024 with code(1)
        {kLauncher, {"--title", std::string(1009, 'f'), "--code", "1"}, "code(1)", true},  // exactly 1023 still fit
        {kLauncher, {"--auto-remove", "2"}, "0 or 1"},
        {temp / "double", {"--code", "1"}, "2 candidate"},       // which block the launcher reads is unknown
        {temp / "copy", {"--code", "1"}, "no parameter block"},  // a copy is no fresh build any more
        {kLauncher, {"--url", "http://s/", "--tls", "verify"}, "need an https URL"},
        // 'N' leaves bits that no SHA-256 has
        {kLauncher, {"--url", https, "--tls", "sha256//d6qzRu9zOECb90Uez27xWltNsj0e1Md7GkYYkVoZWmN="}, "neither verify nor a pin"},
        {kLauncher, {"--url", https, "--tls", "verify", "--pin-from", kLauncher}, "no certificate"},
        {kLauncher, {"--url", https, "--ac", "1"}, "ac(1)tls(verify) [", true},
        {kLauncher, {"--url", https, "--ac", "1", "--tls", "insecure"}, "ac(1) [", true},
        {kLauncher, {"--url", https, "--ac", "1", "--pin-from", cert}, "ac(1)tls(" + pin + ") [", true},
        {kLauncher, {"--url", https, "--ac", "1", "--pin-from", key, "--tls", backup}, "ac(1)tls(" + pin + ";" + backup + ") [", true},
        // Any language is written; one the windows have no words for is warned of.
        {kLauncher, {"--lang", "tlh", "--ac", "1"}, "no table for the language \"tlh\"", true},
        {kLauncher, {"--lang", "pt-BR", "--ac", "1"}, "lang(pt-BR)ac(1) [", true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> argv = {kTool, c.input, out};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto r = testsupport::Run(argv, 30000);
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(r.exitCode == 0, c.written) << r.output;
        EXPECT_EQ(r.output.find("warning") != std::string::npos,
                  c.message.find("no table") != std::string::npos);
        EXPECT_EQ(access(out.c_str(), F_OK) == 0, c.written);
        unlink(out.c_str());
    }
}

}  // namespace
