#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "CriticalSection.h"
#include "File_Utils.h"
#include "Subprocess.h"
#include "TempDir.h"

// Arguments reach the program as they are; what cannot be executed is an
// error number, not a shell's exit status; a bounded read ends a silent child.
TEST(ChildProcess, ArgumentVectorsExecFailuresAndBoundedReads) {
    testsupport::TempDir dir;
    ASSERT_TRUE(testsupport::WriteFile(dir / "text", "not a program\n", 0755));
    ASSERT_TRUE(testsupport::WriteFile(dir / "locked", "#!/bin/sh\n", 0644));
    // clang-format off
    const struct {
        std::vector<std::string> argv;
        int error;
        std::string output;
    } cases[] = {
        {{"printf", "[%s]", "a b", "$(touch pwned); `touch pwned`"}, 0, "[a b][$(touch pwned); `touch pwned`]"},
        {{dir / "text"}, ENOEXEC, ""}, {{dir / "locked"}, EACCES, ""}, {{"no-such-program-here"}, ENOENT, ""},
        {{"sh", "-c", "sleep 30 & echo $!; wait"}, 0, ""},  // killed as a group: the program it started goes too
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv[0]);
        ChildProcess child;
        const bool group = c.argv[0] == "sh";
        const int error = child.Start(c.argv, {.captureOutput = true, .ownProcessGroup = group});
        std::string output;
        const bool ended = child.ReadOutput(output, TickCountMs() + (group ? 300 : 10000));
        if (group) {
            ASSERT_FALSE(ended || output.empty());
            child.Kill();
            const std::string stat = "/proc/" + output.substr(0, output.size() - 1) + "/stat";
            const auto gone = [&] {  // or a zombie
                const std::string st = testsupport::ReadFile(stat);
                return st.empty() || st.find(") Z ") != std::string::npos;
            };
            EXPECT_TRUE(testsupport::WaitFor(gone, 5000)) << "the program it started stays";
            continue;
        }
        EXPECT_EQ(c.output, output);
        const int status = child.Wait(TickCountMs() + 10000);
        if (error == 0 && c.error != 0) {
            EXPECT_TRUE(ChildProcess::NotExecuted(status))
                << status;  // where posix_spawn cannot say it (qemu-user)
        } else {
            EXPECT_EQ(c.error, error);
            EXPECT_EQ(c.error == 0 ? 0 : -1, status);
        }
    }
    EXPECT_FALSE(FileExists(dir.path().c_str(), "pwned"));
}
