#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "SessionManager.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "UniqueFd.h"
#include "system_test_log.h"

using testsupport::TempDir;

namespace {

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
    ASSERT_TRUE(testsupport::WriteFile(dir / "1", "a plain file, not a socket"));
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
