// The whole core in this process against the demo server, with real libcurl,
// real unzip, a private HOME and a client folder of its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "FakeUserInterface.h"
#include "LauncherTestSupport.h"
#include "SquidProxy.h"
#include "TempDir.h"
#include "demo_server.h"

using namespace launchertest;
using testsupport::ReadFile;
using testsupport::WaitFor;

// Rows name only the server options they change.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const std::vector<unsigned char> kBuiltBlock(ParameterBlock, ParameterBlock + kParameterBlockSize);

struct Scenario {
    std::string name;
    demo::Options server;  // port -1: no server
    fakeui::Script ui;
    std::vector<std::string> logged;  // line prefixes, '%' for the client file
    int polls;
    std::string role = "";  // launched with this role; empty: nothing launched
    std::string sent = "314159", items = "";
    std::vector<std::string> status = {};  // the status texts in order, when given
    std::int32_t pollWaitMs = 150, deadlineMs = 4000;
};

// clang-format off
const Scenario kScenarios[] = {
    {"client", {}, {}, {"Client RC Post: "}, 2, "client"},
    {"later ticket ignored", {.laterTicket = "T2", .pollsBeforeResult = 3, .mode = "3"}, {}, {}, 4, "operator"},
    {"typed code with blanks", {}, {.sessionCode = "12 34\t5"}, {}, 2, "client", "12%2034%095"},
    {"undecryptable assignment", {.script = "ABC"}, {}, {"Decrypt ERROR"}, 2, "client"},
    {"error reply", {.outcome = demo::Outcome::Error, .errorText = "Code 314159 is not valid"}, {},
     {"Server error returned: Code 314159 is not valid"}, 2, "", "314159", "",
     {"Connecting...", "Code 314159 is not valid"}, 300},
    {"tls(verify) over http", {}, {}, {"ERROR: This copy is misconfigured: tls(verify)"}, 0, "", "", "tls(verify)",
     {"Cannot verify the server"}},
    {"status window closed", {.outcome = demo::Outcome::Never}, {.closeStatusAfterMs = 300},
     {"Program interrupted by user"}, 1, "", "314159", "", {}, 20000},
    {"credentials cancelled", {.demandCredentials = true}, {}, {"Program interrupted by user"}, 1},
    {"unreachable server", {.port = -1}, {}, {"Error (4) - DownloadToBuffer()", "Connection timeout exceeded"}, 0,
     "", "314159", "", {}, 200, 1000},
    {"components page fails", {.componentsStatus = 500}, {}, {"Error (4) - PostToFile(\"%.zip\")"}, 2},
    {"package is no archive", {.brokenPackage = true}, {}, {"ERROR: %.zip is invalid zip file"}, 2},
    {"client name taken by another user", {}, {}, {"ERROR: % is not a file of this user"}, 2},
};
// clang-format on

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& dir : {home_, clients_, bin_}) ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        setenv("HOME", home_.c_str(), 1);
        // argv[0] names a file that is not this executable: it must survive the removal step.
        for (const auto& file : {launcherPath_, launcherPath_ + ".zip"})
            ASSERT_TRUE(testsupport::WriteFile(file, "not the launcher", 0755));
        // A stand-in gconftool-2 first on PATH counts the discoveries.
        ASSERT_TRUE(
            testsupport::WriteFile(bin_ + "/gconftool-2", "#!/bin/sh\necho >>'" + gconfRuns_ + "'\n", 0755));
        setenv("PATH", (bin_ + ":" + path_).c_str(), 1);
    }
    void TearDown() override {
        // A launched client runs on its own; let it finish writing into our folder.
        WaitFor([&] { return CountPrefix(log_, "Successfully launched") == 0 || !ReadFile(marker_).empty(); },
                5000);
        Tuning() = LauncherTuning{};
        std::copy(kBuiltBlock.begin(), kBuiltBlock.end(), ParameterBlock);
        setenv("PATH", path_.c_str(), 1);
    }

    // Runs the whole launcher against url, reads its log and checks what every run shares.
    void Run(const std::string& url, const std::string& code, const std::string& items = "") {
        unlink((home_ + "/ZEL/exe.log").c_str());
        WriteBlock("url(" + url + ")lang(de)owner(54213)code(" + code + ")ac(" + ac_ + ")title(T)" + items);
        EXPECT_EQ(LauncherMain(launcherPath_.c_str()), 0);
        int damaged = -1;
        log_ = ReadLog(home_ + "/ZEL/exe.log", damaged);
        EXPECT_EQ(damaged, 0);
        ASSERT_GE(log_.size(), 4u) << Joined(log_);
        EXPECT_EQ(log_[1], "Session Assignment ZEL_VERSION=1.1.0.88 buildId=20100216100911");
        EXPECT_EQ(log_.back(), "<---");
        EXPECT_EQ(fakeui::Count("Close"), 1);
        EXPECT_EQ(ReadFile(launcherPath_) + ReadFile(launcherPath_ + ".zip"),
                  "not the launchernot the launcher");
        EXPECT_LE(ReadFile(gconfRuns_).size(), 1u) << "one discovery per run, not one per transfer";
        unlink(gconfRuns_.c_str());
    }
    std::unique_ptr<demo::Server> Serve(demo::Options options) {
        options.marker = marker_, options.print = false;
        auto server = std::make_unique<demo::Server>(options);
        EXPECT_TRUE(server->Start());
        return server;
    }
    std::string ClientFile() const { return clients_ + "/ZELsupportRC_" + ac_; }
    void ExpectLaunched(bool launched) {
        EXPECT_EQ(CountPrefix(log_, "Successfully launched RC client [" + ClientFile() + "]"), launched)
            << Joined(log_);
        if (launched) {
            EXPECT_TRUE(
                WaitFor([&] { return ReadFile(marker_).find(ClientFile()) != std::string::npos; }, 5000));
        }
    }

    testsupport::TempDir temp_{"sa-session"};
    std::string home_ = temp_ / "home", clients_ = temp_ / "clients", launcherPath_ = temp_ / "launcher",
                marker_ = temp_ / "client-ran", ac_ = "4242;touch${IFS}pwned",  // plain words, also for unzip
        bin_ = temp_ / "bin", gconfRuns_ = temp_ / "gconftool-runs",
                path_ = getenv("PATH") ? getenv("PATH") : "";
    std::vector<std::string> log_;
};

TEST_F(SessionTest, Scenarios) {
    for (const auto& s : kScenarios) {
        SCOPED_TRACE(s.name);
        const bool foreign = s.name == "client name taken by another user";
        if (foreign && geteuid() != 0) continue;  // planting another user's file needs root
        ac_ = std::to_string(20000 + (&s - kScenarios)) + (s.name == "client" ? ";touch${IFS}pwned" : "");
        demo::Options options = s.server;
        fakeui::Script ui = s.ui;
        ui.sessionCodeConfirmed = true;
        Tuning() = LauncherTuning{clients_, static_cast<std::uint64_t>(s.deadlineMs), s.pollWaitMs};
        fakeui::Reset(ui);
        if (foreign) {
            ASSERT_TRUE(testsupport::WriteFile(ClientFile(), "someone else's", 0644));
            ASSERT_EQ(chown(ClientFile().c_str(), 65534, 65534), 0);
        }
        const bool offline = options.port < 0;
        if (offline) options.port = testsupport::FreeTcpPort();
        auto server = offline ? nullptr : Serve(options);
        Run(offline ? "http://127.0.0.1:" + std::to_string(options.port) + "/velmoran/" : server->BaseUrl(),
            ui.sessionCode.empty() ? s.sent : "", s.items);
        for (std::string line : s.logged) {
            if (line.find('%') != std::string::npos) line.replace(line.find('%'), 1, ClientFile());
            EXPECT_GE(CountPrefix(log_, line), 1) << line << "\n" << Joined(log_);
        }
        if (!s.status.empty()) {
            EXPECT_EQ(fakeui::With("SetStatusText:"), s.status);
        }
        EXPECT_EQ(fakeui::Count("AskSessionCode"), ui.sessionCode.empty() ? 0 : 1);
        if (!s.items.empty()) {
            EXPECT_TRUE(KeepCopy) << "a misconfigured copy keeps its files";
        }
        ExpectLaunched(!s.role.empty());
        if (offline) {
            EXPECT_EQ(CountPrefix(log_, "Error (4) - DownloadToBuffer()"),
                      CountPrefix(log_, "Session URL: "));
            continue;
        }
        EXPECT_EQ(server->SessionPolls(), s.polls);
        const auto requests = server->Requests();
        if (s.polls > 0) {
            EXPECT_EQ(requests[0].target.substr(0, requests[0].target.rfind('&')),
                      "/velmoran/interfaces/web/isd/session.asp?t=&c=" + s.sent + "&o=54213&l=de");
        }
        for (int i = 1; i < s.polls; ++i) EXPECT_EQ(requests[i].query.at("t"), "T1") << i;
        const auto posts = server->ComponentRequests();
        if (s.role.empty() && s.polls < 2) {
            EXPECT_TRUE(posts.empty());
        }
        struct stat st {};
        if (!s.role.empty()) {
            ASSERT_EQ(posts.size(), 1u);
            EXPECT_TRUE(posts[0].problems.empty()) << posts[0].problems.front();
            ASSERT_EQ(posts[0].form.size(), 9u);  // no proxy items without credentials
            EXPECT_EQ(posts[0].form[2].second + posts[0].form[3].second,
                      s.role + (options.script.empty() ? "4711" : ""));
            EXPECT_NE(stat((ClientFile() + ".zip").c_str(), &st), 0) << "the package is removed";
        } else {
            EXPECT_FALSE(ClientReady);
            EXPECT_EQ(ReadFile(ClientFile()), foreign ? "someone else's" : "");
        }
        for (const auto& dir : {temp_.path(), clients_}) EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);
        // Nothing is deleted for an argv[0] that is not this program; said so unless the code was typed.
        if (!s.role.empty()) {
            EXPECT_EQ(CountPrefix(log_, "Cannot autoremove Session Assignment binary \"" + launcherPath_ +
                                            "\": Error (2) - No such file or directory"),
                      ui.sessionCode.empty());
        }
    }
}

// The last check before the start: our own regular file, group and others not writing, really executed.
TEST_F(SessionTest, ClientIsStartedOnlyWhenItIsOursAndExecutable) {
    LogInit("launch.log", false, true);
    const struct {
        unsigned mode;
        bool foreign;
        std::string logged;
    } cases[] = {
        {0777, false, "Successfully launched RC client [%]"},
        {0644, false, "Cannot execute % - Error (13) - Permission denied"},
        {0755, true, "Cannot execute % - Error (1) - Operation not permitted"},
    };
    for (const auto& c : cases) {
        if (c.foreign && geteuid() != 0) continue;
        ClientPath = clients_ + "/client" + std::to_string(c.mode) + c.logged[0];
        ASSERT_TRUE(testsupport::WriteFile(ClientPath, "#!/bin/sh\necho ran >>'" + marker_ + "'\n", c.mode));
        if (c.foreign) {
            ASSERT_EQ(chown(ClientPath.c_str(), 65534, 65534), 0);
        }
        ClientReady = true;
        LaunchClient();
        std::string line = c.logged;
        line.replace(line.find('%'), 1, ClientPath);
        EXPECT_NE(ReadFile(home_ + "/ZEL/launch.log").find(line), std::string::npos) << line;
        struct stat st {};
        EXPECT_EQ(stat(ClientPath.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, c.mode == 0777 ? 0755 : c.mode);
    }
    EXPECT_TRUE(WaitFor([&] { return ReadFile(marker_) == "ran\n"; }, 5000)) << "only the sound one ran";
    LogInit("", false, true);
}

TEST_F(SessionTest, SignalsDuringAndAfterTheSession) {
    demo::Options never;
    never.outcome = demo::Outcome::Never;
    auto server = Serve(never);
    Tuning() = LauncherTuning{clients_, 60000, 20000};
    fakeui::Reset();
    std::thread interrupter([&] {
        WaitFor([&] { return server->SessionPolls() >= 1; }, 10000);
        kill(getpid(), SIGINT);
    });
    Run(server->BaseUrl(), "314159");
    interrupter.join();
    const int caught = IndexOf(log_, "Signal handler caught a signal: SIGINT");
    EXPECT_GE(caught, 0) << Joined(log_);
    EXPECT_GT(IndexOf(log_, "Program interrupted by user"), caught);
    EXPECT_EQ(server->SessionPolls(), 1);

    // After the session the handlers only log; a reader with a full pipe still stops.
    kill(getpid(), SIGTERM);
    LogInit("flood.log", false, true);  // a slow reader: every signal is a line
    InstallSignalHandling();
    for (int i = 0; i < 200000; ++i) raise(SIGTERM);
    auto stopped = std::make_shared<std::atomic<bool>>(false);
    std::thread([stopped] { RemoveSignalHandling(), *stopped = true; }).detach();
    EXPECT_TRUE(WaitFor([&] { return stopped->load(); }, 20000)) << "the stop byte was lost";
}

TEST_F(SessionTest, ProxyCredentialsAreAskedAndUsedThroughARealProxy) {
    auto proxy =
        testsupport::SquidProxy::Start(testsupport::SquidAuth::Basic, "alice", "s3cret pw", "Demo Proxy");
    if (!proxy) GTEST_SKIP() << "no squid: " << testsupport::SquidProxy::LastError();
    ASSERT_TRUE(testsupport::WriteFirefoxProxyPrefs(home_, "127.0.0.1", proxy->port()));
    Tuning() = LauncherTuning{clients_, 4000, 150};
    // A wrong password first: asked again, then the right one.
    fakeui::Reset(
        {.credentials = {fakeui::Credentials{"alice", "wrong"}, fakeui::Credentials{"alice", "s3cret pw"}}});
    auto server = Serve({});
    ac_ = "20100";
    Run(server->BaseUrl(), "314159");
    ExpectLaunched(true);
    const auto asked = fakeui::With("AskProxyCredentials:");
    ASSERT_EQ(asked.size(), 2u) << ::testing::PrintToString(fakeui::Calls());
    EXPECT_NE(asked[0].find("Demo Proxy"), std::string::npos) << asked[0];
    const std::string proxyAddress = "127.0.0.1:" + std::to_string(proxy->port());
    EXPECT_GE(IndexOf(log_, "Proxy: " + proxyAddress + " (Firefox profile)"), 0);
    // Rejected attempts never reached the server; the ticket poll and the assignment did, through the proxy.
    EXPECT_EQ(server->SessionPolls(), 2);
    const auto posts = server->ComponentRequests();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].decrypted.at("proxyserver"), proxyAddress);
    EXPECT_EQ(posts[0].decrypted.at("proxyauth"), "alice:s3cret pw");
    EXPECT_NE(proxy->AccessLog().find("components/linux/default.asp"), std::string::npos);
}

}  // namespace
