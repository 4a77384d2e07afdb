// The launcher executable itself: personalised with the tool, run headless
// against the demo server, with a private HOME. It uses the real client
// folder /tmp, so every test takes an access number of its own.

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
using testsupport::TempDir;
using testsupport::WaitFor;

namespace {

const std::string kLauncher = SA_BINARY_DIR "/launcher/launcher";
const std::string kTool = SA_BINARY_DIR "/tools/personalise";

class LauncherExeTest : public ::testing::Test {
protected:
  void SetUp() override {
    home_ = temp_ / "home";
    ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
    marker_ = temp_ / "client-ran";
    std::random_device random;
    ac_ = std::to_string(10000 + random() % 90000);
    client_ = "/tmp/ZELsupportRC_" + ac_;
    Cleanup();
  }
  void TearDown() override {
    // A launched client runs on its own; let it finish writing into our folder.
    if (access(client_.c_str(), F_OK) == 0) WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000);
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

  std::string Personalise(const std::string& copy, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {kTool, kLauncher, copy, "--url", server_->BaseUrl(), "--code", "271828",
                                     "--ac", ac_, "--owner", "54213", "--lang", "en"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const auto r = testsupport::Run(argv, 30000);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return copy;
  }

  std::vector<std::string> Log() {
    int damaged = -1;
    auto lines = ReadLog(home_ + "/ZEL/exe.log", damaged);
    EXPECT_EQ(damaged, 0);
    return lines;
  }

  std::vector<std::string> Env() const { return {"HOME=" + home_, "DISPLAY="}; }

  TempDir temp_{"sa-exe"};
  std::string home_, marker_, ac_, client_;
  std::unique_ptr<demo::Server> server_;
};

TEST_F(LauncherExeTest, PersonalisedCopyRunsAWholeSessionAndRemovesItself) {
  demo::Options options;
  options.pollsBeforeResult = 0;  // the first reply assigns: no 5-second wait
  StartServer(options);
  const std::string copy = Personalise(temp_ / "launcher");
  ASSERT_TRUE(testsupport::WriteFile(copy + ".zip", "the delivery archive"));

  const auto r = testsupport::Run({copy}, 60000, Env());
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;

  const auto log = Log();
  ASSERT_GE(log.size(), 3u) << Joined(log);
  EXPECT_EQ(log.back(), "<---");
  EXPECT_EQ(log[log.size() - 2], "Successfully launched RC client [" + client_ + "]") << Joined(log);
  EXPECT_EQ(log[2], "buffer=[url(" + server_->BaseUrl() + ")lang(en)owner(54213)code(271828)ac(" + ac_ + ")]");
  EXPECT_EQ(CountPrefix(log, "Cannot autoremove"), 0) << Joined(log);
  EXPECT_NE(access(copy.c_str(), F_OK), 0);
  EXPECT_NE(access((copy + ".zip").c_str(), F_OK), 0);
  EXPECT_TRUE(WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000));
  ASSERT_EQ(server_->ComponentRequests().size(), 1u);
  EXPECT_TRUE(server_->ComponentRequests()[0].problems.empty());
}

TEST_F(LauncherExeTest, PlantedLinkAtThePackagePathIsNotWrittenThrough) {
  demo::Options options;
  options.pollsBeforeResult = 0;
  StartServer(options);
  const std::string victim = temp_ / "victim";
  ASSERT_TRUE(testsupport::WriteFile(victim, "precious", 0644));
  ASSERT_EQ(symlink(victim.c_str(), (client_ + ".zip").c_str()), 0);
  const std::string copy = Personalise(temp_ / "launcher", {"--auto-remove", "0"});

  const auto r = testsupport::Run({copy}, 60000, Env());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(ReadFile(victim), "precious");
  struct stat st {};
  EXPECT_FALSE(lstat((client_ + ".zip").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_EQ(access(copy.c_str(), F_OK), 0);  // not marked for removal
}

TEST_F(LauncherExeTest, StartedByBareNameLeavesTheNamesakeInTheWorkingFolderAlone) {
  StartServer(demo::Options{});
  const std::string bin = temp_ / "bin";
  const std::string work = temp_ / "work";
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
  Personalise(bin + "/sa-launcher", {"--session-enabled", "0"});
  ASSERT_TRUE(testsupport::WriteFile(work + "/sa-launcher", "someone's notes", 0644));
  ASSERT_TRUE(testsupport::WriteFile(work + "/sa-launcher.zip", "someone's archive", 0644));

  const std::string path = bin + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
  auto env = Env();
  env.push_back("PATH=" + path);
  const auto r = testsupport::Run({"sh", "-c", "cd '" + work + "' && exec sa-launcher"}, 60000, env);
  EXPECT_EQ(r.exitCode, 0) << r.output;

  EXPECT_EQ(ReadFile(work + "/sa-launcher"), "someone's notes");
  EXPECT_EQ(ReadFile(work + "/sa-launcher.zip"), "someone's archive");
  EXPECT_EQ(access((bin + "/sa-launcher").c_str(), F_OK), 0);
  const auto log = Log();
  EXPECT_GE(IndexOf(log, "No session code inserted."), 0) << Joined(log);
  EXPECT_GE(IndexOf(log, "Cannot autoremove Session Assignment binary \"sa-launcher\": Error (2) - No such file or directory"), 0)
      << Joined(log);
  EXPECT_EQ(log.back(), "<---");
}

TEST_F(LauncherExeTest, TerminationRequestEndsTheSessionWithStatusZero) {
  demo::Options options;
  options.outcome = demo::Outcome::Never;
  StartServer(options);
  const std::string copy = Personalise(temp_ / "launcher", {"--auto-remove", "0"});
  auto process = testsupport::Process::Start({copy}, Env(), temp_ / "output");
  ASSERT_TRUE(process);
  ASSERT_TRUE(WaitFor([&] { return server_->SessionPolls() >= 1; }, 20000));
  ASSERT_EQ(kill(process->pid(), SIGTERM), 0);
  int status = -1;
  ASSERT_TRUE(process->Wait(10000, &status)) << "still running after SIGTERM";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const auto log = Log();
  const int caught = IndexOf(log, "Signal handler caught a signal: SIGTERM");
  ASSERT_GE(caught, 0) << Joined(log);
  EXPECT_GT(IndexOf(log, "Program interrupted by user"), caught);
  EXPECT_EQ(log.back(), "<---");
  EXPECT_EQ(server_->SessionPolls(), 1);
}

}  // namespace
