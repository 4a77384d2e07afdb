// The whole core in this process against the demo server, with real libcurl,
// real unzip, a private HOME and a client folder of its own per test.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

namespace {

const std::vector<unsigned char> kBuiltBlock(ParameterBlock, ParameterBlock + kParameterBlockSize);

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(clients_.c_str(), 0700), 0);
        setenv("HOME", home_.c_str(), 1);
        Tuning() = LauncherTuning{clients_, 4000, 150};
        // argv[0] names a file that is not this executable: it must survive the removal step.
        ASSERT_TRUE(testsupport::WriteFile(launcherPath_, "not the launcher", 0755));
        ASSERT_TRUE(testsupport::WriteFile(launcherPath_ + ".zip", "PK", 0644));
        options_.marker = marker_;
        options_.print = false;
        fakeui::Reset();
        // A stand-in gconftool-2 first on PATH counts the discoveries.
        ASSERT_EQ(mkdir(bin_.c_str(), 0700), 0);
        ASSERT_TRUE(
            testsupport::WriteFile(bin_ + "/gconftool-2", "#!/bin/sh\necho >>'" + gconfRuns_ + "'\n", 0755));
        setenv("PATH", (bin_ + ":" + path_).c_str(), 1);
    }

    void TearDown() override {
        // A launched client runs on its own; let it finish writing into our folder.
        if (CountPrefix(log_, "Successfully launched") > 0)
            WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000);
        Tuning() = LauncherTuning{};
        std::copy(kBuiltBlock.begin(), kBuiltBlock.end(), ParameterBlock);
        setenv("PATH", path_.c_str(), 1);
    }

    void StartServer() {
        server_ = std::make_unique<demo::Server>(options_);
        ASSERT_TRUE(server_->Start());
    }
    // The demo server with options_, and the launcher run against it.
    long Session(const std::string& code = "314159") {
        StartServer();
        return Run(server_->BaseUrl(), code);
    }

    // Runs the whole launcher, reads its log and checks the frame every run shares; returns milliseconds.
    long Run(const std::string& url, const std::string& code = "314159", const std::string& items = "") {
        unlink((home_ + "/ZEL/exe.log").c_str());  // one run's log each
        WriteBlock("url(" + url + ")lang(de)owner(54213)code(" + code + ")ac(" + ac_ + ")title(T)" + items);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(LauncherMain(launcherPath_.c_str()), 0);
        const auto took = std::chrono::steady_clock::now() - start;
        int damaged = -1;
        log_ = ReadLog(home_ + "/ZEL/exe.log", damaged);
        EXPECT_EQ(damaged, 0);
        ExpectFrame();
        return std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    }

    void ExpectFrame() {
        ASSERT_GE(log_.size(), 4u) << Joined(log_);
        EXPECT_EQ(log_[0], "--->");
        EXPECT_EQ(log_[1], "Session Assignment ZEL_VERSION=1.1.0.88 buildId=20100216100911");
        EXPECT_EQ(log_.back(), "<---");
        EXPECT_EQ(fakeui::Count("Close"), 1);
        EXPECT_EQ(ReadFile(launcherPath_), "not the launcher");
        EXPECT_EQ(ReadFile(launcherPath_ + ".zip"), "PK");
        EXPECT_EQ(ReadFile(gconfRuns_), "\n") << "one discovery per run, not one per transfer";
        unlink(gconfRuns_.c_str());
    }

    void ExpectLaunched() {
        ASSERT_GE(log_.size(), 2u);
        EXPECT_EQ(log_[log_.size() - 2], "Successfully launched RC client [" + ClientFile() + "]")
            << Joined(log_);
        EXPECT_TRUE(WaitFor([&] { return ReadFile(marker_).find(ClientFile()) != std::string::npos; }, 5000));
    }

    std::string ClientFile() const { return clients_ + "/ZELsupportRC_" + ac_; }
    bool Logged(const std::string& line) const { return IndexOf(log_, line) >= 0; }
    int Launches() const { return CountPrefix(log_, "Successfully launched"); }

    testsupport::TempDir temp_{"sa-session"};
    std::string home_ = temp_ / "home", clients_ = temp_ / "clients", launcherPath_ = temp_ / "launcher",
                marker_ = temp_ / "client-ran", ac_ = std::to_string(10000 + getpid() % 80000),
                bin_ = temp_ / "bin", gconfRuns_ = temp_ / "gconftool-runs",
                path_ = getenv("PATH") ? getenv("PATH") : "";
    demo::Options options_;
    std::unique_ptr<demo::Server> server_;
    std::vector<std::string> log_;
};

TEST_F(SessionTest, AssignmentFetchesUnpacksAndLaunchesTheClient) {
    const struct {
        std::string mode, laterTicket;
        int polls;
        std::string ac, typed, sent, role;
    } cases[] = {
        {"1", "", 1, "20001", "", "314159", "client"},
        {"3", "T2", 3, "20002", "", "314159", "operator"},  // a later ticket must not replace T1
        {"1", "", 1, "4242;touch${IFS}pwned", "", "314159",
         "client"},  // plain words for the shell, also in unzip
        {"1", "", 1, "20003", "12 34\t5", "12%2034%095",
         "client"},  // typed, so the copy keeps its files silently
    };
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    const std::shared_ptr<char> back(previous, [](char* path) { EXPECT_EQ(chdir(path), 0); });
    ASSERT_EQ(chdir(temp_.path().c_str()), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ac + " " + c.role);
        ac_ = c.ac;
        options_.mode = c.mode;
        options_.laterTicket = c.laterTicket;
        options_.pollsBeforeResult = c.polls;
        fakeui::Reset({.sessionCode = c.typed, .sessionCodeConfirmed = true});
        Session(c.typed.empty() ? c.sent : "");
        ExpectLaunched();
        EXPECT_EQ(fakeui::Count("AskSessionCode"), c.typed.empty() ? 0 : 1);
        const auto requests = server_->Requests();
        ASSERT_EQ(server_->SessionPolls(), c.polls + 1);
        EXPECT_EQ(requests[0].target.substr(0, requests[0].target.rfind('&')),
                  "/velmoran/interfaces/web/isd/session.asp?t=&c=" + c.sent + "&o=54213&l=de");
        for (int i = 1; i <= c.polls; ++i) EXPECT_EQ(requests[i].query.at("t"), "T1") << i;

        const auto posts = server_->ComponentRequests();
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(posts[0].query.at("t"), "T1");
        EXPECT_TRUE(posts[0].problems.empty()) << posts[0].problems.front();
        ASSERT_EQ(posts[0].form.size(), 9u);  // no proxy items without credentials
        EXPECT_EQ(posts[0].form[0], (std::pair<std::string, std::string>("lUid", "lu-815")));
        EXPECT_EQ(posts[0].form[2].second + posts[0].form[3].second, c.role + "4711");
        EXPECT_TRUE(Logged("Client RC Post: " + posts[0].body)) << Joined(log_);

        // The package is gone, the client is not writable by others, no shell word ran.
        struct stat st {};
        EXPECT_NE(stat((ClientFile() + ".zip").c_str(), &st), 0);
        ASSERT_EQ(stat(ClientFile().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        for (const auto& dir : {temp_.path(), clients_}) EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);
        // argv[0] is not the running executable: nothing deleted, and said so unless the code was typed.
        EXPECT_EQ(Logged("Cannot autoremove Session Assignment binary \"" + launcherPath_ +
                         "\": Error (2) - No such file or directory"),
                  c.typed.empty());
    }
}

TEST_F(SessionTest, UndecryptableAssignmentStillRequestsTheClient) {
    options_.script = "ABC";  // odd number of digits
    Session();
    EXPECT_TRUE(Logged("Decrypt ERROR"));
    const auto posts = server_->ComponentRequests();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].form[0].second + "|" + posts[0].form[2].second + "|" + posts[0].form[3].second,
              "|client|");
}

TEST_F(SessionTest, ErrorReplyIsShownAndNothingIsFetched) {
    options_.outcome = demo::Outcome::Error;
    options_.errorText = "Code 314159 is not valid";
    Tuning().pollWaitMs = 600;
    const long took = Session();
    EXPECT_TRUE(Logged("Server error returned: Code 314159 is not valid"));
    EXPECT_EQ(fakeui::With("SetStatusText:"),
              (std::vector<std::string>{"Connecting...", "Code 314159 is not valid"}));
    EXPECT_TRUE(server_->ComponentRequests().empty());
    EXPECT_EQ(Launches() + CountPrefix(log_, "Connection timeout exceeded"), 0);
    EXPECT_GE(took, 1200);  // one wait between the polls, and the message stays up for one more
}

TEST_F(SessionTest, MisconfiguredTlsItemAsksAndPollsNothingAndKeepsTheCopy) {
    StartServer();
    Run(server_->BaseUrl(), "", "tls(verify)");  // no http server can be verified
    EXPECT_TRUE(Logged("ERROR: This copy is misconfigured: tls(verify) needs an https URL, not " +
                       server_->BaseUrl()))
        << Joined(log_);
    EXPECT_EQ(fakeui::With("SetStatusText:"), std::vector<std::string>{"Cannot verify the server"});
    EXPECT_EQ(fakeui::Count("AskSessionCode") + server_->SessionPolls(), 0);
    EXPECT_TRUE(KeepCopy);
}

TEST_F(SessionTest, StopDuringTheWaitEndsItAtOnce) {
    options_.outcome = demo::Outcome::Never;
    Tuning().pollWaitMs = 20000;
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "SIGINT" : "status window closed");
        fakeui::Reset({.closeStatusAfterMs = bySignal ? -1 : 300});
        StartServer();
        std::thread interrupter([&] {
            if (!bySignal) return;
            WaitFor([this] { return server_->SessionPolls() >= 1; }, 10000);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            kill(getpid(), SIGINT);
        });
        EXPECT_LT(Run(server_->BaseUrl()), 10000);
        interrupter.join();
        const int caught = IndexOf(log_, "Signal handler caught a signal: SIGINT");
        EXPECT_EQ(caught >= 0, bySignal) << Joined(log_);
        EXPECT_GT(IndexOf(log_, "Program interrupted by user"), caught);
        EXPECT_EQ(server_->SessionPolls(), 1);
        EXPECT_EQ(Launches(), 0);
        const auto calls = fakeui::Calls();  // a closed window ends first, the session thread closes after it
        if (!bySignal) {
            EXPECT_LT(std::find(calls.begin(), calls.end(), "StatusWindowEnded"),
                      std::find(calls.begin(), calls.end(), "Close"));
        }
    }
    kill(getpid(), SIGTERM);  // after the session the handlers only log; the process goes on
    InstallSignalHandling();
    kill(getpid(), SIGTERM);
    RemoveSignalHandling();
    int damaged = -1;
    EXPECT_EQ(
        CountPrefix(ReadLog(home_ + "/ZEL/exe.log", damaged), "Signal handler caught a signal: SIGTERM"), 2);
}

TEST_F(SessionTest, SignalReaderStopsWithItsPipeFullOfPendingSignals) {
    LogInit("flood.log", false, true);  // a slow reader: every signal is a line
    InstallSignalHandling();
    for (int i = 0; i < 200000; ++i) raise(SIGTERM);
    auto stopped = std::make_shared<std::atomic<bool>>(false);
    std::thread([stopped] { RemoveSignalHandling(), *stopped = true; }).detach();
    EXPECT_TRUE(WaitFor([&] { return stopped->load(); }, 20000)) << "the stop byte was lost";
}

TEST_F(SessionTest, UnreachableServerLogsEveryCycleAndTimesOut) {
    Tuning().sessionDeadlineMs = 1000;
    Tuning().pollWaitMs = 200;
    EXPECT_LT(Run("http://127.0.0.1:" + std::to_string(testsupport::FreeTcpPort()) + "/velmoran/"), 20000);
    const int polls = CountPrefix(log_, "Session URL: ");
    EXPECT_GE(polls, 2);
    EXPECT_EQ(CountPrefix(log_, "Error (4) - DownloadToBuffer()"), polls);
    EXPECT_TRUE(Logged("Connection timeout exceeded"));
    EXPECT_EQ(fakeui::With("SetStatusText:").back(), "Connection timeout exceeded");
    EXPECT_EQ(CountPrefix(log_, "Program interrupted"), 0);
}

TEST_F(SessionTest, CancelledCredentialsEndWithoutAnotherPoll) {
    options_.demandCredentials = true;  // the same return code a proxy gives
    fakeui::Reset({.credentials = {std::nullopt}});
    EXPECT_LT(Session(), 3000);  // no wait after a cancel
    ASSERT_EQ(fakeui::Count("AskProxyCredentials:demo realm"), 1)
        << ::testing::PrintToString(fakeui::Calls());
    EXPECT_TRUE(Logged("Program interrupted by user"));
    EXPECT_EQ(server_->SessionPolls(), 1);
    EXPECT_EQ(CountPrefix(log_, "Error ("), 0);
    EXPECT_TRUE(ProxyCredentials.empty());
}

TEST_F(SessionTest, ProxyCredentialsAreAskedAndUsedThroughARealProxy) {
    auto proxy =
        testsupport::SquidProxy::Start(testsupport::SquidAuth::Basic, "alice", "s3cret pw", "Demo Proxy");
    if (!proxy) GTEST_SKIP() << "no squid: " << testsupport::SquidProxy::LastError();
    ASSERT_TRUE(testsupport::WriteFirefoxProxyPrefs(home_, "127.0.0.1", proxy->port()));
    // A wrong password first: asked again, then the right one.
    fakeui::Reset(
        {.credentials = {fakeui::Credentials{"alice", "wrong"}, fakeui::Credentials{"alice", "s3cret pw"}}});
    Session();
    ExpectLaunched();
    const auto asked = fakeui::With("AskProxyCredentials:");
    ASSERT_EQ(asked.size(), 2u) << ::testing::PrintToString(fakeui::Calls());
    EXPECT_NE(asked[0].find("Demo Proxy"), std::string::npos) << asked[0];
    EXPECT_EQ(ProxyCredentials, "alice:s3cret pw");
    EXPECT_TRUE(Logged("Proxy: 127.0.0.1:" + std::to_string(proxy->port()) + " (Firefox profile)"));

    // Rejected attempts never reached the server; the ticket poll and the assignment did, through the proxy.
    EXPECT_EQ(server_->SessionPolls(), 2);
    const auto posts = server_->ComponentRequests();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_TRUE(posts[0].problems.empty());
    EXPECT_EQ(posts[0].decrypted.at("proxyserver"), "127.0.0.1:" + std::to_string(proxy->port()));
    EXPECT_EQ(posts[0].decrypted.at("proxyauth"), "alice:s3cret pw");
    const std::string access = proxy->AccessLog();
    EXPECT_NE(access.find("alice"), std::string::npos) << access;
    EXPECT_NE(access.find("components/linux/default.asp"), std::string::npos);
}

TEST_F(SessionTest, ClientThatCannotBeExecutedIsSaidSoAndNotLaunched) {
    options_.clientMode = 0644;
    Session();
    EXPECT_TRUE(Logged("Cannot execute " + ClientFile() + " - Error (13) - Permission denied"))
        << Joined(log_);
    EXPECT_EQ(Launches(), 0);
}

TEST_F(SessionTest, FailedPostUnpackOrForeignClientLaunchesNothing) {
    const bool root = geteuid() == 0;  // planting a file of another user needs root
    const struct {
        int status;
        bool broken, foreign;
        std::string problem, package;
    } cases[] = {
        {500, false, false, "Error (4) - PostToFile(\"%.zip\")", ""},
        {200, true, false, "ERROR: %.zip is invalid zip file",
         "this is not an archive\n"},  // the package stays
        {200, false, true, "ERROR: % is not a file of this user", ""},
    };
    for (const auto& c : cases) {
        if (c.foreign && !root) continue;
        SCOPED_TRACE(c.problem);
        ac_ = std::to_string(30000 + c.status + c.broken);
        options_.componentsStatus = c.status;
        options_.brokenPackage = c.broken;
        if (c.foreign) {
            ASSERT_TRUE(testsupport::WriteFile(ClientFile(), "someone else's", 0644));
            ASSERT_EQ(chown(ClientFile().c_str(), 65534, 65534), 0);
        }
        fakeui::Reset();
        Session();
        std::string problem = c.problem;
        problem.replace(problem.find('%'), 1, ClientFile());
        EXPECT_EQ(CountPrefix(log_, problem), 1) << Joined(log_);
        EXPECT_EQ(Launches() + CountPrefix(log_, "Cannot execute"), 0);
        EXPECT_FALSE(ClientReady);
        EXPECT_EQ(ReadFile(ClientFile()), c.foreign ? "someone else's" : "");
        EXPECT_EQ(access(ClientFile().c_str(), F_OK) == 0, c.foreign);
        if (c.broken) {
            EXPECT_EQ(ReadFile(ClientFile() + ".zip"), c.package);
        }
    }
    EXPECT_TRUE(ReadFile(marker_).empty());
}

}  // namespace
