// The personalised launcher on a real desktop (Xvfb with openbox), used the
// way a customer uses it: windows found through the window manager, keys
// typed and buttons clicked with xdotool, windows closed through wmctrl. The
// support server is the demo server on loopback; the client folder is the
// real /tmp, so every test takes an access number of its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "LauncherTestSupport.h"
#include "SquidProxy.h"
#include "TempDir.h"
#include "XDisplay.h"
#include "demo_server.h"
#include "windows_user.h"

using namespace launchertest;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitFor;
using windowstest::DesktopUser;

namespace {

const std::string kLauncher = SA_LAUNCHER;
const std::string kTool = SA_BINARY_DIR "/tools/personalise";

constexpr int kStartMs = 15000;  // a launcher under a sanitizer starts slowly

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class DesktopSession : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(x_.ok()) << x_.error();
        user_ = std::make_unique<DesktopUser>(x_.display());
        home_ = temp_ / "home";
        ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
        marker_ = temp_ / "client-ran";
        std::random_device random;
        ac_ = std::to_string(10000 + random() % 90000);
        client_ = "/tmp/ZELsupportRC_" + ac_;
        Cleanup();
    }
    void TearDown() override {
        launcher_.reset();
        Cleanup();
    }
    void Cleanup() {
        unlink(client_.c_str());
        unlink((client_ + ".zip").c_str());
    }

    void StartServer(demo::Options options) {
        options.marker = marker_;
        options.print = false;
        server_ = std::make_unique<demo::Server>(options);
        ASSERT_TRUE(server_->Start());
    }

    // A copy of the launcher for this test; code "" leaves the code out.
    std::string Personalise(const std::string& code, const std::vector<std::string>& extra = {}) {
        const std::string copy = temp_ / "launcher";
        std::vector<std::string> argv = {kTool,  kLauncher, copy,      "--url", server_->BaseUrl(),
                                         "--ac", ac_,       "--owner", "54213", "--lang",
                                         "en"};
        if (!code.empty()) {
            argv.push_back("--code");
            argv.push_back(code);
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        const auto r = testsupport::Run(argv, 30000);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return copy;
    }

    void StartLauncher(const std::string& copy) {
        std::vector<std::string> env = {"HOME=" + home_, "DISPLAY=" + x_.display()};
        env.insert(env.end(), desktopEnv_.begin(), desktopEnv_.end());
        launcher_ = testsupport::Process::Start({copy}, env, temp_ / "launcher.out");
        ASSERT_TRUE(launcher_);
    }

    // Waits for the launcher's end; its exit status, or -1 when it did not end in time.
    int ExitStatus(int timeoutMs) {
        int status = 0;
        if (!launcher_->Wait(timeoutMs, &status)) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::vector<std::string> Log() {
        int damaged = -1;
        auto lines = ReadLog(home_ + "/ZEL/exe.log", damaged);
        EXPECT_EQ(damaged, 0) << "the log chain does not verify";
        return lines;
    }

    std::string Scratch() const { return temp_ / "shot.ppm"; }

    // The session page polls the server saw, in order.
    std::vector<demo::Request> Polls() const {
        std::vector<demo::Request> polls;
        for (const auto& r : server_->Requests())
            if (r.page == "session") polls.push_back(r);
        return polls;
    }

    // Typing into the session code window as a user does.
    std::string EnterCode(const std::string& code) {
        const std::string id = user_->WaitForWindow("Enter code", kStartMs);
        if (id.empty()) return id;
        EXPECT_TRUE(user_->Activate(id));
        EXPECT_TRUE(user_->Type(code));
        return id;
    }

    testsupport::XDisplay x_;
    std::unique_ptr<DesktopUser> user_;
    TempDir temp_{"sa-e2e"};
    std::string home_, marker_, ac_, client_;
    std::unique_ptr<demo::Server> server_;
    std::unique_ptr<testsupport::Process> launcher_;
    std::vector<std::string> desktopEnv_;
};

// The rightmost column holding dark (text) pixels inside the status label,
// or -1. The label's text starts at x = 25 in the window, 6 pixels a character.
int StatusTextRightEdge(const DesktopUser::Image& img) {
    int right = -1;
    for (int y = 20; y < 41; ++y)
        for (int x = 23; x < 218; ++x) {
            const std::string px = img.At(x, y);
            if (px == "0,0,0") right = std::max(right, x);
        }
    return right;
}

TEST_F(DesktopSession, CodeInTheBlockShowsStatusStartsTheClientAndRemovesTheCopy) {
    demo::Options options;
    options.pollsBeforeResult = 1;  // one 5-second wait, so the status window is seen
    StartServer(options);
    const std::string copy = Personalise("271828");
    ASSERT_TRUE(testsupport::WriteFile(copy + ".zip", "the delivery archive"));
    StartLauncher(copy);

    const std::string id = user_->WaitForWindow("Connection Status", kStartMs);
    ASSERT_FALSE(id.empty()) << "the status window did not appear";
    const auto shot = user_->Capture(id, Scratch());
    ASSERT_TRUE(shot.valid()) << user_->lastCaptureOutput();
    EXPECT_EQ(shot.width, 350);
    EXPECT_EQ(shot.height, 60);
    EXPECT_TRUE(user_->Run({"xprop", "-id", id, "WM_HINTS"}).output.find("icon") != std::string::npos);

    ASSERT_EQ(ExitStatus(30000), 0);
    EXPECT_TRUE(WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000)) << "the client did not run";
    EXPECT_NE(access(copy.c_str(), F_OK), 0);
    EXPECT_NE(access((copy + ".zip").c_str(), F_OK), 0);
    EXPECT_TRUE(user_->FindWindow("Connection Status").empty());
    ASSERT_EQ(server_->ComponentRequests().size(), 1u);
    EXPECT_TRUE(server_->ComponentRequests()[0].problems.empty());
    const auto log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "--->");
    EXPECT_EQ(log.back(), "<---");
    EXPECT_EQ(IndexOf(log, "Successfully launched RC client [" + client_ + "]"),
              static_cast<int>(log.size()) - 2)
        << Joined(log);
}

TEST_F(DesktopSession, DisplayLostMidSessionTheSessionGoesOnHeadlessToItsEnd) {
    demo::Options options;
    options.pollsBeforeResult = 1;
    StartServer(options);
    const std::string copy = Personalise("271828");
    StartLauncher(copy);
    ASSERT_FALSE(user_->WaitForWindow("Connection Status", kStartMs).empty());
    ASSERT_TRUE(WaitFor([&] { return server_->SessionPolls() >= 1; }, 10000));
    ASSERT_EQ(kill(x_.serverPid(), SIGKILL), 0);

    ASSERT_EQ(ExitStatus(30000), 0) << ReadFile(temp_ / "launcher.out");
    EXPECT_TRUE(WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000)) << "the client did not run";
    EXPECT_NE(access(copy.c_str(), F_OK), 0);
    const auto log = Log();
    EXPECT_EQ(CountPrefix(log, "ERROR: the connection to the X display is lost"), 1) << Joined(log);
    EXPECT_EQ(log.back(), "<---");
}

// xsm, like desktop session managers, writes ICE cookies only for the two
// addresses it puts into SESSION_MANAGER; the launcher keeps that value.
TEST_F(DesktopSession, RegistersWithXsmAndEndsWithStatusZeroWhenXsmShutsTheSessionDown) {
    ASSERT_TRUE(testsupport::WriteFile(home_ + "/.xsmstartup", ""));
    auto xsm = testsupport::Process::Start({"xsm"}, {"HOME=" + home_, "DISPLAY=" + x_.display()});
    ASSERT_TRUE(xsm);
    const std::string window = user_->WaitForWindow("xsm: Default", kStartMs);
    ASSERT_FALSE(window.empty());
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string socket = "/tmp/.ICE-unix/" + std::to_string(xsm->pid());
    const std::string manager = "local/" + std::string(host) + ":@" + socket + ",unix/" + host + ":" + socket;
    demo::Options options;
    options.outcome = demo::Outcome::Never;
    StartServer(options);
    launcher_ = testsupport::Process::Start(
        {Personalise("271828")}, {"HOME=" + home_, "DISPLAY=" + x_.display(), "SESSION_MANAGER=" + manager});
    ASSERT_FALSE(user_->WaitForWindow("Connection Status", kStartMs).empty());

    // "Shutdown", then "Immediately" in its menu (places in xsm's window, font "fixed").
    ASSERT_TRUE(user_->Activate(window));
    ASSERT_EQ(user_
                  ->Run({"xdotool", "mousemove", "--window", window, "140", "36", "mousedown", "1", "sleep",
                         "0.3", "mousemove", "--window", window, "150", "72", "sleep", "0.3", "mouseup", "1"})
                  .exitCode,
              0);
    ASSERT_EQ(ExitStatus(10000), 0);
    const auto log = Log();
    EXPECT_EQ(CountPrefix(log, "Warning: While connecting to session manager"), 0) << Joined(log);
}

TEST_F(DesktopSession, CodeTypedAndReturnRunsTheSessionAndTheServersErrorIsShown) {
    demo::Options options;
    options.pollsBeforeResult = 0;
    options.outcome = demo::Outcome::Error;
    options.errorText = "Session code unknown";  // 20 characters
    StartServer(options);
    StartLauncher(Personalise(""));

    const std::string id = user_->WaitForWindow("Enter code", kStartMs);
    ASSERT_FALSE(id.empty());
    // The focus is in the entry from the start: its focus ring is drawn.
    EXPECT_TRUE(user_->WaitForPixels(id, Scratch(), [](const DesktopUser::Image& img) {
        return img.At(23, 35) == "160,160,255";
    })) << user_->Capture(id, Scratch()).At(23, 35);
    ASSERT_TRUE(user_->Activate(id));
    ASSERT_TRUE(user_->Type("314159"));
    ASSERT_TRUE(user_->Key("Return"));

    const std::string status = user_->WaitForWindow("Connection Status", kStartMs);
    ASSERT_FALSE(status.empty());
    // The label holds the server's 20 characters, no longer "Connecting...".
    ASSERT_TRUE(user_->WaitForPixels(status, Scratch(), [](const DesktopUser::Image& img) {
        const int right = StatusTextRightEdge(img);
        return right >= 25 + 6 * 19 && right < 25 + 6 * 20;
    }));
    const auto shown = Clock::now();
    ASSERT_EQ(ExitStatus(15000), 0);
    const auto after = MsSince(shown);
    EXPECT_GT(after, 3000) << "the message must stay for about five seconds";
    EXPECT_LT(after, 7500);

    const auto polls = Polls();
    ASSERT_EQ(polls.size(), 1u);
    EXPECT_EQ(polls[0].query.at("c"), "314159");
    const auto log = Log();
    EXPECT_NE(IndexOf(log, "Server error returned: Session code unknown"), -1) << Joined(log);
    EXPECT_EQ(log.back(), "<---");
}

TEST_F(DesktopSession, CodeTypedAndOkClickedThenStatusClosedThroughTheWindowManager) {
    demo::Options options;
    options.outcome = demo::Outcome::Never;
    StartServer(options);
    StartLauncher(Personalise(""));

    const std::string id = EnterCode("161803");
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(user_->ClickAt(id, 292, 35));  // "Ok"

    ASSERT_FALSE(user_->WaitForWindow("Connection Status", kStartMs).empty());
    ASSERT_TRUE(WaitFor([&] { return server_->SessionPolls() >= 1; }, 10000));
    // Now the session thread sits in its 5-second wait.
    const auto closed = Clock::now();
    ASSERT_TRUE(user_->CloseByTitle("Connection Status"));
    ASSERT_EQ(ExitStatus(10000), 0);
    EXPECT_LT(MsSince(closed), 4500);
    EXPECT_EQ(server_->SessionPolls(), 1);
    EXPECT_EQ(Polls().at(0).query.at("c"), "161803");
    const auto log = Log();
    EXPECT_NE(IndexOf(log, "Program interrupted by user"), -1) << Joined(log);
    EXPECT_EQ(log.back(), "<---");
}

TEST_F(DesktopSession, CodeWindowClosedThroughTheWindowManagerRunsNoSessionAndKeepsTheCopy) {
    StartServer(demo::Options{});
    const std::string copy = Personalise("", {"--auto-remove", "1"});
    StartLauncher(copy);

    ASSERT_FALSE(EnterCode("999").empty());
    ASSERT_TRUE(user_->CloseByTitle("Enter code"));
    ASSERT_EQ(ExitStatus(10000), 0);
    EXPECT_EQ(access(copy.c_str(), F_OK), 0) << "a copy that had to ask for its code stays";
    EXPECT_EQ(server_->SessionPolls(), 0);
    const auto log = Log();
    EXPECT_NE(IndexOf(log, "No session code inserted."), -1) << Joined(log);
    EXPECT_EQ(log.back(), "<---");
}

// The three ways a user stops a waiting session: each ends it within the
// current 5-second wait, with status 0 and a log that verifies.
class StopDuringWait : public DesktopSession, public ::testing::WithParamInterface<std::string> {};

TEST_P(StopDuringWait, EndsTheSessionWithinTheWait) {
    demo::Options options;
    options.outcome = demo::Outcome::Never;
    StartServer(options);
    StartLauncher(Personalise("271828"));
    const std::string id = user_->WaitForWindow("Connection Status", kStartMs);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(WaitFor([&] { return server_->SessionPolls() >= 1; }, 10000));

    const auto stopped = Clock::now();
    if (GetParam() == "cancel") {
        ASSERT_TRUE(user_->ClickAt(id, 285, 30));
    } else if (GetParam() == "close") {
        ASSERT_TRUE(user_->CloseByTitle("Connection Status"));
    } else {
        ASSERT_EQ(kill(launcher_->pid(), SIGINT), 0);
    }
    ASSERT_EQ(ExitStatus(10000), 0);
    EXPECT_LT(MsSince(stopped), 4500);
    EXPECT_EQ(server_->SessionPolls(), 1);
    EXPECT_TRUE(user_->FindWindow("Connection Status").empty());
    const auto log = Log();
    EXPECT_NE(IndexOf(log, "Program interrupted by user"), -1) << Joined(log);
    if (GetParam() == "sigint") {
        EXPECT_NE(IndexOf(log, "Signal handler caught a signal: SIGINT"), -1) << Joined(log);
    }
    EXPECT_EQ(log.back(), "<---");
}

INSTANTIATE_TEST_SUITE_P(Desktop, StopDuringWait, ::testing::Values("cancel", "close", "sigint"));

// A Basic-auth squid set as the proxy in GNOME's settings, the way a user
// of a current GNOME desktop sets it (gsettings, keyfile backend).
class ProxyDesktopSession : public DesktopSession {
protected:
    void SetUp() override {
        DesktopSession::SetUp();
        if (HasFatalFailure()) return;
        proxy_ = testsupport::SquidProxy::Start(testsupport::SquidAuth::Basic, "alice", "wonder land",
                                                "Velmoran Gateway");
        ASSERT_TRUE(proxy_) << testsupport::SquidProxy::LastError();
        desktopEnv_ = {"GSETTINGS_BACKEND=keyfile", "XDG_CURRENT_DESKTOP=GNOME"};
        std::vector<std::string> env = desktopEnv_;
        env.push_back("HOME=" + home_);
        for (const std::vector<std::string>& set : std::vector<std::vector<std::string>>{
                 {"org.gnome.system.proxy", "ignore-hosts", "[]"},  // the server is on loopback
                 {"org.gnome.system.proxy.http", "host", "127.0.0.1"},
                 {"org.gnome.system.proxy.http", "port", std::to_string(proxy_->port())},
                 {"org.gnome.system.proxy", "mode", "manual"}}) {
            std::vector<std::string> argv = {"gsettings", "set"};
            argv.insert(argv.end(), set.begin(), set.end());
            const auto r = testsupport::Run(argv, 20000, env);
            ASSERT_EQ(r.exitCode, 0) << r.output;
        }
    }

    std::string WaitForCredentialsWindow() {
        const std::string id = user_->WaitForWindow("Proxy Authentication", kStartMs);
        if (id.empty()) return id;
        // The proxy's message (its realm) is written in the message area.
        EXPECT_TRUE(user_->WaitForPixels(id, Scratch(), [](const DesktopUser::Image& img) {
            for (int y = 110; y < 180; ++y)
                for (int x = 120; x < 290; ++x)
                    if (img.At(x, y) == "0,0,0") return true;
            return false;
        })) << "no message shown";
        return id;
    }

    std::unique_ptr<testsupport::SquidProxy> proxy_;
};

TEST_F(ProxyDesktopSession, CredentialsTypedLeadToThePollThroughTheProxy) {
    demo::Options options;
    options.pollsBeforeResult = 0;
    StartServer(options);
    StartLauncher(Personalise("271828", {"--auto-remove", "0"}));

    const std::string id = WaitForCredentialsWindow();
    ASSERT_FALSE(id.empty()) << proxy_->AccessLog();
    EXPECT_EQ(server_->SessionPolls(), 0) << "the proxy let a poll through without credentials";
    ASSERT_TRUE(user_->Activate(id));
    ASSERT_TRUE(user_->Type("alice"));
    ASSERT_TRUE(user_->Key("Tab"));
    ASSERT_TRUE(user_->Type("wonder land"));
    ASSERT_TRUE(user_->Key("Return"));

    ASSERT_EQ(ExitStatus(30000), 0);
    EXPECT_GE(server_->SessionPolls(), 1);
    EXPECT_NE(proxy_->AccessLog().find(" alice "), std::string::npos) << proxy_->AccessLog();
    EXPECT_TRUE(WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000)) << "the client did not run";
    const auto log = Log();
    EXPECT_EQ(log.back(), "<---");
    EXPECT_EQ(CountPrefix(log, "Program interrupted by user"), 0) << Joined(log);
    EXPECT_GE(IndexOf(log, "Proxy: " + proxy_->address() + " (desktop proxy settings)"), 0) << Joined(log);
}

TEST_F(ProxyDesktopSession, CancelInTheCredentialsWindowInterruptsTheSession) {
    StartServer(demo::Options{});
    StartLauncher(Personalise("271828"));

    const std::string id = WaitForCredentialsWindow();
    ASSERT_FALSE(id.empty()) << proxy_->AccessLog();
    ASSERT_TRUE(user_->ClickAt(id, 160, 205));  // "Cancel"
    ASSERT_EQ(ExitStatus(10000), 0);
    EXPECT_EQ(server_->SessionPolls(), 0);
    const auto log = Log();
    EXPECT_NE(IndexOf(log, "Program interrupted by user"), -1) << Joined(log);
    EXPECT_EQ(log.back(), "<---");
}

TEST_F(ProxyDesktopSession, ClosingTheStatusWindowEndsTheOpenCredentialsWindowToo) {
    StartServer(demo::Options{});
    StartLauncher(Personalise("271828"));

    const std::string id = WaitForCredentialsWindow();
    ASSERT_FALSE(id.empty()) << proxy_->AccessLog();
    // Something typed, so a dialog that wrongly reported OK would send it.
    ASSERT_TRUE(user_->Activate(id));
    ASSERT_TRUE(user_->Type("alice"));
    ASSERT_TRUE(user_->Key("Tab"));
    ASSERT_TRUE(user_->Type("wonder land"));
    const auto closed = Clock::now();
    ASSERT_TRUE(user_->CloseByTitle("Connection Status"));
    ASSERT_EQ(ExitStatus(10000), 0);
    EXPECT_LT(MsSince(closed), 4500);
    EXPECT_EQ(server_->SessionPolls(), 0);
    EXPECT_EQ(proxy_->AccessLog().find(" alice "), std::string::npos);
    const auto log = Log();
    EXPECT_NE(IndexOf(log, "Program interrupted by user"), -1) << Joined(log);
    EXPECT_EQ(log.back(), "<---");
}

}  // namespace
