// Child processes, unzip and the session manager's socket, each with a private HOME and log where it logs.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "CriticalSection.h"
#include "File_Utils.h"
#include "Log.h"
#include "SessionManager.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "UniqueFd.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A private HOME with a plain log for the duration of a test.
struct PlainLog {
    TempDir home{"sa-log"};
    PlainLog() { setenv("HOME", home.path().c_str(), 1), LogInit("system-test.log", false, true); }
    ~PlainLog() { LogInit("", false, true); }
    std::string Text() const { return ReadFile(home / "ZEL/system-test.log"); }
};

// Arguments reach the program as they are; what cannot be executed is an
// error number, not a shell's exit status; a bounded read ends a silent child.
TEST(ChildProcess, ArgumentVectorsExecFailuresAndBoundedReads) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "text", "not a program\n", 0755));
    ASSERT_TRUE(WriteFile(dir / "locked", "#!/bin/sh\n", 0644));
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
                const std::string st = ReadFile(stat);
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

// A real archive made by the zip command is unpacked over what is there and
// kept private; a broken one is said so.
TEST(FileTests, UnzipReplacesAndRefuses) {
    PlainLog log;
    TempDir src, out;
    const std::string archive = out / "RC_1234.zip", target = out / "RC_1234",
                      client = "#!/bin/sh\necho new\n";
    ASSERT_TRUE(WriteFile(src / "client", client, 0755));
    const auto made =
        testsupport::Run({"sh", "-c", "cd \"$1\" && zip -q \"$2\" client", "sh", src.path(), archive}, 20000);
    ASSERT_EQ(0, made.exitCode) << made.output;
    ASSERT_EQ(0, chmod(archive.c_str(), 0600));
    ASSERT_EQ(0, mkdir(target.c_str(), 0700));
    ASSERT_TRUE(WriteFile(target + "/client", "old old old old old old old\n"));
    ASSERT_TRUE(WriteFile(target + "/keep", "mine"));
    ASSERT_TRUE(Unzip(archive.c_str(), target.c_str()));
    EXPECT_EQ(client + "mine", ReadFile(target + "/client") + ReadFile(target + "/keep"));
    struct stat st;
    ASSERT_EQ(0, stat(archive.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "the archive must not be opened up to others";

    const std::string broken = out / "broken.zip";
    ASSERT_TRUE(WriteFile(broken, std::string("PK\3\4", 4) + std::string(100, '\xff')));
    EXPECT_FALSE(Unzip(broken.c_str(), target.c_str()));
    EXPECT_NE(log.Text().find(" ERROR: Unzipping Failed! " + broken + " into " + target + "\r\n"),
              std::string::npos)
        << log.Text();
}

// A Unix socket at path, as a session manager leaves it.
void MakeSocket(const std::string& path) {
    const UniqueFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(0, bind(fd.get(), reinterpret_cast<struct sockaddr*>(&addr), sizeof addr));
}

// A process number with no process behind it.
std::string DeadPid() {
    for (int pid = 4194000; pid > 1000; --pid)
        if (kill(pid, 0) != 0 && access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0)
            return std::to_string(pid);
    return "999999999";
}

std::string Expected(const std::string& folder, const std::string& name) {
    char host[257] = {};
    gethostname(host, 256);
    const std::string s = folder + name;
    return "local/" + std::string(host) + ":" + s + ",local/" + host + ":@" + s + ",unix/unix:" + s +
           ",local/unix:" + s;
}

}  // namespace

TEST(SessionManager, OnlyALiveSocketOfOurUserIsTaken) {
    PlainLog log;
    TempDir dir{"ice"};
    const std::string folder = dir.path() + "/", me = std::to_string(getpid());
    std::string user = "unchanged", manager = "unchanged";
    MakeSocket(dir / DeadPid());
    MakeSocket(dir / "x11");
    ASSERT_TRUE(WriteFile(dir / "1", "a plain file, not a socket"));
    ASSERT_EQ(0, symlink((dir / "x11").c_str(), (dir / me).c_str()));
    EXPECT_FALSE(FindSessionManager(user, manager, folder.c_str()));
    ASSERT_EQ(0, unlink((dir / me).c_str()));
    MakeSocket(dir / me);
    if (geteuid() == 0) {
        // Another user's socket for a live process: not ours to join.
        ASSERT_EQ(0, lchown((dir / me).c_str(), 65534, 65534));
        EXPECT_FALSE(FindSessionManager(user, manager, folder.c_str()));
        ASSERT_EQ(0, lchown((dir / me).c_str(), geteuid(), getegid()));
    }
    EXPECT_EQ(user + manager, "unchangedunchanged");
    ASSERT_TRUE(FindSessionManager(user, manager, folder.c_str()));
    EXPECT_EQ(getpwuid(getuid())->pw_name, user);
    EXPECT_EQ(Expected(folder, me), manager);
    EXPECT_EQ("", log.Text());
}
