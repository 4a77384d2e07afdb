#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "File_Utils.h"
#include "Subprocess.h"
#include "System_Utils.h"
#include "TempDir.h"
#include "system_test_log.h"

using testsupport::ReadFile;
using testsupport::TempDir;

TEST(CallSystem, ExitStatusAndArgumentsJoinedWithSpaces) {
    PlainLog log;
    TempDir dir;
    const int status = CallSystem("false");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_EQ(0, CallSystem("exit 0 #", nullptr, nullptr, nullptr, nullptr, nullptr, "ignored"));
    EXPECT_EQ("", log.Text()) << "a failing command is not logged";

    const std::string out = dir / "words";
    // "b c" is not quoted: the shell splits it, so printf sees three words.
    ASSERT_EQ(0, CallSystem("printf '[%s]'", "a", "b c", nullptr, ">", out.c_str()));
    EXPECT_EQ("[a][b][c]", ReadFile(out));
    ASSERT_EQ(0, CallSystem(("printf '[%s]' >" + out).c_str(), "1", "2", "3", "4", "5", "6"));
    EXPECT_EQ("[1][2][3][4][5][6]", ReadFile(out));
    ASSERT_EQ(0, CallSystem(nullptr, "printf", "'[%s]'", ShellQuoteIfNeeded("").c_str(), ">", out.c_str()));
    EXPECT_EQ("[]", ReadFile(out));  // a quoted empty argument stays one word
}

TEST(ShellQuote, HostileNamesReachTheCommandAsOneWordAndRunNothing) {
    TempDir dir;
    const std::string hostile[] = {"x; touch pwned",
                                   "x && touch pwned",
                                   "$(touch pwned)",
                                   "`touch pwned`",
                                   "x | touch pwned",
                                   "it's; touch pwned",
                                   "x\ntouch pwned",
                                   "*",
                                   "a  b\tc",
                                   "'; touch pwned; '",
                                   "~root",
                                   "x > pwned",
                                   "$HOME",
                                   "x\\; touch pwned",
                                   "\"; touch pwned; \""};
    for (const std::string& name : hostile) {
        SCOPED_TRACE(name);
        const std::string path = dir / name;
        ASSERT_EQ(0, CallSystem("cd", ShellQuoteIfNeeded(dir.path()).c_str(), "&& touch",
                                ShellQuoteIfNeeded(name).c_str()));
        EXPECT_TRUE(IsFile(path.c_str()));
        EXPECT_FALSE(FileExists(dir.path().c_str(), "pwned"));
        ASSERT_EQ(0, unlink(path.c_str()));
    }
}

TEST(IsRoot, FollowsTheEffectiveUserId) {
    EXPECT_EQ(geteuid() == 0, IsRoot());
    if (geteuid() != 0) GTEST_SKIP() << "switching the effective user needs root";
    // Only the effective id is switched, in a child so this process stays root.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool asNobody = seteuid(65534) == 0 && !IsRoot();
        _exit(asNobody && seteuid(0) == 0 && IsRoot() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
