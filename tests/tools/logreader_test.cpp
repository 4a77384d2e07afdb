#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

// Runs the reader (LOGREADER_COMMAND: '|'-separated words, maybe led by an emulator).
testsupport::RunResult Read(const std::string& home, const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    std::istringstream words(LOGREADER_COMMAND);
    for (std::string w; std::getline(words, w, '|');)
        if (!w.empty()) argv.push_back(w);
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::Run(argv, 20000, {"HOME=" + home, "TMPDIR=" + home});
}

// Without an argument it reads the launcher's own log under $HOME, and removes its report.
TEST(LogReader, PrintsIntactLogsAndFailsOnDamagedOrMissingOnes) {
    testsupport::TempDir home;
    const std::string log = home / "ZEL/exe.log";
    setenv("HOME", home.path().c_str(), 1);
    LogInit("exe.log", true, true);
    for (const char* line : {"--->", "Session code 123456", "<---"}) LogWrite("%s", line);
    LogInit("", false, true);
    const auto r = Read(home.path(), {log}), own = Read(home.path(), {});
    EXPECT_EQ(r.exitCode + own.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find(" --->\r\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" Session code 123456\r\n"), std::string::npos);
    EXPECT_EQ(r.output.find("Error"), std::string::npos);
    EXPECT_EQ(own.output, r.output);
    EXPECT_EQ(testsupport::Run({"sh", "-c", "ls \"$0\" | grep -c logreader", home.path()}, 5000).output,
              "0\n");

    std::string content = testsupport::ReadFile(log);
    const std::size_t second = content.find("\r\n") + 2;
    content.erase(second, content.find("\r\n", second) + 2 - second);  // delete line 2
    ASSERT_TRUE(testsupport::WriteFile(log, content, 0600));
    const auto damaged = Read(home.path(), {log});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_NE(damaged.output.find("Error on data validation (line 2)"), std::string::npos) << damaged.output;
    EXPECT_EQ(Read(home.path(), {home / "nothing.log"}).exitCode + Read(home.path(), {"a", "b"}).exitCode, 4);
}

}  // namespace
