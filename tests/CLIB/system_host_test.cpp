#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <dirent.h>
#include <set>
#include <string>
#include <vector>

#include "HostIdentity.h"
#include "SessionManager.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "system_test_log.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(HostIdentity, AddressOfANonLoopbackInterfaceWithIPv4)
{
    // What the kernel reports through another road: interfaces with an IPv4
    // address, not loopback, and their address in /sys.
    std::set<std::string> expected;
    struct ifaddrs* list = nullptr;
    ASSERT_EQ(0, getifaddrs(&list));
    for (struct ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK))
            continue;
        std::string mac = ReadFile(std::string("/sys/class/net/") + a->ifa_name + "/address");
        while (!mac.empty() && isspace(static_cast<unsigned char>(mac.back())))
            mac.pop_back();
        if (!mac.empty())
            expected.insert(mac + ":");
    }
    freeifaddrs(list);

    char text[32];
    memset(text, '#', sizeof text);
    text[31] = 0;
    bool found = GetMacAddress(text);
    if (expected.empty()) {
        EXPECT_FALSE(found);
        EXPECT_EQ(std::string(31, '#'), text) << "buffer must stay as it was";
        return;
    }
    ASSERT_TRUE(found);
    ASSERT_EQ(18u, strlen(text));
    for (int i = 0; i < 18; ++i) {
        if (i % 3 == 2)
            EXPECT_EQ(':', text[i]);
        else
            EXPECT_TRUE(isdigit(text[i]) || (text[i] >= 'a' && text[i] <= 'f')) << text;
    }
    EXPECT_EQ(0, text[18]);
    EXPECT_EQ('#', text[19]) << "writes no more than 19 bytes";
    EXPECT_TRUE(expected.count(text)) << text;
}

namespace {

// A listening-style Unix socket at path, as a session manager leaves it.
void MakeSocket(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr));
    close(fd);
}

// A process number with no process behind it.
std::string DeadPid()
{
    for (int pid = 4194000; pid > 1000; --pid) {
        struct stat st;
        if (stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0 && kill(pid, 0) != 0)
            return std::to_string(pid);
    }
    return "999999999";
}

std::string Expected(const std::string& folder, const std::string& name)
{
    char host[257] = {};
    gethostname(host, 256);
    const std::string s = folder + name;
    return "local/" + std::string(host) + ":" + s + ",local/" + host + ":@" + s + ",unix/unix:" + s +
           ",local/unix:" + s;
}

std::string MyLogin()
{
    struct passwd* pw = getpwuid(getuid());
    return pw ? pw->pw_name : "";
}

class SessionManagerTest : public ::testing::Test {
protected:
    PlainLog log;
    TempDir dir{"ice"};
    std::string folder = dir.path() + "/";
    std::string user = "unchanged";
    std::string manager = "unchanged";
};

}  // namespace

TEST_F(SessionManagerTest, LiveSocketOfOurUserGivesFourAddresses)
{
    const std::string me = std::to_string(getpid());
    MakeSocket(dir / "x11");
    MakeSocket(dir / DeadPid());
    MakeSocket(dir / me);
    ASSERT_TRUE(FindSessionManager(user, manager, folder.c_str()));
    EXPECT_EQ(MyLogin(), user);
    EXPECT_EQ(Expected(folder, me), manager);
    size_t commas = 0;
    for (char c : manager)
        commas += c == ',';
    EXPECT_EQ(3u, commas);
}

TEST_F(SessionManagerTest, StaleForeignAndPlantedEntriesAreSkipped)
{
    const std::string me = std::to_string(getpid());
    MakeSocket(dir / DeadPid());
    MakeSocket(dir / "x11");
    ASSERT_TRUE(WriteFile(dir / "1", "a plain file, not a socket"));
    ASSERT_EQ(0, symlink((dir / "x11").c_str(), (dir / me).c_str()));
    EXPECT_FALSE(FindSessionManager(user, manager, folder.c_str()));
    EXPECT_EQ("unchanged", user);
    EXPECT_EQ("unchanged", manager);

    if (geteuid() != 0)
        return;
    // Another user's socket for a live process: not ours to join.
    ASSERT_EQ(0, unlink((dir / me).c_str()));
    MakeSocket(dir / me);
    ASSERT_EQ(0, lchown((dir / me).c_str(), 65534, 65534));
    EXPECT_FALSE(FindSessionManager(user, manager, folder.c_str()));
    EXPECT_EQ("unchanged", manager);
    EXPECT_EQ("", log.Text());
}

TEST_F(SessionManagerTest, TwoLiveSocketsGiveTheFirstListed)
{
    const std::string a = std::to_string(getpid());
    const std::string b = std::to_string(getppid());
    MakeSocket(dir / a);
    MakeSocket(dir / b);
    std::string first;
    DIR* d = opendir(folder.c_str());
    ASSERT_NE(nullptr, d);
    while (struct dirent* e = readdir(d)) {
        if (isdigit(static_cast<unsigned char>(e->d_name[0]))) {
            first = e->d_name;
            break;
        }
    }
    closedir(d);
    ASSERT_TRUE(FindSessionManager(user, manager, folder.c_str()));
    EXPECT_EQ(Expected(folder, first), manager);
}

TEST_F(SessionManagerTest, MissingFolderIsLogged)
{
    const std::string missing = dir / "none/";
    EXPECT_FALSE(FindSessionManager(user, manager, missing.c_str()));
    EXPECT_EQ("unchanged", manager);
    EXPECT_NE(std::string::npos, log.Text().find(" Unable to open folder [" + missing + "]: No such file or directory\r\n"))
        << log.Text();
}
