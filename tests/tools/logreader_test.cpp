#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

// LOGREADER_COMMAND: '|'-separated words, possibly led by an emulator.
std::vector<std::string> Reader(std::vector<std::string> args = {}) {
  std::vector<std::string> argv;
  std::string command = LOGREADER_COMMAND, word;
  for (char c : command + "|") {
    if (c != '|') {
      word += c;
    } else if (!word.empty()) {
      argv.push_back(word);
      word.clear();
    }
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}



class LogReader : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("HOME", home.path().c_str(), 1);
    LogInit("exe.log", true, true);
    LogWrite("--->");
    LogWrite("Session code %s", "123456");
    LogWrite("<---");
    LogInit("", false, true);
    log = home.path() + "/ZEL/exe.log";
  }
  std::vector<std::string> Env() const { return {"HOME=" + home.path(), "TMPDIR=" + home.path()}; }
  testsupport::TempDir home;
  std::string log;
};

TEST_F(LogReader, PrintsTheLinesOfAnIntactLog) {
  const auto r = testsupport::Run(Reader({log}), 20000, Env());
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::size_t a = r.output.find(" --->\r\n");
  const std::size_t b = r.output.find(" Session code 123456\r\n");
  const std::size_t c = r.output.find(" <---\r\n");
  ASSERT_NE(a, std::string::npos) << r.output;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_EQ(r.output.find("Error"), std::string::npos);

  // Without an argument it reads the launcher's own log under $HOME.
  const auto d = testsupport::Run(Reader(), 20000, Env());
  EXPECT_EQ(d.exitCode, 0);
  EXPECT_EQ(d.output, r.output);
  // The temporary report is gone.
  EXPECT_EQ(testsupport::Run({"sh", "-c", "ls \"$TMPDIR\" | grep -c logreader"}, 5000, Env()).output, "0\n");
}

TEST_F(LogReader, FailsOnDamagedOrMissingLogs) {
  std::string content = testsupport::ReadFile(log);
  const std::size_t second = content.find("\r\n") + 2;
  content.erase(second, content.find("\r\n", second) + 2 - second); // delete line 2
  ASSERT_TRUE(testsupport::WriteFile(log, content, 0600));
  const auto r = testsupport::Run(Reader({log}), 20000, Env());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find(" --->\r\n"), std::string::npos);
  EXPECT_NE(r.output.find("Error on data validation (line 2)"), std::string::npos) << r.output;

  EXPECT_EQ(testsupport::Run(Reader({home.path() + "/nothing.log"}), 20000, Env()).exitCode, 2);
  EXPECT_EQ(testsupport::Run(Reader({"a", "b"}), 20000, Env()).exitCode, 2);
}

} // namespace
