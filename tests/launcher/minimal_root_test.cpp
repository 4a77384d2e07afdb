// The release launcher in roots that hold only the libraries a bare desktop
// may have: it must start, say in words what is missing, and with either
// flavour of libcurl run a whole session against the demo server, headless.

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

class MinimalRootRun : public ::testing::TestWithParam<Case> {};

TEST_P(MinimalRootRun, SaysWhatIsMissingOrRunsTheSession) {
    if (geteuid() != 0) GTEST_SKIP() << MinimalRoot::kNeedsRoot;
    const Case& c = GetParam();
    MinimalRoot root;
    ASSERT_TRUE(root.ok()) << root.error();

    demo::Options options;
    options.pollsBeforeResult = 0;
    options.marker = "/client-ran";  // written by the client inside the root
    options.print = false;
    demo::Server server(options);
    ASSERT_TRUE(server.Start());

    testsupport::TempDir temp;
    const auto r = testsupport::Run({SA_BINARY_DIR "/tools/personalise", SA_LAUNCHER, temp / "launcher",
                                     "--url", server.BaseUrl(), "--code", "271828", "--ac", "4242"},
                                    30000);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ASSERT_TRUE(root.Add(temp / "launcher", "/launcher")) << root.error();
    for (const auto& library : c.libraries) ASSERT_TRUE(root.AddLibrary(library)) << root.error();
    if (c.expect == Expect::Session) {
        for (const char* tool : {"/bin/sh", "/usr/bin/unzip"}) ASSERT_TRUE(root.Add(tool)) << root.error();
    }

    std::vector<std::string> env = {"HOME=/home", "PATH=/usr/bin:/bin"};
    std::unique_ptr<testsupport::SquidProxy> proxy;
    if (c.environmentProxy) {
        proxy = testsupport::SquidProxy::Start(testsupport::SquidAuth::None);
        ASSERT_TRUE(proxy) << testsupport::SquidProxy::LastError();
        env.push_back("http_proxy=http://" + proxy->address());
    }
    const auto run = root.Run({"/launcher"}, 60000, env);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const bool kept = access((root / "/launcher").c_str(), F_OK) == 0;
    if (c.expect == Expect::NoCrypto) {
        EXPECT_NE(run.output.find("ERROR: libcrypto is missing (libcrypto.so.3, libcrypto.so.1.1): install"),
                  std::string::npos)
            << run.output;
        EXPECT_NE(access((root / "/home/ZEL").c_str(), F_OK), 0);
        EXPECT_TRUE(kept);
        EXPECT_EQ(server.SessionPolls(), 0);
        return;
    }
    int damaged = -1;
    const auto log = ReadLog(root / "/home/ZEL/exe.log", damaged);
    EXPECT_EQ(damaged, 0) << Joined(log);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "<---") << Joined(log);
    if (c.expect == Expect::NoCurl) {
        EXPECT_GE(IndexOf(log,
                          "ERROR: libcurl is missing (libcurl.so.4, libcurl-gnutls.so.4, libcurl-nss.so.4): "
                          "install libcurl4 or libcurl3-gnutls (Debian/Ubuntu) or libcurl (Fedora/openSUSE)"),
                  0)
            << Joined(log);
        EXPECT_TRUE(kept);
        EXPECT_EQ(server.SessionPolls(), 0);
    } else {
        EXPECT_GE(IndexOf(log, "libcurl: " + c.libraries.back()), 0) << Joined(log);
        EXPECT_GE(IndexOf(log, "Successfully launched RC client [/tmp/ZELsupportRC_4242]"), 0) << Joined(log);
        EXPECT_FALSE(kept);
        if (proxy) {
            EXPECT_GE(IndexOf(log,
                              "[PS:LoadProxySettings] libproxy is missing (libproxy.so.1): only the proxy "
                              "environment variables are read"),
                      0)
                << Joined(log);
            EXPECT_GE(IndexOf(log, "Proxy: " + proxy->address() + " (proxy environment variables)"), 0);
            EXPECT_NE(proxy->AccessLog().find("components/linux/default.asp"), std::string::npos);
        }
        EXPECT_TRUE(
            testsupport::WaitFor([&] { return !testsupport::ReadFile(root / "/client-ran").empty(); }, 5000));
    }
}

INSTANTIATE_TEST_SUITE_P(Launcher, MinimalRootRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
