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

TEST(CallSystem, ExitStatusAndNoLogForFailingCommand)
{
    PlainLog log;
    EXPECT_EQ(0, CallSystem("true"));
    int status = CallSystem("false");
    EXPECT_NE(0, status);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_EQ(0, CallSystem("exit 0 #", nullptr, nullptr, nullptr, nullptr, nullptr, "ignored"));
    EXPECT_EQ("", log.Text());
}

TEST(CallSystem, ArgumentsAreJoinedWithSpacesAndSplitByTheShell)
{
    TempDir dir;
    const std::string out = dir / "words";
    // "b c" is not quoted: the shell splits it, so printf sees three words.
    ASSERT_EQ(0, CallSystem("printf '[%s]'", "a", "b c", nullptr, ">", out.c_str()));
    EXPECT_EQ("[a][b][c]", ReadFile(out));
    const std::string six = "printf '[%s]' >" + out + "6";
    ASSERT_EQ(0, CallSystem(six.c_str(), "1", "2", "3", "4", "5", "6"));
    EXPECT_EQ("[1][2][3][4][5][6]", ReadFile(out + "6"));
    ASSERT_EQ(0, CallSystem(nullptr, "printf", "x", ">", out.c_str()));
    EXPECT_EQ("x", ReadFile(out));
}

TEST(ShellQuote, OrdinaryPathsKeepTheirForm)
{
    for (const char* plain : {"/tmp/RC_1234.zip", "/tmp/RC_1234", "a-b_c.d+e,f:g@h%i", "/home/user/Desktop/x.bin"})
        EXPECT_EQ(plain, ShellQuoteIfNeeded(plain));
    EXPECT_EQ("''", ShellQuoteIfNeeded(""));
    EXPECT_EQ("'a b'", ShellQuoteIfNeeded("a b"));
    EXPECT_EQ("'it'\\''s'", ShellQuoteIfNeeded("it's"));
}

TEST(ShellQuote, HostileNamesReachTheCommandAsOneWordAndRunNothing)
{
    TempDir dir;
    const std::string hostile[] = {
        "x; touch pwned",   "x && touch pwned", "$(touch pwned)", "`touch pwned`", "x | touch pwned",
        "it's; touch pwned", "x\ntouch pwned",   "*",              "a  b\tc",        "'; touch pwned; '",
        "~root",            "x > pwned",        "$HOME",          "x\\; touch pwned", "\"; touch pwned; \""};
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

TEST(IsRoot, FollowsTheEffectiveUserId)
{
    EXPECT_EQ(geteuid() == 0, IsRoot());
    if (geteuid() != 0)
        GTEST_SKIP() << "switching the effective user needs root";
    // Only the effective id is switched, in a child so this process stays root.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (seteuid(65534) != 0)
            _exit(2);
        int code = IsRoot() ? 1 : 0;
        if (seteuid(0) != 0)
            _exit(3);
        _exit(IsRoot() ? code : 4);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}
