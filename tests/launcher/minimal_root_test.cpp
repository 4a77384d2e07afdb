// The release launcher in roots that hold only the libraries a bare desktop
// may have: it must start, say in words what is missing, and with either
// flavour of libcurl run a whole session against the demo server, headless,
// over HTTPS only with a server its copy trusts.

#include <gtest/gtest.h>
#include <unistd.h>

#include "LauncherTestSupport.h"
#include "MinimalRoot.h"
#include "SquidProxy.h"
#include "TempDir.h"
#include "demo_server.h"

using namespace launchertest;
using testsupport::MinimalRoot;

namespace {

class InRoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << MinimalRoot::kNeedsRoot;
        ASSERT_TRUE(root_.ok()) << root_.error();
        options_.pollsBeforeResult = 0;
        options_.marker = "/client-ran";  // written by the client inside the root
        options_.print = false;
    }

    // A copy for the demo server (options_) with the given personalise options
    // (*.pem: files of temp_), run in the root with these libraries; a session
    // also gets a shell and unzip, and caFile, when given, as the CA store.
    void Run(std::vector<std::string> personalise, const std::vector<std::string>& libraries, bool session,
             const std::string& caFile = "", const std::vector<std::string>& env = {}) {
        server_ = std::make_unique<demo::Server>(options_);
        ASSERT_TRUE(server_->Start());
        for (auto& option : personalise)
            if (option.ends_with(".pem")) option = temp_ / option;
        personalise.insert(personalise.begin(),
                           {SA_BINARY_DIR "/tools/personalise", SA_LAUNCHER, temp_ / "launcher", "--url",
                            server_->BaseUrl(), "--code", "271828", "--ac", "4242"});
        const auto r = testsupport::Run(personalise, 30000);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        ASSERT_TRUE(root_.Add(temp_ / "launcher", "/launcher")) << root_.error();
        for (const auto& library : libraries) ASSERT_TRUE(root_.AddLibrary(library)) << root_.error();
        if (session) {
            for (const char* tool : {"/bin/sh", "/usr/bin/unzip"})
                ASSERT_TRUE(root_.Add(tool)) << root_.error();
        }
        // Where both flavours of Debian's libcurl look.
        if (!caFile.empty()) {
            ASSERT_TRUE(root_.Add(caFile, "/etc/ssl/certs/ca-certificates.crt")) << root_.error();
        }

        std::vector<std::string> environment = {"HOME=/home", "PATH=/usr/bin:/bin"};
        environment.insert(environment.end(), env.begin(), env.end());
        run_ = root_.Run({"/launcher"}, 60000, environment);
        EXPECT_EQ(run_.exitCode, 0) << run_.output;
        kept_ = access((root_ / "/launcher").c_str(), F_OK) == 0;
        log_ = ReadLog(root_ / "/home/ZEL/exe.log", damaged_);
    }

    void ExpectLaunched() {
        EXPECT_GE(IndexOf(log_, "Successfully launched RC client [/tmp/ZELsupportRC_4242]"), 0)
            << Joined(log_);
        EXPECT_FALSE(kept_);
        EXPECT_TRUE(testsupport::WaitFor(
            [&] { return !testsupport::ReadFile(root_ / "/client-ran").empty(); }, 5000));
    }

    MinimalRoot root_;
    testsupport::TempDir temp_;
    demo::Options options_;
    std::unique_ptr<demo::Server> server_;
    testsupport::RunResult run_;
    std::vector<std::string> log_;
    int damaged_ = -1;
    bool kept_ = false;
};

enum class Expect { NoCrypto, NoCurl, Session };

struct Case {
    const char* name;
    std::vector<std::string> libraries;  // besides the launcher's own (loader, libc, libm, libgcc_s, libX11)
    Expect expect;
    bool environmentProxy = false;  // http_proxy names a squid; no root has libproxy
};

const Case kCases[] = {
    {"NoCurl", {"libcrypto.so.3"}, Expect::NoCurl},
    {"NoCrypto", {}, Expect::NoCrypto},
    {"CurlGnutls", {"libcrypto.so.3", "libcurl-gnutls.so.4"}, Expect::Session},  // not the OpenSSL flavour
    {"CurlOpensslHttpProxy", {"libcrypto.so.3", "libcurl.so.4"}, Expect::Session, true},
};

class MinimalRootRun : public InRoot, public ::testing::WithParamInterface<Case> {};

TEST_P(MinimalRootRun, SaysWhatIsMissingOrRunsTheSession) {
    const Case& c = GetParam();
    std::unique_ptr<testsupport::SquidProxy> proxy;
    std::vector<std::string> env;
    if (c.environmentProxy) {
        proxy = testsupport::SquidProxy::Start(testsupport::SquidAuth::None);
        ASSERT_TRUE(proxy) << testsupport::SquidProxy::LastError();
        env.push_back("http_proxy=http://" + proxy->address());
    }
    Run({}, c.libraries, c.expect == Expect::Session, "", env);
    if (HasFatalFailure()) return;
    if (c.expect == Expect::NoCrypto) {
        EXPECT_NE(run_.output.find("ERROR: libcrypto is missing (libcrypto.so.3, libcrypto.so.1.1): install"),
                  std::string::npos)
            << run_.output;
        EXPECT_NE(access((root_ / "/home/ZEL").c_str(), F_OK), 0);
        EXPECT_TRUE(kept_);
        EXPECT_EQ(server_->SessionPolls(), 0);
        return;
    }
    EXPECT_EQ(damaged_, 0) << Joined(log_);
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), "<---") << Joined(log_);
    if (c.expect == Expect::NoCurl) {
        EXPECT_GE(IndexOf(log_,
                          "ERROR: libcurl is missing (libcurl.so.4, libcurl-gnutls.so.4, libcurl-nss.so.4): "
                          "install libcurl4 or libcurl3-gnutls (Debian/Ubuntu) or libcurl (Fedora/openSUSE)"),
                  0)
            << Joined(log_);
        EXPECT_TRUE(kept_);
        EXPECT_EQ(server_->SessionPolls(), 0);
    } else {
        EXPECT_GE(IndexOf(log_, "libcurl: " + c.libraries.back()), 0) << Joined(log_);
        ExpectLaunched();
        if (proxy) {
            EXPECT_GE(IndexOf(log_,
                              "[PS:LoadProxySettings] libproxy is missing (libproxy.so.1): only the proxy "
                              "environment variables are read"),
                      0)
                << Joined(log_);
            EXPECT_GE(IndexOf(log_, "Proxy: " + proxy->address() + " (proxy environment variables)"), 0);
            EXPECT_NE(proxy->AccessLog().find("components/linux/default.asp"), std::string::npos);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Launcher, MinimalRootRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// What the HTTPS server presents; certificates are made anew for every case.
enum class Served { SelfSigned, Trusted, AnotherHost, Expired, NotYetValid, TrustedNoCaStore };

struct TlsCase {
    const char* name;
    Served served;
    std::vector<std::string> options;  // personalise's: https copies verify unless told otherwise
    const char* refusal;               // the reason's start; null: the session runs
};

const TlsCase kTlsCases[] = {
    {"SelfSignedVerified", Served::SelfSigned, {}, "the server's certificate is from an unknown issuer"},
    {"SelfSignedPinned", Served::SelfSigned, {"--pin-from", "server.pem"}, nullptr},
    {"SelfSignedWrongPin",
     Served::SelfSigned,
     {"--pin-from", "ca.pem"},
     "the server's public key matches none"},
    {"SelfSignedBackupPin",
     Served::SelfSigned,
     {"--pin-from", "ca.pem", "--pin-from", "server.pem"},
     nullptr},
    {"SelfSignedInsecure", Served::SelfSigned, {"--tls", "insecure"}, nullptr},
    {"Trusted", Served::Trusted, {}, nullptr},
    {"AnotherHost", Served::AnotherHost, {}, "the server's certificate is for another host name"},
    {"Expired", Served::Expired, {}, "the server's certificate has expired (valid until "},
    {"NotYetValid", Served::NotYetValid, {}, "the server's certificate is not yet valid (valid from "},
    // OpenSSL finds no store, GnuTLS an unknown issuer: either way at once, not after 100 s of retries.
    {"NoCaStore", Served::TrustedNoCaStore, {"--tls", "verify"}, ""},
};

class TlsSession : public InRoot, public ::testing::WithParamInterface<std::tuple<TlsCase, const char*>> {};

TEST_P(TlsSession, RunsOnlyWithAServerItTrusts) {
    const auto& [c, libcurl] = GetParam();
    const demo::Certificate ca = demo::MakeCertificate("test-ca.invalid", -1, 2, nullptr, true);
    const demo::Certificate served =
        demo::MakeCertificate(c.served == Served::AnotherHost ? "support.example.test" : "127.0.0.1",
                              c.served == Served::NotYetValid ? 1 : -2, c.served == Served::Expired ? -1 : 2,
                              c.served == Served::SelfSigned ? nullptr : &ca);
    ASSERT_TRUE(testsupport::WriteFile(temp_ / "ca.pem", ca.certPem));
    ASSERT_TRUE(testsupport::WriteFile(temp_ / "server.pem", served.certPem));
    options_.certPem = served.certPem;
    options_.keyPem = served.keyPem;
    Run(c.options, {"libcrypto.so.3", libcurl}, true,
        c.served == Served::TrustedNoCaStore ? "" : temp_ / "ca.pem");
    if (HasFatalFailure()) return;
    EXPECT_EQ(damaged_, 0);
    EXPECT_GE(IndexOf(log_, "libcurl: " + std::string(libcurl)), 0) << Joined(log_);
    const bool unverified = c.options.size() == 2 && c.options[1] == "insecure";
    EXPECT_EQ(IndexOf(log_, "WARNING: server certificate not verified") >= 0, unverified) << Joined(log_);
    if (!c.refusal) return ExpectLaunched();

    // One attempt, the reason, the notice; nothing reached the server and the copy stays.
    const int error = IndexOf(log_, "Error (1) - DownloadToBuffer()");
    ASSERT_GE(error, 0) << Joined(log_);
    ASSERT_LT(error + 2, static_cast<int>(log_.size()));
    EXPECT_EQ(log_[error + 1].rfind("ERROR: Cannot verify the server: " + std::string(c.refusal), 0), 0u)
        << log_[error + 1];
    EXPECT_EQ(log_[error + 2], "Status: Cannot verify the server");
    EXPECT_EQ(CountPrefix(log_, "Session URL: "), 1);
    EXPECT_TRUE(server_->Requests().empty());
    EXPECT_EQ(CountPrefix(log_, "Successfully launched"), 0);
    EXPECT_TRUE(kept_);
}

INSTANTIATE_TEST_SUITE_P(Launcher, TlsSession,
                         ::testing::Combine(::testing::ValuesIn(kTlsCases),
                                            ::testing::Values("libcurl.so.4", "libcurl-gnutls.so.4")),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::string(std::get<1>(info.param)) == "libcurl.so.4" ? "Openssl"
                                                                                            : "Gnutls");
                         });

}  // namespace
