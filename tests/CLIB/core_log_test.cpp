#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "Crypto.h"
#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t pos = 0, end;
    for (; (end = content.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(content.substr(pos, end - pos));
    if (pos < content.size()) lines.push_back(content.substr(pos));
    return lines;
}

// A line is "<24-character time> <cipher><32-digit hash>".
std::string Hash(const std::string& line) { return line.substr(line.size() - 32); }
std::string Cipher(const std::string& line) { return line.substr(25, line.size() - 57); }

class CoreLog : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("HOME", home.path().c_str(), 1);
        LogInit("exe.log", true, true);
    }
    void TearDown() override { LogInit("", false, true); }
    std::string Folder() const { return home.path() + "/ZEL"; }
    std::string LogPath() const { return Folder() + "/exe.log"; }
    // Reads the log back; returns the report and the number of damaged lines.
    std::string Verify(int& damaged) {
        const std::string report = home.path() + "/report.txt";
        EXPECT_TRUE(LogVerify(LogPath().c_str(), report.c_str(), true, &damaged));
        return ReadFile(report);
    }
    testsupport::TempDir home;
};

TEST_F(CoreLog, EncryptedLinesLayoutChainAndPrivacy) {
    LogWrite("first %s %d", "line", 1);
    LogWrite("same");
    LogWrite("same");
    const std::vector<std::string> lines = SplitLines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 3u);
    const char* messages[] = {"first line 1", "same", "same"};
    std::string previous, expectedReport;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(Hash(lines[i]), Md5HexUpper((std::string(messages[i]) + "\r\n").c_str(), previous.c_str()));
        previous = Hash(lines[i]);
        expectedReport += lines[i].substr(0, 24) + " " + messages[i] + "\r\n";
    }
    EXPECT_NE(Cipher(lines[1]), Cipher(lines[2])) << "the salt must differ";

    struct stat folder, file;
    ASSERT_EQ(stat(Folder().c_str(), &folder) + stat(LogPath().c_str(), &file), 0);
    EXPECT_EQ((folder.st_mode & 0777) * 01000 + (file.st_mode & 0777), 0700600u) << "private folder and file";

    int damaged = -1;
    EXPECT_EQ(Verify(damaged), expectedReport + "\r\n\r\n");
    EXPECT_EQ(damaged, 0);
}

TEST_F(CoreLog, ExistingFileIsContinuedUpToTheSizeLimit) {
    ASSERT_EQ(mkdir(Folder().c_str(), 0700), 0);
    ASSERT_TRUE(WriteFile(LogPath(), std::string(2000000, 'x'), 0600));
    LogWrite("kept");
    EXPECT_EQ(ReadFile(LogPath()).find("\r\n"), 2000000u + 24 + 1 + 64 + 32) << "appended to";

    ASSERT_TRUE(WriteFile(LogPath(), std::string(2000001, 'x'), 0600));
    LogWrite("fresh");
    const std::vector<std::string> lines = SplitLines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 1u) << "the file must start afresh";
    EXPECT_EQ(Hash(lines[0]), Md5HexUpper("fresh\r\n"));
}

TEST_F(CoreLog, VerifyReportsDeletedDamagedAndForeignLines) {
    for (int i = 1; i <= 6; ++i) LogWrite("line %d", i);
    std::vector<std::string> lines = SplitLines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 6u);
    lines.erase(lines.begin() + 2);           // line 3 deleted: line 3 is now "line 4"
    lines[3].erase(lines[3].size() - 33, 1);  // odd number of cipher digits
    lines.push_back("no token here");         // foreign text
    std::string content;
    for (const auto& l : lines) content += l + "\r\n";
    ASSERT_TRUE(WriteFile(LogPath(), content, 0600));

    int damaged = -1;
    const std::string report = Verify(damaged);
    EXPECT_EQ(damaged, 3);
    EXPECT_NE(report.find(" line 6\r\n"), std::string::npos) << "reading goes on after damage";
    EXPECT_NE(report.find("\r\n\r\nError on data validation (line 3)\r\n"
                          "Error on data decryption (line 4)\r\n"
                          "Error possibly data lost (line 6)\r\n"),
              std::string::npos)
        << report;

    // Another user's link at the report's name does not receive the log.
    const std::string victim = home.path() + "/victim", planted = home.path() + "/planted.txt";
    ASSERT_TRUE(WriteFile(victim, "precious"));
    ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
    EXPECT_TRUE(LogVerify(LogPath().c_str(), planted.c_str(), false, &damaged));
    EXPECT_EQ(ReadFile(victim), "precious");
}

TEST_F(CoreLog, TwoProcessesChainEveryLine) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const int writer = child == 0 ? 1 : 0;
    for (int i = 0; i < 2000; ++i) LogWrite("%d:%d", writer, i);
    if (child == 0) _exit(0);
    int status = -1;
    ASSERT_TRUE(testsupport::WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 60000));
    ASSERT_TRUE(WIFEXITED(status));
    int damaged = -1;
    std::set<std::string> seen;
    const auto lines = SplitLines(Verify(damaged));
    for (const std::string& line : lines) seen.insert(line.substr(std::min<std::size_t>(25, line.size())));
    EXPECT_EQ(damaged, 0);
    EXPECT_EQ(lines.size(), 2u * 2000 + 2);  // the report ends in an empty line
    EXPECT_EQ(seen.size(), 2u * 2000 + 1) << "lines doubled or garbled";
}

}  // namespace
