// The whole core in this process against the demo server, with real libcurl,
// real unzip, a private HOME and a client folder of its own per test.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "Crypto.h"
#include "FakeUserInterface.h"
#include "LauncherTestSupport.h"
#include "SquidProxy.h"
#include "TempDir.h"
#include "demo_server.h"

using namespace launchertest;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitFor;

namespace {

const std::vector<unsigned char> kBuiltBlock(ParameterBlock, ParameterBlock + kParameterBlockSize);

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    home_ = temp_ / "home";
    clients_ = temp_ / "clients";
    ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(clients_.c_str(), 0700), 0);
    setenv("HOME", home_.c_str(), 1);
    Tuning() = LauncherTuning{clients_, 4000, 150};
    // Not this executable: must survive RemoveSelf.
    launcherPath_ = temp_ / "launcher";
    ASSERT_TRUE(testsupport::WriteFile(launcherPath_, "not the launcher", 0755));
    ASSERT_TRUE(testsupport::WriteFile(launcherPath_ + ".zip", "PK", 0644));
    marker_ = temp_ / "client-ran";
    ac_ = std::to_string(10000 + getpid() % 80000);
    fakeui::Reset();
  }

  void TearDown() override {
    // A launched client runs on its own; let it finish writing into our folder.
    if (CountPrefix(log_, "Successfully launched") > 0)
      WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000);
    Tuning() = LauncherTuning{};
    std::copy(kBuiltBlock.begin(), kBuiltBlock.end(), ParameterBlock);
  }

  demo::Options ServerOptions() {
    demo::Options options;
    options.marker = marker_;
    options.print = false;
    options.pollsBeforeResult = 1;
    return options;
  }

  void StartServer(const demo::Options& options) {
    server_ = std::make_unique<demo::Server>(options);
    ASSERT_TRUE(server_->Start());
  }

  std::string Block(const std::string& url, const std::string& code = "314159") {
    return "url(" + url + ")lang(de)owner(54213)code(" + code + ")ac(" + ac_ + ")title(T)";
  }

  // Runs the whole launcher; returns how long it took.
  std::chrono::milliseconds Run(const std::string& blockText, unsigned char autoRemove = 1) {
    WriteBlock(blockText, 1, autoRemove);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LauncherMain(launcherPath_.c_str()), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    log_ = ReadLog(home_ + "/ZEL/exe.log", damaged_);
    EXPECT_EQ(damaged_, 0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(took);
  }

  std::string ClientFile() const { return clients_ + "/ZELsupportRC_" + ac_; }

  // Frame every run shares: header lines, the interface closed exactly once
  // before the end, "<---" last, the unrelated file at argv[0] untouched.
  void ExpectFrame() {
    ASSERT_GE(log_.size(), 4u) << Joined(log_);
    EXPECT_EQ(log_[0], "--->");
    EXPECT_EQ(log_[1], "Session Assignment ZEL_VERSION=1.1.0.88 buildId=20100216100911");
    EXPECT_EQ(log_[2].rfind("buffer=[url(", 0), 0u);
    EXPECT_EQ(log_.back(), "<---");
    EXPECT_EQ(fakeui::Count("Close"), 1);
    const auto calls = fakeui::Calls();
    EXPECT_EQ(calls.front(), "Start");
    EXPECT_EQ(ReadFile(launcherPath_), "not the launcher");
    EXPECT_EQ(ReadFile(launcherPath_ + ".zip"), "PK");
  }

  bool Logged(const std::string& line) const { return IndexOf(log_, line) >= 0; }

  TempDir temp_{"sa-session"};
  std::string home_, clients_, launcherPath_, marker_, ac_;
  std::unique_ptr<demo::Server> server_;
  std::vector<std::string> log_;
  int damaged_ = -1;
};

TEST_F(SessionTest, AssignmentFetchesUnpacksAndLaunchesTheClient) {
  StartServer(ServerOptions());
  Run(Block(server_->BaseUrl()));
  ExpectFrame();

  // Polls: the first without a ticket, the second with the one handed out.
  const auto requests = server_->Requests();
  ASSERT_EQ(server_->SessionPolls(), 2);
  EXPECT_EQ(requests[0].query.at("t"), "");
  EXPECT_EQ(requests[1].query.at("t"), "T1");
  EXPECT_EQ(requests[0].query.at("c"), "314159");
  EXPECT_EQ(requests[0].query.at("o"), "54213");
  EXPECT_EQ(requests[0].query.at("l"), "de");

  const auto posts = server_->ComponentRequests();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_TRUE(posts[0].problems.empty()) << posts[0].problems.front();
  EXPECT_EQ(posts[0].form[0], (std::pair<std::string, std::string>("lUid", "lu-815")));
  EXPECT_EQ(posts[0].form[1].second, ac_);
  EXPECT_EQ(posts[0].form[2].second, "client");
  EXPECT_EQ(posts[0].form[3].second, "4711");
  EXPECT_EQ(posts[0].form[8].second, "54213");
  EXPECT_EQ(posts[0].form.size(), 9u);  // no proxy items without credentials

  const std::string url = server_->BaseUrl() + "components/linux/default.asp?t=T1";
  EXPECT_TRUE(Logged("Client RC: " + url)) << Joined(log_);
  EXPECT_TRUE(Logged("Client RC Post: " + posts[0].body));
  EXPECT_EQ(log_[log_.size() - 2], "Successfully launched RC client [" + ClientFile() + "]");
  EXPECT_EQ(CountPrefix(log_, "Session URL: " + server_->BaseUrl() + "interfaces/web/isd/session.asp?t=&c=314159&o=54213&l=de&"), 1);

  // The package is gone, the client is ours and not writable by others, and it ran.
  struct stat st {};
  EXPECT_NE(stat((ClientFile() + ".zip").c_str(), &st), 0);
  ASSERT_EQ(stat(ClientFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_TRUE(WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000));
  EXPECT_NE(ReadFile(marker_).find(ClientFile()), std::string::npos);

  // The file named by argv[0] is not the running executable: nothing deleted.
  EXPECT_TRUE(Logged("Cannot autoremove Session Assignment binary \"" + launcherPath_ +
                     "\": Error (2) - No such file or directory"));
  EXPECT_EQ(CountPrefix(log_, "Cannot autoremove Session Assignment ZIP file"), 0);

  EXPECT_EQ(fakeui::StatusTexts(), std::vector<std::string>{"Connecting..."});
}

TEST_F(SessionTest, OperatorRoleAndLaterTicketsIgnored) {
  auto options = ServerOptions();
  options.mode = "3";
  options.laterTicket = "T2";
  options.pollsBeforeResult = 3;
  StartServer(options);
  Run(Block(server_->BaseUrl()));
  ExpectFrame();
  const auto requests = server_->Requests();
  ASSERT_EQ(server_->SessionPolls(), 4);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(requests[i].query.at("t"), "T1") << i;
  const auto posts = server_->ComponentRequests();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].query.at("t"), "T1");
  EXPECT_EQ(posts[0].form[2].second, "operator");
  EXPECT_TRUE(posts[0].problems.empty());
  EXPECT_EQ(log_[log_.size() - 2], "Successfully launched RC client [" + ClientFile() + "]");
}

TEST_F(SessionTest, UndecryptableAssignmentStillRequestsTheClient) {
  auto options = ServerOptions();
  options.script = "ABC";  // odd number of digits
  StartServer(options);
  Run(Block(server_->BaseUrl()));
  ExpectFrame();
  EXPECT_TRUE(Logged("Decrypt ERROR"));
  const auto posts = server_->ComponentRequests();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].form[0].second, "");
  EXPECT_EQ(posts[0].form[2].second, "client");
  EXPECT_EQ(posts[0].form[3].second, "");
}

TEST_F(SessionTest, ErrorReplyIsShownAndNothingIsFetched) {
  auto options = ServerOptions();
  options.outcome = demo::Outcome::Error;
  options.errorText = "Code 314159 is not valid";
  StartServer(options);
  Tuning().pollWaitMs = 600;
  const auto took = Run(Block(server_->BaseUrl()));
  ExpectFrame();
  EXPECT_TRUE(Logged("Server error returned: Code 314159 is not valid"));
  EXPECT_EQ(fakeui::StatusTexts(), (std::vector<std::string>{"Connecting...", "Code 314159 is not valid"}));
  EXPECT_TRUE(server_->ComponentRequests().empty());
  EXPECT_EQ(CountPrefix(log_, "Successfully launched"), 0);
  EXPECT_EQ(CountPrefix(log_, "Connection timeout exceeded"), 0);
  // One wait between the polls, and the message stays up for one more.
  EXPECT_GE(took.count(), 1200);
}

TEST_F(SessionTest, ClosingTheStatusWindowEndsTheWaitAtOnce) {
  auto options = ServerOptions();
  options.outcome = demo::Outcome::Never;
  StartServer(options);
  Tuning().pollWaitMs = 20000;
  fakeui::Reset(fakeui::ClosingStatusAfter(300));
  const auto took = Run(Block(server_->BaseUrl()));
  ExpectFrame();
  EXPECT_LT(took.count(), 10000);
  EXPECT_TRUE(Logged("Program interrupted by user"));
  EXPECT_EQ(server_->SessionPolls(), 1);
  EXPECT_EQ(CountPrefix(log_, "Successfully launched"), 0);
  // The window ended first; the session thread closed the interface after it.
  const auto calls = fakeui::Calls();
  EXPECT_LT(std::find(calls.begin(), calls.end(), "StatusWindowEnded"),
            std::find(calls.begin(), calls.end(), "Close"));
}

TEST_F(SessionTest, SignalDuringTheWaitIsLoggedAndStopsTheSession) {
  auto options = ServerOptions();
  options.outcome = demo::Outcome::Never;
  StartServer(options);
  Tuning().pollWaitMs = 20000;
  std::thread interrupter([this] {
    WaitFor([this] { return server_->SessionPolls() >= 1; }, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(getpid(), SIGINT);
  });
  const auto took = Run(Block(server_->BaseUrl()));
  interrupter.join();
  ExpectFrame();
  EXPECT_LT(took.count(), 10000);
  const int caught = IndexOf(log_, "Signal handler caught a signal: SIGINT");
  const int interrupted = IndexOf(log_, "Program interrupted by user");
  ASSERT_GE(caught, 0) << Joined(log_);
  EXPECT_GT(interrupted, caught);

  // After the session a signal only logs; the process goes on.
  kill(getpid(), SIGTERM);
  InstallSignalHandling();
  kill(getpid(), SIGTERM);
  RemoveSignalHandling();
  int damaged = -1;
  const auto after = ReadLog(home_ + "/ZEL/exe.log", damaged);
  EXPECT_EQ(CountPrefix(after, "Signal handler caught a signal: SIGTERM"), 2);
}

TEST_F(SessionTest, UnreachableServerLogsEveryCycleAndTimesOut) {
  const int port = testsupport::FreeTcpPort();
  Tuning().sessionDeadlineMs = 1000;
  Tuning().pollWaitMs = 200;
  const auto took = Run(Block("http://127.0.0.1:" + std::to_string(port) + "/velmoran/"));
  ExpectFrame();
  const int polls = CountPrefix(log_, "Session URL: ");
  EXPECT_GE(polls, 2);
  EXPECT_EQ(CountPrefix(log_, "Error (4) - DownloadToBuffer()"), polls);
  EXPECT_TRUE(Logged("Connection timeout exceeded"));
  EXPECT_EQ(fakeui::StatusTexts().back(), "Connection timeout exceeded");
  EXPECT_EQ(CountPrefix(log_, "Program interrupted"), 0);
  EXPECT_LT(took.count(), 20000);
}

TEST_F(SessionTest, CancelledCredentialsEndWithoutAnotherPoll) {
  // A server demanding credentials gives the same return code a proxy does.
  auto options = ServerOptions();
  options.demandCredentials = true;
  StartServer(options);
  fakeui::Reset(fakeui::WithCredentials({std::nullopt}));
  const auto took = Run(Block(server_->BaseUrl()));
  ExpectFrame();
  ASSERT_EQ(fakeui::Count("AskProxyCredentials:demo realm"), 1) << ::testing::PrintToString(fakeui::Calls());
  EXPECT_TRUE(Logged("Program interrupted by user"));
  EXPECT_EQ(server_->SessionPolls(), 1);
  EXPECT_EQ(CountPrefix(log_, "Error ("), 0);
  EXPECT_TRUE(ProxyCredentials.empty());
  EXPECT_LT(took.count(), 3000);  // no wait after a cancel
}

TEST_F(SessionTest, ProxyCredentialsAreAskedAndUsedThroughARealProxy) {
  auto proxy = testsupport::SquidProxy::Start(testsupport::SquidAuth::Basic, "alice", "s3cret pw", "Demo Proxy");
  if (!proxy) GTEST_SKIP() << "no squid: " << testsupport::SquidProxy::LastError();
  ASSERT_TRUE(testsupport::WriteFirefoxProxyPrefs(home_, "127.0.0.1", proxy->port()));
  StartServer(ServerOptions());
  // A wrong password first: asked again, then the right one.
  fakeui::Reset(fakeui::WithCredentials({fakeui::Credentials{"alice", "wrong"}, fakeui::Credentials{"alice", "s3cret pw"}}));
  Run(Block(server_->BaseUrl()));
  ExpectFrame();

  std::vector<std::string> asked;
  for (const auto& call : fakeui::Calls())
    if (call.rfind("AskProxyCredentials:", 0) == 0) asked.push_back(call);
  ASSERT_EQ(asked.size(), 2u) << ::testing::PrintToString(fakeui::Calls());
  EXPECT_NE(asked[0].find("Demo Proxy"), std::string::npos) << asked[0];
  EXPECT_EQ(ProxyCredentials, "alice:s3cret pw");

  // The rejected attempts never reached the server; the ticket poll and the
  // assignment did, through the proxy.
  EXPECT_EQ(server_->SessionPolls(), 2);
  EXPECT_EQ(CountPrefix(log_, "Session URL: "), 4);
  const auto posts = server_->ComponentRequests();
  ASSERT_EQ(posts.size(), 1u);
  ASSERT_EQ(posts[0].form.size(), 11u);
  EXPECT_TRUE(posts[0].problems.empty());
  EXPECT_EQ(posts[0].form[9].first, "proxyserver");
  EXPECT_EQ(posts[0].decrypted.at("proxyserver"), "127.0.0.1:" + std::to_string(proxy->port()));
  EXPECT_EQ(posts[0].decrypted.at("proxyauth"), "alice:s3cret pw");
  EXPECT_EQ(log_[log_.size() - 2], "Successfully launched RC client [" + ClientFile() + "]");
  const std::string access = proxy->AccessLog();
  EXPECT_NE(access.find("alice"), std::string::npos) << access;
  EXPECT_NE(access.find("components/linux/default.asp"), std::string::npos);
}

TEST_F(SessionTest, FailedPostLaunchesNothing) {
  auto options = ServerOptions();
  options.componentsStatus = 500;
  StartServer(options);
  Run(Block(server_->BaseUrl()));
  ExpectFrame();
  EXPECT_TRUE(Logged("Error (4) - PostToFile(\"" + ClientFile() + ".zip\")")) << Joined(log_);
  EXPECT_EQ(CountPrefix(log_, "Successfully launched"), 0);
  EXPECT_EQ(CountPrefix(log_, "Cannot execute"), 0);
  EXPECT_FALSE(ClientReady);
  EXPECT_NE(access(ClientFile().c_str(), F_OK), 0);
}

TEST_F(SessionTest, FailedUnpackKeepsThePackageAndLaunchesNothing) {
  auto options = ServerOptions();
  options.brokenPackage = true;
  StartServer(options);
  Run(Block(server_->BaseUrl()));
  ExpectFrame();
  EXPECT_TRUE(Logged("ERROR: " + ClientFile() + ".zip is invalid zip file")) << Joined(log_);
  EXPECT_EQ(CountPrefix(log_, "Successfully launched"), 0);
  EXPECT_EQ(ReadFile(ClientFile() + ".zip"), "this is not an archive\n");
  EXPECT_NE(access(ClientFile().c_str(), F_OK), 0);
}

TEST_F(SessionTest, ClientNameHeldBySomeoneElseIsNotUnpackedOver) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a file of another user";
  ASSERT_TRUE(testsupport::WriteFile(ClientFile(), "someone else's", 0644));
  ASSERT_EQ(chown(ClientFile().c_str(), 65534, 65534), 0);
  StartServer(ServerOptions());
  Run(Block(server_->BaseUrl()));
  ExpectFrame();
  EXPECT_EQ(ReadFile(ClientFile()), "someone else's");
  EXPECT_EQ(CountPrefix(log_, "Successfully launched"), 0);
  EXPECT_EQ(CountPrefix(log_, "ERROR: " + ClientFile() + " is not a file of this user"), 1) << Joined(log_);
  EXPECT_TRUE(ReadFile(marker_).empty());
}

TEST_F(SessionTest, ShellCharactersInTheAccessNumberNeverBecomeCommands) {
  // The ac item names the package and the client; the shell must see both
  // as plain words, also when unzip unpacks and when the client starts.
  ac_ = "4242;touch${IFS}pwned";
  StartServer(ServerOptions());
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(temp_.path().c_str()), 0);
  Run(Block(server_->BaseUrl()));
  ASSERT_EQ(chdir(previous), 0);
  ExpectFrame();
  EXPECT_EQ(log_[log_.size() - 2], "Successfully launched RC client [" + ClientFile() + "]") << Joined(log_);
  EXPECT_TRUE(WaitFor([&] { return !ReadFile(marker_).empty(); }, 5000));
  EXPECT_NE(ReadFile(marker_).find(ClientFile()), std::string::npos);
  EXPECT_NE(access((temp_ / "pwned").c_str(), F_OK), 0);
  EXPECT_NE(access((clients_ + "/pwned").c_str(), F_OK), 0);
}

TEST_F(SessionTest, TypedCodeWithBlanksReachesTheServerEncoded) {
  StartServer(ServerOptions());
  fakeui::Reset(fakeui::WithCode("12 34\t5", true));
  Run(Block(server_->BaseUrl(), ""));
  ExpectFrame();
  EXPECT_EQ(fakeui::Count("AskSessionCode"), 1);
  ASSERT_GE(server_->SessionPolls(), 1);
  EXPECT_EQ(server_->Requests()[0].query.at("c"), "12%2034%095");
  EXPECT_EQ(log_[log_.size() - 2], "Successfully launched RC client [" + ClientFile() + "]");
  // The code had to be asked: the copy keeps its files and says nothing about them.
  EXPECT_EQ(CountPrefix(log_, "Cannot autoremove"), 0);
}

TEST_F(SessionTest, NoCodeMeansNoSessionButAnOrderlyEnd) {
  fakeui::Reset(fakeui::WithCode("", false));
  Run("url(http://127.0.0.1:9/)ac(" + ac_ + ")");
  ExpectFrame();
  EXPECT_TRUE(Logged("No session code inserted."));
  EXPECT_EQ(CountPrefix(log_, "Session URL"), 0);
  EXPECT_EQ(fakeui::Count("ShowStatusWindow"), 0);
  // The copy had to ask for its code: it keeps its files, nothing is logged.
  EXPECT_EQ(CountPrefix(log_, "Cannot autoremove"), 0);
  EXPECT_EQ(log_.size(), 5u) << Joined(log_);
}

}  // namespace
