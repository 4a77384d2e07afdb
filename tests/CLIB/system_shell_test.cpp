#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "File_Utils.h"
#include "Subprocess.h"
#include "ChildProcess.h"
#include "CriticalSection.h"
#include "System_Utils.h"
#include "TempDir.h"

using testsupport::TempDir;

// Arguments reach the program as they are; what cannot be executed is an
// error number, not a shell's exit status; a bounded read ends a silent child.
TEST(ChildProcess, ArgumentVectorsExecFailuresAndBoundedReads) {
    TempDir dir;
    ASSERT_TRUE(testsupport::WriteFile(dir / "text", "not a program\n", 0755));
    ASSERT_TRUE(testsupport::WriteFile(dir / "locked", "#!/bin/sh\n", 0644));
    const struct {
        std::vector<std::string> argv;
        int error;
        std::string output;
    } cases[] = {
        {{"printf", "[%s]", "a b", "$(touch pwned); `touch pwned`"},
         0,
         "[a b][$(touch pwned); `touch pwned`]"},
        {{dir / "text"}, ENOEXEC, ""},
        {{dir / "locked"}, EACCES, ""},
        {{dir / "missing"}, ENOENT, ""},
        {{"no-such-program-here"}, ENOENT, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv[0]);
        ChildProcess child;
        const int error = child.Start(c.argv, {.captureOutput = true});
        std::string output;
        child.ReadOutput(output, TickCountMs() + 10000);
        EXPECT_EQ(c.output, output);
        const int status = child.Wait(TickCountMs() + 10000);
        if (error == 0 && c.error != 0) {
            // Where posix_spawn cannot say it (qemu-user), the status does.
            EXPECT_TRUE(ChildProcess::NotExecuted(status)) << status;
        } else {
            EXPECT_EQ(c.error, error);
            EXPECT_EQ(c.error == 0 ? 0 : -1, status);
        }
    }
    EXPECT_FALSE(FileExists(dir.path().c_str(), "pwned"));

    // Killed as a group: the program it started goes too.
    ChildProcess group;
    ASSERT_EQ(0, group.Start({"sh", "-c", "sleep 30 & echo $!; wait"},
                             {.captureOutput = true, .ownProcessGroup = true}));
    std::string pid;
    EXPECT_FALSE(group.ReadOutput(pid, TickCountMs() + 300));
    ASSERT_FALSE(pid.empty());
    group.Kill();
    EXPECT_TRUE(testsupport::WaitFor(
        [&] {
            const std::string stat =
                testsupport::ReadFile("/proc/" + pid.substr(0, pid.size() - 1) + "/stat");
            return stat.empty() || stat.find(") Z ") != std::string::npos;
        },
        5000));
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
