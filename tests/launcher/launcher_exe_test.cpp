// The launcher executable itself: personalised with the tool, run headless
// against the demo server with a private HOME. It uses the real client folder
// /tmp, so every test takes an access number of its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "LauncherTestSupport.h"
#include "TempDir.h"
#include "demo_server.h"

using namespace launchertest;
using testsupport::ReadFile;
using testsupport::WaitFor;
using testsupport::WriteFile;

namespace {

class LauncherExeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
        ac_ = std::to_string(10000 + std::random_device{}() % 90000);
        client_ = "/tmp/ZELsupportRC_" + ac_;
        TearDown();
    }
    void TearDown() override {
        // A launched client runs on its own; let it finish writing into our folder.
        if (access(client_.c_str(), F_OK) == 0) WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000);
        unlink(client_.c_str());
        unlink((client_ + ".zip").c_str());
    }

    // The demo server, and a personalised copy of the launcher that polls it.
    void Prepare(demo::Outcome outcome, const std::string& copy, const std::vector<std::string>& extra = {}) {
        options_.outcome = outcome;
        options_.pollsBeforeResult = 0;  // the first reply assigns: no wait
        options_.marker = marker_;
        options_.print = false;
        server_ = std::make_unique<demo::Server>(options_);
        ASSERT_TRUE(server_->Start());
        std::vector<std::string> argv = {SA_BINARY_DIR "/tools/personalise",
                                         SA_LAUNCHER,
                                         copy,
                                         "--url",
                                         server_->BaseUrl(),
                                         "--code",
                                         "271828",
                                         "--ac",
                                         ac_,
                                         "--owner",
                                         "54213",
                                         "--lang",
                                         "en"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const auto r = testsupport::Run(argv, 30000);
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }

    std::vector<std::string> Log() {
        int damaged = -1;
        auto lines = ReadLog(home_ + "/ZEL/exe.log", damaged);
        EXPECT_EQ(damaged, 0);
        EXPECT_FALSE(lines.empty() || lines.back() != "<---") << Joined(lines);
        return lines;
    }

    testsupport::TempDir temp_{"sa-exe"};
    std::string home_ = temp_ / "home", marker_ = temp_ / "client-ran", copy_ = temp_ / "launcher", ac_,
                client_;
    std::vector<std::string> env_ = {"HOME=" + home_, "DISPLAY="};
    demo::Options options_;
    std::unique_ptr<demo::Server> server_;
};

TEST_F(LauncherExeTest, PersonalisedCopyRunsAWholeSessionAndRemovesItself) {
    // A link planted at the package path must not be written through.
    ASSERT_TRUE(WriteFile(temp_ / "victim", "precious", 0644));
    ASSERT_EQ(symlink((temp_ / "victim").c_str(), (client_ + ".zip").c_str()), 0);
    Prepare(demo::Outcome::Assignment, copy_);
    ASSERT_TRUE(WriteFile(copy_ + ".zip", "the delivery archive"));

    const auto r = testsupport::Run({copy_}, 60000, env_);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const auto log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 2], "Successfully launched RC client [" + client_ + "]") << Joined(log);
    EXPECT_EQ(log[2],
              "buffer=[url(" + server_->BaseUrl() + ")lang(en)owner(54213)code(271828)ac(" + ac_ + ")]");
    EXPECT_EQ(CountPrefix(log, "Cannot autoremove"), 0) << Joined(log);
    EXPECT_NE(access(copy_.c_str(), F_OK), 0);
    EXPECT_NE(access((copy_ + ".zip").c_str(), F_OK), 0);
    EXPECT_TRUE(WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000));
    EXPECT_EQ(ReadFile(temp_ / "victim"), "precious");
}

TEST_F(LauncherExeTest, StartedByBareNameLeavesTheNamesakeInTheWorkingFolderAlone) {
    const std::string bin = temp_ / "bin", work = temp_ / "work";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    Prepare(demo::Outcome::Assignment, bin + "/sa-launcher", {"--session-enabled", "0"});
    ASSERT_TRUE(WriteFile(work + "/sa-launcher", "someone's notes", 0644));
    ASSERT_TRUE(WriteFile(work + "/sa-launcher.zip", "someone's archive", 0644));

    env_.push_back("PATH=" + bin + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"));
    const auto r = testsupport::Run({"sh", "-c", "cd '" + work + "' && exec sa-launcher"}, 60000, env_);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ReadFile(work + "/sa-launcher"), "someone's notes");
    EXPECT_EQ(ReadFile(work + "/sa-launcher.zip"), "someone's archive");
    EXPECT_EQ(access((bin + "/sa-launcher").c_str(), F_OK), 0);
    const auto log = Log();
    EXPECT_GE(IndexOf(log, "No session code inserted."), 0) << Joined(log);
    EXPECT_GE(IndexOf(log,
                      "Cannot autoremove Session Assignment binary \"sa-launcher\": Error (2) - No such file "
                      "or directory"),
              0)
        << Joined(log);

    // Started through a link: the link's target may be someone else's.
    ASSERT_EQ(symlink((bin + "/sa-launcher").c_str(), (work + "/link").c_str()), 0);
    EXPECT_EQ(testsupport::Run({work + "/link"}, 60000, env_).exitCode, 0);
    EXPECT_EQ(access((bin + "/sa-launcher").c_str(), F_OK), 0);
    EXPECT_GE(IndexOf(Log(), "Cannot autoremove Session Assignment binary \"" + work +
                                 "/link\": it is a symbolic link, not this program"),
              0);
}

TEST_F(LauncherExeTest, TerminationRequestEndsTheSessionWithStatusZero) {
    Prepare(demo::Outcome::Never, copy_, {"--auto-remove", "0"});
    auto process = testsupport::Process::Start({copy_}, env_, temp_ / "output");
    ASSERT_TRUE(process);
    ASSERT_TRUE(WaitFor([&] { return server_->SessionPolls() >= 1; }, 20000));
    ASSERT_EQ(kill(process->pid(), SIGTERM), 0);
    int status = -1;
    ASSERT_TRUE(process->Wait(10000, &status)) << "still running after SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const auto log = Log();
    const int caught = IndexOf(log, "Signal handler caught a signal: SIGTERM");
    ASSERT_GE(caught, 0) << Joined(log);
    EXPECT_GT(IndexOf(log, "Program interrupted by user"), caught);
    EXPECT_EQ(server_->SessionPolls(), 1);
    EXPECT_EQ(access(copy_.c_str(), F_OK), 0);  // not marked for removal
}

}  // namespace
