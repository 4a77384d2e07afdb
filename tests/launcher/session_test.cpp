// The whole core in this process against the demo server, with real libcurl,
// real unzip, a private HOME and a client folder of its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "FakeUserInterface.h"
#include "File_Utils.h"
#include "LauncherTestSupport.h"
#include "SquidProxy.h"
#include "TempDir.h"
#include "UniqueFd.h"
#include "demo_server.h"

using namespace launchertest;
using testsupport::ReadFile;
using testsupport::WaitFor;
using testsupport::WriteFile;

// Rows name only the server options they change.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const std::vector<unsigned char> kBuiltBlock(ParameterBlock, ParameterBlock + kParameterBlockSize);
const std::string kCannotStartClient = EnglishText(TextId::CANNOT_START_CLIENT);

struct Scenario {
    std::string name;
    demo::Options server;  // port -1: no server
    fakeui::Script ui;
    std::vector<std::string> logged;  // line prefixes, '%' for the client file
    int polls;
    std::string role = "";  // launched with this role; empty: nothing launched
    std::string sent = "314159", items = "";
    std::vector<std::string> status = {};  // the status texts in order, when given
    std::int32_t pollWaitMs = 150, deadlineMs = 4000;
};

// clang-format off
const Scenario kScenarios[] = {
    {"client", {}, {}, {"Client RC Post: "}, 2, "client"},
    {"later ticket ignored", {.laterTicket = "T2", .pollsBeforeResult = 3, .mode = "3"}, {}, {}, 4, "operator"},
    {"typed code with blanks", {}, {.sessionCode = "12 34\t5"}, {}, 2, "client", "12%2034%095"},
    {"undecryptable assignment", {.script = "ABC"}, {}, {"Decrypt ERROR"}, 2, "client"},
    {"error reply", {.outcome = demo::Outcome::Error, .errorText = "Code 314159 is not valid"}, {},
     {"Server error returned: Code 314159 is not valid"}, 2, "", "314159", "",
     {"Connecting...", "Code 314159 is not valid"}, 300},
    {"tls(verify) over http", {}, {}, {"ERROR: This copy is misconfigured: tls(verify)"}, 0, "", "", "tls(verify)",
     {"Cannot verify the server"}},
    {"status window closed", {.outcome = demo::Outcome::Never}, {.closeStatusAfterMs = 300},
     {"Program interrupted by user"}, 1, "", "314159", "", {}, 20000},
    {"credentials cancelled", {.demandCredentials = true}, {}, {"Program interrupted by user"}, 1},
    {"unreachable server", {.port = -1}, {}, {"Error (4) - DownloadToBuffer()", "Connection timeout exceeded"}, 0,
     "", "314159", "", {}, 200, 1000},
    {"components page fails", {.componentsStatus = 500}, {}, {"Error (4) - PostToFile(\"%.zip\")"}, 2},
    {"package is no archive", {.brokenPackage = true}, {}, {"ERROR: %.zip is invalid zip file"}, 2, "", "314159", "",
     {"Connecting...", kCannotStartClient}},
    {"client name taken by another user", {}, {}, {"ERROR: % is not a file of this user", "Client folder: ~"}, 2,
     "client"},
    // Handed over but not started: the copy stays, and the customer is told.
    {"client not executable", {.clientMode = 0644}, {}, {"Cannot execute % - Error (13) - Permission denied"}, 2,
     "", "314159", "", {"Connecting...", kCannotStartClient}},
    {"no client in the package", {.remoteControlName = "Other"}, {}, {"Cannot execute % - Error (2)"}, 2, "",
     "314159", "", {"Connecting...", kCannotStartClient}},
};
// clang-format on

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& dir : {home_, clients_, bin_}) ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        setenv("HOME", home_.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");  // the private client folder is the one in HOME
        unsetenv("XDG_CACHE_HOME");
        // A stand-in unzip notes the package's mode and what it inherited (3 is ls's own).
        ASSERT_TRUE(WriteFile(bin_ + "/unzip",
                              "#!/bin/sh\necho $(stat -c %a \"$2\") $(ls /proc/self/fd) >>'" + unzipped_ +
                                  "'\nexec /usr/bin/unzip \"$@\"\n",
                              0755));
        // A stand-in gconftool-2 first on PATH counts the discoveries.
        ASSERT_TRUE(WriteFile(bin_ + "/gconftool-2", "#!/bin/sh\necho >>'" + discoveries_ + "'\n", 0755));
        setenv("PATH", (bin_ + ":" + path_).c_str(), 1);
        // argv[0] names a file that is not this executable: it and its zip must survive the removal step.
        for (const auto& file : {launcherPath_, launcherPath_ + ".zip"})
            ASSERT_TRUE(WriteFile(file, "mine", 0755));
    }
    void TearDown() override {
        // A launched client runs on its own; let it finish writing into our folder.
        WaitFor([&] { return CountPrefix(log_, "Successfully launched") == 0 || !ReadFile(marker_).empty(); },
                5000);
        setenv("PATH", path_.c_str(), 1);
        Tuning() = LauncherTuning{};
        std::copy(kBuiltBlock.begin(), kBuiltBlock.end(), ParameterBlock);
    }
    // The client in the first folder, or in the private one ('~').
    std::string ClientFile(bool inPrivate = false) const {
        return (inPrivate ? home_ + "/.cache/ZELsupportRC" : clients_) + "/ZELsupportRC_" + ac_;
    }
    // The first line starting so, '%' standing for the client, '~' for the private folder.
    std::string Logged(std::string line) const {
        if (line.find('%') != std::string::npos) line.replace(line.find('%'), 1, ClientFile());
        if (line.find('~') != std::string::npos)
            line.replace(line.find('~'), 1, home_ + "/.cache/ZELsupportRC");
        for (const auto& l : log_)
            if (l.rfind(line, 0) == 0) return l;
        return "";
    }

    testsupport::TempDir temp_{"sa-session"};
    std::string home_ = temp_ / "home", clients_ = temp_ / "clients", launcherPath_ = temp_ / "launcher",
                marker_ = temp_ / "client-ran", bin_ = temp_ / "bin", discoveries_ = temp_ / "discoveries",
                unzipped_ = temp_ / "unzipped", path_ = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin",
                ac_;
    std::vector<std::string> log_;
};

TEST_F(SessionTest, Scenarios) {
    ASSERT_EQ(MakePrivateFolder(home_ + "/.cache/ZELsupportRC"), 0);
    ASSERT_TRUE(WriteFile(home_ + "/.cache/ZELsupportRC/ZELsupportRC_1", "an earlier client"));
    for (const auto& s : kScenarios) {
        SCOPED_TRACE(s.name);
        const bool foreign = s.name == "client name taken by another user", launched = !s.role.empty();
        if (foreign && geteuid() != 0) continue;  // planting another user's file needs root
        // Plain words for the shell, also in unzip's arguments.
        ac_ = std::to_string(20000 + (&s - kScenarios)) + ";touch${IFS}pwned";
        if (foreign) {
            ASSERT_TRUE(WriteFile(ClientFile(), "someone else's", 0644));
            ASSERT_EQ(chown(ClientFile().c_str(), 65534, 65534), 0);
        }
        fakeui::Script ui = s.ui;
        ui.sessionCodeConfirmed = true;
        fakeui::Reset(ui);
        Tuning() = LauncherTuning{clients_, static_cast<std::uint64_t>(s.deadlineMs), s.pollWaitMs};
        demo::Options options = s.server;
        options.marker = marker_, options.print = false;
        const bool offline = options.port < 0;
        if (offline) options.port = testsupport::FreeTcpPort();
        demo::Server server(options);
        ASSERT_TRUE(offline || server.Start());

        unlink((home_ + "/ZEL/exe.log").c_str());
        for (const auto& file : {discoveries_, unzipped_, marker_}) unlink(file.c_str());
        const std::string url =
            offline ? "http://127.0.0.1:" + std::to_string(options.port) + "/velmoran/" : server.BaseUrl();
        WriteBlock("url(" + url + ")lang(de)owner(54213)code(" + (ui.sessionCode.empty() ? s.sent : "") +
                   ")ac(" + ac_ + ")title(T)" + s.items);
        EXPECT_EQ(LauncherMain(launcherPath_.c_str()), 0);
        int damaged = -1;
        log_ = ReadLog(home_ + "/ZEL/exe.log", damaged);
        EXPECT_EQ(damaged, 0);
        ASSERT_GE(log_.size(), 4u) << Joined(log_);
        EXPECT_EQ(log_[1], "Session Assignment ZEL_VERSION=1.1.0.88 buildId=20100216100911");
        EXPECT_TRUE(&s != kScenarios || Logged("Removed 1 entries an earlier run left in ~") != "");
        EXPECT_EQ(log_.back(), "<---");
        EXPECT_EQ(fakeui::Count("Close"), 1);
        EXPECT_EQ(fakeui::Count("AskSessionCode"), ui.sessionCode.empty() ? 0 : 1);
        EXPECT_EQ(ReadFile(launcherPath_) + ReadFile(launcherPath_ + ".zip"), "minemine");
        for (const auto& line : s.logged) EXPECT_NE(Logged(line), "") << line << "\n" << Joined(log_);
        EXPECT_TRUE(s.status.empty() || fakeui::With("SetStatusText:") == s.status);
        const bool kept = !s.items.empty() || (!s.status.empty() && s.status.back() == kCannotStartClient);
        EXPECT_EQ(KeepCopy, kept)
            << "a misconfigured copy and one whose client did not start keep their files";
        const std::string client = ClientFile(foreign);
        EXPECT_EQ(Logged("Successfully launched RC client [" + client + "]") != "", launched) << Joined(log_);
        EXPECT_EQ(ClientStarted, launched);
        // Only 0, 1 and 2 reach unzip and the client; the package is written 0644, the client runs 0755.
        EXPECT_TRUE(
            !launched ||
            WaitFor([&] { return ReadFile(marker_).find("descriptors:") != std::string::npos; }, 5000));
        if (launched) {
            const std::string ran = ReadFile(marker_);
            EXPECT_EQ(ran.rfind("client ran: " + client + " pid ", 0), 0u) << ran;
            EXPECT_NE(ran.find("\ndescriptors: 0 1 2 3\n"), std::string::npos) << ran;
            EXPECT_EQ(ReadFile(unzipped_), "644 0 1 2 3\n");
            struct stat st {};
            EXPECT_TRUE(stat(client.c_str(), &st) == 0 && (st.st_mode & 0777) == 0755)
                << std::oct << st.st_mode;
        }
        EXPECT_TRUE(!foreign || ReadFile(ClientFile()) == "someone else's");
        for (const auto& dir : {temp_.path(), clients_}) EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);
        if (offline) {
            EXPECT_EQ(CountPrefix(log_, "Error (4) - DownloadToBuffer()"),
                      CountPrefix(log_, "Session URL: "));
            continue;
        }
        EXPECT_EQ(server.SessionPolls(), s.polls);
        const auto requests = server.Requests();
        for (int i = 0; i < s.polls; ++i)
            EXPECT_EQ(requests[i].target.substr(0, requests[i].target.rfind('&')),
                      "/velmoran/interfaces/web/isd/session.asp?t=" + std::string(i ? "T1" : "") +
                          "&c=" + s.sent + "&o=54213&l=de");
        const auto posts = server.ComponentRequests();
        EXPECT_EQ(posts.size(), launched || s.logged[0].find('%') != std::string::npos ? 1u : 0u);
        if (launched) {
            EXPECT_EQ(ReadFile(discoveries_), "\n") << "one discovery per run, not one per transfer";
            ASSERT_EQ(posts.size(), 1u);
            EXPECT_TRUE(posts[0].problems.empty()) << posts[0].problems.front();
            ASSERT_EQ(posts[0].form.size(), 9u);  // no proxy items without credentials
            EXPECT_EQ(posts[0].form[2].second + posts[0].form[3].second,
                      s.role + (s.server.script.empty() ? "4711" : ""));
            EXPECT_NE(access((ClientFile() + ".zip").c_str(), F_OK), 0) << "the package is removed";
            // Nothing is deleted for an argv[0] that is not this program; said so unless the code was typed.
            EXPECT_EQ(Logged("Cannot autoremove Session Assignment binary \"" + launcherPath_ +
                             "\": Error (2) - No such file or directory") != "",
                      ui.sessionCode.empty());
        }
    }
}

// A network of this process alone (root only), where nothing leaves the
// machine: only lo, and a name service that asks 127.0.0.1 alone. With
// route, lo is up with a default route over it: names are asked for, and
// nobody answers them.
bool PrivateNetwork(const std::string& folder, bool route) {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
        mount("", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    for (const auto& [file, text] :
         {std::pair<std::string, std::string>{"/etc/resolv.conf", "nameserver 127.0.0.1\n"},
          {"/etc/nsswitch.conf", "hosts: files dns\n"}}) {
        const std::string own = folder + file.substr(4);
        if (!WriteFile(own, text) || mount(own.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
    }
    const UniqueFd s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    rtentry everywhere{};
    everywhere.rt_dst.sa_family = everywhere.rt_genmask.sa_family = AF_INET;
    everywhere.rt_flags = RTF_UP;
    everywhere.rt_dev = lo.ifr_name;
    return !route || (ioctl(s.get(), SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP) &&
                      ioctl(s.get(), SIOCSIFFLAGS, &lo) == 0 && ioctl(s.get(), SIOCADDRT, &everywhere) == 0);
}

// A listening socket on 127.0.0.1 that never accepts. full: its one place in
// the queue taken, so a connection is not even answered (a dropped SYN).
void Listen(UniqueFd& listener, UniqueFd& filler, bool full, int& port) {
    listener.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), len);
    listen(listener.get(), full ? 0 : 16);
    getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    if (!full) return;
    filler.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    connect(filler.get(), reinterpret_cast<sockaddr*>(&addr), len);
    usleep(100000);  // its handshake done: the queue is full
}

// Why the polls failed, as the customer reads it while the launcher tries
// again and under the time-out: one session for each kind of failure,
// through the fake user interface, and polling goes on after each failure.
TEST_F(SessionTest, FailedPollsSayWhyWhilePollingGoesOn) {
    enum class Server { CLOSED, SILENT, STATUS, NAMED };
    enum class Proxy { NONE, CLOSED, SILENT, SQUID };
    // network: 0 this machine's; 1 a private one with only lo (down); 2 lo with a route, no name server.
    const struct {
        Server server;
        int status;
        Proxy proxy;
        int network;
        std::string reason, code;
    } rows[] = {
        {Server::CLOSED, 0, Proxy::NONE, 0, "Connection refused", "E-REFUSED"},
        {Server::SILENT, 0, Proxy::NONE, 0, "Connection timed out", "E-TIMEOUT"},
        {Server::STATUS, 403, Proxy::NONE, 0, "The server reports an error", "E-HTTP-403"},
        {Server::STATUS, 404, Proxy::NONE, 0, "The server reports an error", "E-HTTP-404"},
        {Server::STATUS, 500, Proxy::NONE, 0, "The server reports an error", "E-HTTP-500"},
        {Server::STATUS, 503, Proxy::NONE, 0, "The server reports an error", "E-HTTP-503"},
        {Server::STATUS, 200, Proxy::CLOSED, 0, "No connection through the proxy", "E-PROXY"},
        {Server::STATUS, 200, Proxy::SILENT, 0, "No connection through the proxy", "E-PROXY"},
        {Server::CLOSED, 0, Proxy::SQUID, 0, "The proxy cannot reach the server", "E-PROXY-503"},
        {Server::STATUS, 500, Proxy::SQUID, 0, "The server reports an error", "E-HTTP-500"},
        {Server::NAMED, 0, Proxy::NONE, 2, "Server name not found", "E-DNS"},
        {Server::NAMED, 0, Proxy::NONE, 1, "No network connection", "E-NET"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code + " through proxy " + std::to_string(static_cast<int>(row.proxy)));
        if ((row.network != 0 || row.proxy == Proxy::SQUID) && geteuid() != 0) continue;  // root's
        int port = testsupport::FreeTcpPort(), proxyPort = testsupport::FreeTcpPort();
        UniqueFd listener, filler;
        if (row.server == Server::SILENT || row.proxy == Proxy::SILENT)
            Listen(listener, filler, row.proxy == Proxy::SILENT,
                   row.proxy == Proxy::SILENT ? proxyPort : port);
        demo::Options options;
        options.sessionStatus = row.status, options.print = false;
        demo::Server server(options);
        ASSERT_TRUE(row.server != Server::STATUS || server.Start());
        const auto squid = row.proxy == Proxy::SQUID
                               ? testsupport::SquidProxy::Start(testsupport::SquidAuth::None)
                               : nullptr;
        ASSERT_TRUE(row.proxy != Proxy::SQUID || squid) << testsupport::SquidProxy::LastError();
        if (squid) proxyPort = squid->port();
        std::filesystem::remove_all(home_ + "/.mozilla");
        ASSERT_TRUE(row.proxy == Proxy::NONE ||
                    testsupport::WriteFirefoxProxyPrefs(home_, "127.0.0.1", proxyPort));
        const std::string url = row.server == Server::STATUS ? server.BaseUrl()
                                : row.server == Server::NAMED
                                    ? "http://support.invalid/velmoran/"
                                    : "http://127.0.0.1:" + std::to_string(port) + "/velmoran/";
        WriteBlock("url(" + url + ")lang(de)code(314159)ac(1)");
        Tuning() = LauncherTuning{clients_, 1000, 100, 300, 600};
        fakeui::Reset();
        unlink((home_ + "/ZEL/exe.log").c_str());

        std::vector<std::string> shown;
        if (row.network == 0) {
            LauncherMain(launcherPath_.c_str());
            shown = fakeui::With("SetStatusText:");
        } else {  // in a child of its own, which hands back what it showed
            int pipe[2];
            ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0);
            const pid_t child = fork();
            if (child == 0) {
                alarm(60);  // a hung session ends the child, and the read below
                std::string texts = "no private network";
                if (PrivateNetwork(temp_.path(), row.network == 2)) {
                    LauncherMain(launcherPath_.c_str()), texts.clear();
                    for (const auto& text : fakeui::With("SetStatusText:")) texts += text + '\x1e';
                }
                _exit(write(pipe[1], texts.data(), texts.size()) < 0);
            }
            close(pipe[1]);
            const UniqueFd from(pipe[0]);
            std::string texts;
            char buf[4096];
            for (ssize_t n; (n = read(from.get(), buf, sizeof buf)) > 0;) texts.append(buf, n);
            waitpid(child, nullptr, 0);
            for (std::size_t at = 0, end; (end = texts.find('\x1e', at)) != std::string::npos; at = end + 1)
                shown.push_back(texts.substr(at, end - at));
            ASSERT_FALSE(shown.empty()) << texts;
        }
        EXPECT_EQ(shown, (std::vector<std::string>{
                             "Connecting...", row.reason + " \u2014 trying again (" + row.code + ")",
                             "Connection timeout exceeded\n" + row.reason + " (" + row.code + ")"}));
        int damaged = -1;
        log_ = ReadLog(home_ + "/ZEL/exe.log", damaged);
        const int polls = CountPrefix(log_, "Session URL: ");
        EXPECT_GE(polls, 2) << Joined(log_);
        EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                                [&](const std::string& l) {
                                    return l.rfind("Error (", 0) == 0 && l.ends_with(": " + row.code);
                                }),
                  polls)
            << Joined(log_);
    }
}

// The last check before the start: our own regular file, group and others not writing, really executed.
TEST_F(SessionTest, ClientIsStartedOnlyWhenItIsOursAndExecutable) {
    LogInit("launch.log", false, true);
    // clang-format off
    const struct { unsigned mode; bool foreign; std::string logged; } cases[] = {
        {0644, false, "Cannot execute % - Error (13) - Permission denied"},
        {0755, true, "Cannot execute % - Error (1) - Operation not permitted"},
        {0777, false, "Successfully launched RC client [%]"}};  // last: a wrongly started one runs before it
    // clang-format on
    for (const auto& c : cases) {
        if (c.foreign && geteuid() != 0) continue;
        ac_ = std::to_string(c.mode) + c.logged[0];
        const std::string client = ClientFile();
        ASSERT_TRUE(WriteFile(client, "#!/bin/sh\necho ran >>'" + marker_ + "'\n", c.mode));
        ASSERT_TRUE(!c.foreign || chown(client.c_str(), 65534, 65534) == 0);
        LaunchClient(client);
        log_ = {ReadFile(home_ + "/ZEL/launch.log").substr(25)};
        EXPECT_NE(Logged(c.logged), "") << log_[0];
        unlink((home_ + "/ZEL/launch.log").c_str());
        struct stat st {};
        EXPECT_EQ(stat(client.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, c.mode == 0777 ? 0755 : c.mode);
    }
    EXPECT_TRUE(WaitFor([&] { return ReadFile(marker_) == "ran\n"; }, 5000)) << "only the sound one ran";
    LogInit("", false, true);
}

// The reader is held on the log's lock while the signals fill its pipe, and let go only once the
// stop has met the full pipe (its thread sleeps in a wait): the stop byte must still arrive.
TEST_F(SessionTest, SignalReaderStopsWithItsPipeFullOfPendingSignals) {
    LogInit("flood.log", false, true);
    LogWrite("flood");
    UniqueFd held(open((home_ + "/ZEL/flood.log").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(held.get(), LOCK_EX), 0);
    InstallSignalHandling();
    for (int i = 0; i < 100000; ++i) raise(SIGTERM);
    auto stopper = std::make_shared<std::atomic<pid_t>>(0);  // its thread, then -1 once stopped
    std::thread([=] { *stopper = gettid(), RemoveSignalHandling(), *stopper = -1; }).detach();
    const auto asleep = [&] {
        return *stopper > 0 &&
               ReadFile("/proc/self/task/" + std::to_string(*stopper) + "/stat").find(") S ") !=
                   std::string::npos;
    };
    EXPECT_TRUE(WaitFor(asleep, 10000));
    held.Reset();
    EXPECT_TRUE(WaitFor([&] { return *stopper == -1; }, 60000)) << "the stop byte was lost";
    LogInit("", false, true);
}

}  // namespace
