// The personalised launcher as a customer runs it: one table of scenarios
// over one driver. A scenario says what the world holds (a desktop with a window
// manager, xsm, or none; a root: hand-made, Debian's, or under qemu; a proxy; the
// server's certificate; the copy's personalise options), what the user does, and
// what must be seen. The server is the demo server on loopback; outside a root the
// client folder is the real /tmp, so every run takes an access number of its own.

#include "XDisplay.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "LauncherTestSupport.h"
#include "MinimalRoot.h"
#include "NetTestSupport.h"
#include "SquidProxy.h"
#include "TempDir.h"
#include "demo_server.h"

using namespace launchertest;
using testsupport::ReadFile;
using testsupport::WaitFor;

namespace {

// Root: only the launcher and `libraries`. Debian11, Debian13: scripts/debian-cache's
// roots, with a display; a libcurl in `libraries` hides the other flavour. I386,
// Arm64: dist/'s launcher, headless, under qemu -L with Debian 11's libraries.
enum class World { Headless, Desktop, Xsm, Root, Debian11, Debian13, I386, Arm64 };
bool IsDebian(World w) { return w == World::Debian11 || w == World::Debian13; }
enum class Start { Direct, BareName, Link };
// Gnome: a Basic-auth squid set in GNOME's settings; Environment: an open squid in http_proxy;
// Tunnel: a proxy in the Firefox profile that relays the first tunnel to the server and every
// later one (the client request's) to another server with another key.
enum class Proxy { None, Gnome, Environment, Tunnel };
enum class Tls { None, SelfSigned, Trusted, AnotherHost, Expired, NotYetValid, NoCaStore };

// Window waits for a window and makes it the one the next steps act on;
// Xdo runs xdotool with these words ({w}: that window); Shows waits until
// xprop -notype reads these lines of the window's names (its icon name is its status).
enum class Op { Window, Type, Key, Click, Close, Polled, Signal, KillDisplay, Xdo, Shows };
struct Step {
    Op op;
    std::string text = "";
    int x = 0, y = 0;
};

struct Scenario {
    std::string name;
    // The world.
    World world = World::Headless;
    Proxy proxy = Proxy::None;
    std::string proxyLogin = "alice";  // the Basic login squid takes (Gnome), as bytes
    std::vector<std::string> libraries =
        {};  // a root's, besides the launcher's own; with libcurl also sh and unzip
    Tls tls = Tls::None;
    Start start = Start::Direct;
    const char* code = "271828";            // in the copy; "" asks for it
    std::vector<std::string> options = {};  // personalise's (*.pem: the test's certificates)
    std::string lang = "en";
    demo::Outcome outcome = demo::Outcome::Assignment;
    int sessionStatus = 200;  // how the server answers polls
    int pollsBeforeResult = 0;
    unsigned clientMode = 0777;
    std::vector<std::pair<std::string, std::string>> mounts = {};  // a root's tmpfs folders and their options
    std::vector<std::string> env = {};
    // What the user does.
    std::vector<Step> steps = {};
    // What must be seen. log: lines starting so, in this order; "!text": no such line.
    std::vector<std::string> log = {};
    std::string output = "";                 // the launcher says this and writes no log
    bool ran = false;                        // the client was launched (from /tmp unless the log says)
    int kept = -1;                           // the copy is still there (-1: either)
    int polls = -1;                          // session polls the server saw (-1: any; 0: no request at all)
    std::vector<std::string> proxyLog = {};  // "!text": not in it
};

const Step kStatus{Op::Window, "Connection Status"};
const std::vector<std::string> kBareDesktop = {"libcrypto.so.3", "libcurl.so.4"};
const std::string kCannotStart = "Status: The support program cannot be started on this computer";
const Step kPolled{Op::Polled};
const std::string kInterrupted = "Program interrupted by user";
const std::string kUnverified = "WARNING: server certificate not verified";

// Under qemu /proc/self/exe is qemu: the copy cannot tell it is the running program and stays.
Scenario Trusts(std::string name, Tls tls, std::vector<std::string> options, bool unverified = false,
                World world = World::Debian13) {
    return {.name = name,
            .world = world,
            .tls = tls,
            .options = options,
            .log = {"libcurl: {curl}", (unverified ? "" : "!") + kUnverified},
            .ran = true,
            .kept = world == World::Arm64 ? -1 : 0};
}

// A login typed in UTF-8 goes out in Latin-1 when it fits (as before), else
// in UTF-8: squid, which holds it in those bytes, lets the session through.
Scenario LogsIn(std::string name, std::string login, std::string typed, bool beyondLatin1) {
    return {.name = name,
            .world = World::Desktop,
            .proxy = Proxy::Gnome,
            .proxyLogin = login,
            .steps = {{Op::Window, "Proxy Authentication"},
                      {Op::Type, typed},
                      {Op::Key, "Tab"},
                      {Op::Type, "wonder land"},
                      {Op::Key, "Return"}},
            .log = {(beyondLatin1 ? "" : "!") +
                        std::string("WARNING: the proxy login has characters beyond Latin-1"),
                    "!" + kInterrupted},
            .ran = true};
}

// One attempt, the reason, the notice; nothing reaches the server and the copy stays.
Scenario Refuses(std::string name, Tls tls, std::vector<std::string> options, std::string reason,
                 World world = World::Debian13) {
    return {.name = name,
            .world = world,
            .tls = tls,
            .options = options,
            .log = {"libcurl: {curl}", "!" + kUnverified, "Error (1) - DownloadToBuffer()",
                    "ERROR: Cannot verify the server: " + reason},
            .kept = 1,
            .polls = 0};
}

const Scenario kScenarios[] = {
    {.name = "HeadlessSessionRemovesTheCopy",
     .log = {"buffer=[url({url})lang(en)owner(54213)code(271828)ac({ac})]", "!Cannot autoremove",
             "!" + kUnverified},
     .ran = true,
     .kept = 0,
     .polls = 1},
    {.name = "BareNameLeavesTheNamesakeAlone",
     .start = Start::BareName,
     .options = {"--session-enabled", "0"},
     .log = {"No session code inserted.",
             "Cannot autoremove Session Assignment binary \"sa-launcher\": Error (2) - No such file or "
             "directory"},
     .kept = 1,
     .polls = 0},
    {.name = "ThroughALinkKeepsTheTarget",
     .start = Start::Link,
     .options = {"--session-enabled", "0"},
     .log = {"Cannot autoremove Session Assignment binary \"{temp}/work/link\": it is a symbolic link, not "
             "this program"},
     .kept = 1,
     .polls = 0},
    {.name = "SigtermEndsTheWait",
     .options = {"--auto-remove", "0"},
     .outcome = demo::Outcome::Never,
     .steps = {kPolled, {Op::Signal, "", SIGTERM}},
     .log = {"Signal handler caught a signal: SIGTERM", kInterrupted},
     .kept = 1,
     .polls = 1},
    // A client that did not start keeps the copy, and the customer is told.
    {.name = "ClientNotExecutableKeepsTheCopy",
     .clientMode = 0644,
     .log = {"Cannot execute /tmp/ZELsupportRC_{ac} - Error (13) - Permission denied", kCannotStart},
     .kept = 1},
    // Hardened desktops: /tmp noexec, or full (one page: the package fits, the client does not).
    {.name = "NoexecTmpRunsFromTheRuntimeFolder",
     .world = World::Root,
     .libraries = kBareDesktop,
     .mounts = {{"/tmp", "noexec"}, {"/run/user", "mode=0700"}},
     .env = {"XDG_RUNTIME_DIR=/run/user"},
     .log = {"Client folder /tmp passed over: programs may not run there (mounted noexec)",
             "Client folder: /run/user/ZELsupportRC",
             "Successfully launched RC client [/run/user/ZELsupportRC/ZELsupportRC_{ac}]"},
     .ran = true,
     .kept = 0},
    {.name = "NoFolderForProgramsKeepsTheCopy",
     .world = World::Root,
     .libraries = kBareDesktop,
     .mounts = {{"/tmp", "noexec"}, {"/home", "noexec"}},
     .log = {"Client folder /tmp passed over: programs may not run there",
             "Client folder /home/.cache/ZELsupportRC passed over: programs may not run there",
             "ERROR: The support program cannot be started on this computer: no folder",
             "!Client RC: ", kCannotStart},
     .kept = 1},
    {.name = "FullTmpKeepsTheCopy",
     .world = World::Root,
     .libraries = kBareDesktop,
     .mounts = {{"/tmp", "size=4k"}, {"/home", "noexec"}},
     .log = {"Client RC: ", "Client folder: /tmp",
             "Client folder /tmp passed over: no room to unpack the package", kCannotStart},
     .kept = 1},
    {.name = "StatusShownThenClientStarted",
     .world = World::Desktop,
     .pollsBeforeResult = 1,
     .steps = {kStatus},
     .ran = true,
     .kept = 0},
    {.name = "DisplayLostSessionGoesOnHeadless",
     .world = World::Desktop,
     .pollsBeforeResult = 1,
     .steps = {kStatus, kPolled, {Op::KillDisplay}},
     .log = {"ERROR: the connection to the X display is lost"},
     .ran = true,
     .kept = 0},
    // "Shutdown", then "Immediately" in its menu (places in xsm's window, font "fixed").
    {.name = "XsmShutsTheSessionDown",
     .world = World::Xsm,
     .outcome = demo::Outcome::Never,
     .steps = {kStatus,
               {Op::Window, "xsm: Default"},
               {Op::Xdo,
                "windowactivate --sync {w} mousemove --window {w} 140 36 mousedown 1 sleep 0.3 "
                "mousemove --window {w} 150 72 sleep 0.3 mouseup 1"}},
     .log = {"!Warning: While connecting to session manager"}},
    {.name = "CodeTypedReturnServerErrorShown",
     .world = World::Desktop,
     .code = "",
     .outcome = demo::Outcome::Error,
     .steps = {{Op::Window, "Enter code"}, {Op::Type, "314159"}, {Op::Key, "Return"}},
     .log = {"Server error returned: Session code unknown"},
     .polls = 1},
    {.name = "CodeTypedOkThenStatusClosed",
     .world = World::Desktop,
     .code = "",
     .outcome = demo::Outcome::Never,
     .steps = {{Op::Window, "Enter code"},
               {Op::Type, "161803"},
               {Op::Click, "", 292, 35},
               kStatus,
               kPolled,
               {Op::Close, "Connection Status"}},
     .log = {kInterrupted},
     .polls = 1},
    {.name = "CodeWindowClosedKeepsTheCopy",
     .world = World::Desktop,
     .code = "",
     .steps = {{Op::Window, "Enter code"}, {Op::Type, "999"}, {Op::Close, "Enter code"}},
     .log = {"No session code inserted."},
     .kept = 1,
     .polls = 0},
    // The window speaks the copy's language; the log stays English.
    {.name = "GermanOnScreenEnglishInTheLog",
     .world = World::Desktop,
     .lang = "de",
     .sessionStatus = 500,
     .steps = {{Op::Window, "Verbindungsstatus"},
               {Op::Shows,
                "_NET_WM_NAME = \"Verbindungsstatus\"\n_NET_WM_ICON_NAME = \"Der Server meldet "
                "einen Fehler \u2014 neuer Versuch (E-HTTP-500)\""},
               {Op::Close, "Verbindungsstatus"}},
     .log = {"Error (4) - DownloadToBuffer(): E-HTTP-500", kInterrupted},
     .kept = 0},
    {.name = "StatusCancelled",
     .world = World::Desktop,
     .outcome = demo::Outcome::Never,
     .steps = {kStatus, kPolled, {Op::Click, "", 285, 30}},
     .log = {kInterrupted},
     .polls = 1},
    {.name = "StatusClosed",
     .world = World::Desktop,
     .outcome = demo::Outcome::Never,
     .steps = {kStatus, kPolled, {Op::Close, "Connection Status"}},
     .log = {kInterrupted},
     .polls = 1},
    {.name = "SigintDuringTheWait",
     .world = World::Desktop,
     .outcome = demo::Outcome::Never,
     .steps = {kStatus, kPolled, {Op::Signal, "", SIGINT}},
     .log = {"Signal handler caught a signal: SIGINT", kInterrupted},
     .polls = 1},
    {.name = "ProxyCredentialsTyped",
     .world = World::Desktop,
     .proxy = Proxy::Gnome,
     .options = {"--auto-remove", "0"},
     .steps = {{Op::Window, "Proxy Authentication"},
               {Op::Type, "alice"},
               {Op::Key, "Tab"},
               {Op::Type, "wonder land"},
               {Op::Key, "Return"}},
     .log = {"Proxy: {proxy} (desktop proxy settings)", "!" + kInterrupted},
     .ran = true,
     .kept = 1,
     .proxyLog = {" alice "}},
    {.name = "ProxyCredentialsCancelled",
     .world = World::Desktop,
     .proxy = Proxy::Gnome,
     .steps = {{Op::Window, "Proxy Authentication"}, {Op::Click, "", 160, 205}},
     .log = {kInterrupted},
     .polls = 0},
    LogsIn("ProxyLoginInLatin1", "j\xfcrgen", "j\u00fcrgen", false),
    LogsIn("ProxyLoginBeyondLatin1", "\u0141ukasz", "\u0141ukasz", true),
    // Something typed, so a credentials window wrongly ending with OK would send it.
    {.name = "StatusClosedEndsTheCredentialsWindow",
     .world = World::Desktop,
     .proxy = Proxy::Gnome,
     .steps = {{Op::Window, "Proxy Authentication"},
               {Op::Type, "alice"},
               {Op::Key, "Tab"},
               {Op::Type, "wonder land"},
               {Op::Close, "Connection Status"}},
     .log = {kInterrupted},
     .polls = 0,
     .proxyLog = {"! alice "}},
    {.name = "RootWithoutCrypto",
     .world = World::Root,
     .output = "ERROR: libcrypto is missing (libcrypto.so.3, libcrypto.so.1.1): install",
     .kept = 1,
     .polls = 0},
    {.name = "Debian11Session", .world = World::Debian11, .ran = true, .kept = 0},
    {.name = "Debian13Session", .world = World::Debian13, .ran = true, .kept = 0},
    {.name = "I386Session", .world = World::I386, .ran = true},  // kept: see Trusts
    // A 32-bit time_t: the certificate's date past 2038 is still read as such.
    Refuses("I386CertificateFrom2040", Tls::NotYetValid, {}, "the server's certificate is not yet valid",
            World::I386),
    Trusts("Arm64PinnedSession", Tls::SelfSigned, {"--pin-from", "server.pem"}, false, World::Arm64),
    {.name = "DebianWithoutCurl",
     .world = World::Debian13,
     .libraries = {"libcrypto.so.3"},
     .log =
         {"ERROR: libcurl is missing (libcurl.so.4, libcurl-gnutls.so.4, libcurl-nss.so.4): install libcurl4 "
          "or libcurl3-gnutls (Debian/Ubuntu) or libcurl (Fedora/openSUSE)"},
     .kept = 1,
     .polls = 0},
    // No root has libproxy.
    {.name = "DebianEnvironmentProxy",
     .world = World::Debian13,
     .proxy = Proxy::Environment,
     .log =
         {"libcurl: libcurl.so.4",
          "[PS:LoadProxySettings] libproxy is missing (libproxy.so.1): only the proxy environment variables "
          "are read",
          "Proxy: {proxy} (proxy environment variables)"},
     .ran = true,
     .kept = 0,
     .proxyLog = {"components/linux/default.asp"}},
    // https copies verify unless told otherwise; each runs with either libcurl (AllScenarios).
    Refuses("SelfSignedVerified", Tls::SelfSigned, {}, "the server's certificate is from an unknown issuer"),
    Trusts("SelfSignedPinned", Tls::SelfSigned, {"--pin-from", "server.pem"}),
    Refuses("SelfSignedWrongPin", Tls::SelfSigned, {"--pin-from", "ca.pem"},
            "the server's public key matches none"),
    Trusts("SelfSignedBackupPin", Tls::SelfSigned, {"--pin-from", "ca.pem", "--pin-from", "server.pem"}),
    Trusts("SelfSignedInsecure", Tls::SelfSigned, {"--tls", "insecure"}, true),
    Trusts("Trusted", Tls::Trusted, {}),
    Refuses("AnotherHost", Tls::AnotherHost, {}, "the server's certificate is for another host name"),
    Refuses("Expired", Tls::Expired, {}, "the server's certificate has expired (valid until "),
    Refuses("NotYetValid", Tls::NotYetValid, {}, "the server's certificate is not yet valid (valid from "),
    // OpenSSL finds no store, GnuTLS an unknown issuer: either way at once.
    Refuses("NoCaStore", Tls::NoCaStore, {"--tls", "verify"}, ""),
    // The polls reach the server; a proxy answers the client request itself, with another key.
    {.name = "ClientRequestAnsweredByTheProxy",
     .world = World::Root,
     .proxy = Proxy::Tunnel,
     .tls = Tls::SelfSigned,
     .options = {"--pin-from", "server.pem"},
     .log = {"Proxy: {proxy} (Firefox profile)", "Client RC: ", "Error (1) - PostToFile(",
             "ERROR: Cannot verify the server: the server's public key matches none",
             "Status: Cannot verify the server"},
     .kept = 1,
     .polls = 1},
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

std::vector<Scenario> AllScenarios() {
    // Debian 13 rows that run in 11 too (libcurl 7.74, libcrypto 1.1): a pin taken, one refused, a date read.
    const std::set<std::string> inDebian11 = {"SelfSignedPinned", "SelfSignedWrongPin", "Expired"};
    std::vector<Scenario> all;
    for (const Scenario& s : kScenarios) {
        const bool tls = s.tls != Tls::None && (s.world == World::Debian13 || s.world == World::Root);
        if (!tls) all.push_back(s);
        for (const std::string variant : {"Openssl", "Gnutls", "OpensslDebian11", "GnutlsDebian11"}) {
            if (!tls || (variant.ends_with("11") && !inDebian11.count(s.name))) continue;
            all.push_back(s);
            all.back().name += variant;
            all.back().world = variant.ends_with("11") ? World::Debian11 : s.world;
            all.back().libraries = {"libcrypto.so.3",
                                    variant[0] == 'O' ? "libcurl.so.4" : "libcurl-gnutls.so.4"};
        }
    }
    return all;
}

class EndToEnd : public ::testing::TestWithParam<Scenario> {
protected:
    ~EndToEnd() override {
        launcher_.reset();
        unlink(("/tmp/ZELsupportRC_" + ac_).c_str());
        unlink(("/tmp/ZELsupportRC_" + ac_ + ".zip").c_str());
    }
    std::string Subst(std::string text) const {
        const std::pair<std::string, std::string> names[] = {
            {"{ac}", ac_},
            {"{url}", server_->BaseUrl()},
            {"{temp}", temp_.path()},
            {"{proxy}", proxy_    ? proxy_->address()
                        : tunnel_ ? "127.0.0.1:" + std::to_string(tunnel_->port())
                                  : ""},
            {"{curl}", GetParam().libraries.empty() ? "" : GetParam().libraries.back()}};
        for (const auto& [name, value] : names)
            for (auto at = text.find(name); at != std::string::npos; at = text.find(name))
                text.replace(at, name.size(), value);
        return text;
    }
    bool InDebian() const { return IsDebian(GetParam().world); }
    void Prepare();
    void Act();
    testsupport::RunResult RunInDebian();

    testsupport::TempDir temp_{"sa-e2e"};
    std::string ac_ = std::to_string(10000 + std::random_device{}() % 90000);
    std::string home_ = temp_ / "home", work_ = temp_ / "work", copy_, window_, lower_, arch_;
    std::vector<std::string> env_;
    std::unique_ptr<testsupport::XDisplay> x_;
    std::unique_ptr<testsupport::MinimalRoot> root_;
    std::unique_ptr<testsupport::SquidProxy> proxy_;
    std::unique_ptr<demo::Server> server_, rogue_;
    std::unique_ptr<testsupport::TunnelProxy> tunnel_;
    std::unique_ptr<testsupport::Process> xsm_, launcher_;
};

void EndToEnd::Prepare() {
    const Scenario& s = GetParam();
    ASSERT_EQ(mkdir(home_.c_str(), 0700) | mkdir(work_.c_str(), 0755) | mkdir((temp_ / "bin").c_str(), 0755),
              0);
    // Not the session manager of another test running beside this one.
    env_ = {"HOME=" + home_, "SESSION_MANAGER=local/none:@" + temp_ / "none", "DISPLAY="};
    if (s.world == World::Desktop || s.world == World::Xsm) {
        x_ = std::make_unique<testsupport::XDisplay>();
        ASSERT_TRUE(x_->ok()) << x_->error();
        env_.back() += x_->display();
    }
    if (s.world == World::Root) {
        if (geteuid() != 0) GTEST_SKIP() << testsupport::MinimalRoot::kNeedsRoot;
        root_ = std::make_unique<testsupport::MinimalRoot>();
        ASSERT_TRUE(root_->ok()) << root_->error();
        env_ = {"HOME=/home", "PATH=/usr/bin:/bin"};
        for (const auto& [inside, options] : s.mounts)
            ASSERT_TRUE(root_->Mount(inside, options)) << root_->error();
    }
    arch_ = s.world == World::I386 ? "-i386" : s.world == World::Arm64 ? "-arm64" : "";
    if (InDebian() || !arch_.empty()) {  // where scripts/debian-cache keeps the root, or why it has none
        if (InDebian() && (geteuid() != 0 || !std::string(SA_LAUNCHER).ends_with("/dist/launcher-x86_64")))
            GTEST_SKIP()
                << "needs root (chroot, mount) and the release copy, not a sanitizer tree's launcher";
        const std::string name = std::string("root-") + (s.world == World::Debian13 ? "13" : "11") + arch_;
        lower_ = testsupport::Run({SA_SOURCE_DIR "/scripts/debian-cache", "check", name}, 10000).output;
        ASSERT_EQ(lower_[0], '/') << lower_;
        lower_.pop_back();  // the newline
    }
    if (InDebian()) {
        x_ = std::make_unique<testsupport::XDisplay>(false);
        ASSERT_TRUE(x_->ok()) << x_->error();
        ASSERT_EQ(mkdir((home_ + "/user").c_str(), 0700), 0);
        env_ = {"HOME=/home/user", "PATH=/usr/bin:/bin", "DISPLAY=" + x_->display()};
    }
    env_.insert(env_.end(), s.env.begin(), s.env.end());
    if (s.proxy != Proxy::None && s.proxy != Proxy::Tunnel) {
        proxy_ = s.proxy == Proxy::Gnome
                     ? testsupport::SquidProxy::Start(testsupport::SquidAuth::Basic, s.proxyLogin,
                                                      "wonder land", "Velmoran Gateway")
                     : testsupport::SquidProxy::Start(testsupport::SquidAuth::None);
        ASSERT_TRUE(proxy_) << testsupport::SquidProxy::LastError();
    }
    if (s.proxy == Proxy::Environment) env_.push_back("http_proxy=http://" + proxy_->address());
    if (s.proxy == Proxy::Gnome) {  // as GNOME's settings panel sets it (gsettings, keyfile backend)
        env_.insert(env_.end(), {"GSETTINGS_BACKEND=keyfile", "XDG_CURRENT_DESKTOP=GNOME"});
        for (const std::string& set : std::vector<std::string>{
                 "org.gnome.system.proxy ignore-hosts []", "org.gnome.system.proxy.http host 127.0.0.1",
                 "org.gnome.system.proxy.http port " + std::to_string(proxy_->port()),
                 "org.gnome.system.proxy mode manual"}) {
            std::istringstream words(set);
            std::vector<std::string> argv = {"gsettings", "set"};
            for (std::string w; words >> w;) argv.push_back(w);
            const auto r = testsupport::Run(argv, 20000, env_);
            ASSERT_EQ(r.exitCode, 0) << r.output;
        }
    }

    demo::Options options;
    options.outcome = s.outcome;
    options.pollsBeforeResult = s.pollsBeforeResult;
    options.sessionStatus = s.sessionStatus;
    options.marker = root_ ? "/client-ran" : InDebian() ? "/tmp/client-ran" : temp_ / "client-ran";
    options.clientMode = s.clientMode;
    options.print = false;
    if (s.tls != Tls::None) {
        const auto ca = demo::MakeCertificate("test-ca.invalid", -1, 2, nullptr, true);
        const long from2040 = (2208988800L - time(nullptr)) / 86400 + 1;  // in days: not in a 32-bit time_t
        const auto served = demo::MakeCertificate(
            s.tls == Tls::AnotherHost ? "support.example.test" : "127.0.0.1",
            s.tls == Tls::NotYetValid ? from2040 : -2, s.tls == Tls::Expired ? -1 : 9000,
            s.tls == Tls::SelfSigned ? nullptr : &ca);
        ASSERT_TRUE(testsupport::WriteFile(temp_ / "ca.pem", ca.certPem));
        ASSERT_TRUE(testsupport::WriteFile(temp_ / "server.pem", served.certPem));
        options.certPem = served.certPem;
        options.keyPem = served.keyPem;
    }
    server_ = std::make_unique<demo::Server>(options);
    ASSERT_TRUE(server_->Start());
    if (s.proxy == Proxy::Tunnel) {
        const auto other = demo::MakeCertificate("127.0.0.1", -1, 2);
        options.certPem = other.certPem, options.keyPem = other.keyPem;
        rogue_ = std::make_unique<demo::Server>(options);
        ASSERT_TRUE(rogue_->Start());
        const int first = server_->port(), later = rogue_->port();
        tunnel_ = std::make_unique<testsupport::TunnelProxy>(
            [=](int n) { return testsupport::TunnelProxy::Route{n == 0 ? first : later}; });
        ASSERT_TRUE(testsupport::WriteFirefoxProxyPrefs(root_ ? root_->path() + "/home" : home_, "127.0.0.1",
                                                        tunnel_->port()));
    }

    const bool direct = s.start == Start::Direct;
    copy_ = InDebian() ? home_ + "/user/launcher" : temp_ / (direct ? "launcher" : "bin/sa-launcher");
    const std::string launcher = arch_.empty() ? SA_LAUNCHER : SA_SOURCE_DIR "/dist/launcher" + arch_;
    if (access(launcher.c_str(), F_OK) != 0)
        GTEST_SKIP() << launcher << " is missing: make release builds it";
    std::vector<std::string> argv = {SA_BINARY_DIR "/tools/personalise",
                                     launcher,
                                     copy_,
                                     "--url",
                                     server_->BaseUrl(),
                                     "--ac",
                                     ac_,
                                     "--owner",
                                     "54213",
                                     "--lang",
                                     s.lang};
    if (*s.code) argv.insert(argv.end(), {"--code", s.code});
    for (const auto& option : s.options) argv.push_back(option.ends_with(".pem") ? temp_ / option : option);
    const auto r = testsupport::Run(argv, 30000);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    if (root_) {
        ASSERT_TRUE(root_->Add(copy_, "/launcher")) << root_->error();
        for (const auto& library : s.libraries) ASSERT_TRUE(root_->AddLibrary(library)) << root_->error();
        for (const char* tool : {"/bin/sh", "/usr/bin/unzip"}) {
            ASSERT_TRUE(s.libraries.size() < 2 || root_->Add(tool)) << root_->error();
        }
        return;
    }
    if (InDebian()) return;
    // The package the copy came in, and a namesake in the working folder.
    ASSERT_TRUE(testsupport::WriteFile(copy_ + ".zip", "the delivery archive"));
    ASSERT_TRUE(testsupport::WriteFile(work_ + "/sa-launcher", "someone's notes"));
    if (s.world == World::Xsm) {
        // xsm writes ICE cookies only for the addresses it puts into SESSION_MANAGER.
        ASSERT_TRUE(testsupport::WriteFile(home_ + "/.xsmstartup", ""));
        xsm_ = testsupport::Process::Start({"xsm"}, env_);
        ASSERT_FALSE(x_->WaitForWindow("xsm: Default").empty());
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        const std::string socket = "/tmp/.ICE-unix/" + std::to_string(xsm_->pid());
        env_[1] =
            ("SESSION_MANAGER=local/" + std::string(host) + ":@" + socket + ",unix/" + host + ":" + socket);
    }
}

void EndToEnd::Act() {
    for (const Step& step : GetParam().steps) {
        switch (step.op) {
        case Op::Window: ASSERT_FALSE((window_ = x_->WaitForWindow(step.text)).empty()) << step.text; break;
        case Op::Type: ASSERT_TRUE(x_->Type(window_, step.text)); break;
        case Op::Key: ASSERT_TRUE(x_->Key(window_, step.text)); break;
        case Op::Click: ASSERT_TRUE(x_->ClickAt(window_, step.x, step.y)); break;
        case Op::Close: ASSERT_TRUE(x_->Close(step.text)); break;
        case Op::Polled: ASSERT_TRUE(WaitFor([&] { return server_->SessionPolls() >= 1; }, 20000)); break;
        case Op::Signal: ASSERT_EQ(kill(launcher_->pid(), step.x), 0); break;
        case Op::KillDisplay: ASSERT_EQ(kill(x_->serverPid(), SIGKILL), 0); break;
        case Op::Shows: {
            const std::vector<std::string> argv = {"xprop", "-display", x_->display(),  "-id",
                                                   window_, "-notype",  "_NET_WM_NAME", "_NET_WM_ICON_NAME"};
            const auto names = [&] { return testsupport::Run(argv, 5000, {"LC_ALL=C.UTF-8"}).output; };
            ASSERT_TRUE(WaitFor([&] { return names().find(step.text) != std::string::npos; }, 20000))
                << names();
            break;
        }
        case Op::Xdo: {
            std::istringstream words(std::regex_replace(step.text, std::regex("\\{w\\}"), window_));
            std::vector<std::string> argv = {"xdotool"};
            for (std::string w; words >> w;) argv.push_back(w);
            ASSERT_TRUE(x_->Do(argv));
        }
        }
    }
}

// The copy in the Debian root as its user (uid 1000), in a private mount namespace that takes
// every mount along when it ends: an overlay on a tmpfs keeps the cached root as it is for tests
// beside this one; /proc is new, this test's folder /tmp (its home/ /home), the display's socket bound in.
testsupport::RunResult EndToEnd::RunInDebian() {
    const Scenario& s = GetParam();
    std::string hidden;  // the libcurl flavours `libraries` does not name
    for (const std::string curl : {"libcurl.so.4", "libcurl-gnutls.so.4"})
        if (!s.libraries.empty() && !std::count(s.libraries.begin(), s.libraries.end(), curl))
            hidden += " /usr/lib/x86_64-linux-gnu/" + curl;
    // $1 the cached root, $2 this test's folder, $3 the display's socket, $4 CA store or "", then the
    // environment.
    const char* script =
        R"(set -e; r=$2/root o=$2/overlay; mkdir $r $o $2/.X11-unix; touch $2/.X11-unix/${3##*/}
chmod 1777 $2 $2/.X11-unix; chmod 755 $2/home; chown -R 1000:1000 $2/home/user; mount -t tmpfs tmpfs $o; mkdir $o/u $o/w
mount -t overlay overlay -o lowerdir=$1,upperdir=$o/u,workdir=$o/w $r; mount -t proc proc $r/proc
mount --bind $2 $r/tmp; mount --bind $2/home $r/home; mount --bind $3 $r$3; for f in $HIDDEN; do rm $r$f; done
[ -z "$4" ] || { mkdir -p $r/etc/ssl/certs; cp $4 $r/etc/ssl/certs/ca-certificates.crt; }
shift 4; exec env -i "$@" /usr/sbin/chroot --userspec=1000:1000 $r /home/user/launcher)";
    const bool store = s.tls != Tls::None && s.tls != Tls::NoCaStore;  // where Debian's libcurls look
    std::vector<std::string> argv = {"unshare", "--mount", "sh", "-c", script, "sh", lower_, temp_.path()};
    argv.insert(argv.end(), {"/tmp/.X11-unix/X" + x_->display().substr(1), store ? temp_ / "ca.pem" : ""});
    argv.insert(argv.end(), env_.begin(), env_.end());
    return testsupport::Run(argv, 60000, {"HIDDEN=" + hidden});
}

TEST_P(EndToEnd, Scenario) {
    const Scenario& s = GetParam();
    Prepare();
    if (HasFatalFailure() || IsSkipped()) return;
    int status = -1;
    std::string output;
    if (root_ || InDebian()) {
        const auto r = root_ ? root_->Run({"/launcher"}, 60000, env_) : RunInDebian();
        status = r.exitCode, output = r.output;
    } else {
        std::vector<std::string> argv = {copy_};
        if (!arch_.empty())
            argv.insert(argv.begin(), {arch_ == "-i386" ? "qemu-i386" : "qemu-aarch64", "-L", lower_});
        if (s.start == Start::BareName) {
            env_.push_back("PATH=" + temp_ / "bin:" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"));
            argv = {"sh", "-c", "cd '" + work_ + "' && exec sa-launcher"};
        } else if (s.start == Start::Link) {
            ASSERT_EQ(symlink(copy_.c_str(), (work_ + "/link").c_str()), 0);
            argv = {work_ + "/link"};
        }
        launcher_ = testsupport::Process::Start(argv, env_, temp_ / "launcher.out");
        ASSERT_TRUE(launcher_);
        Act();
        int raw = 0;
        if (launcher_->Wait(60000, &raw)) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        output = ReadFile(temp_ / "launcher.out");
    }
    EXPECT_EQ(status, 0) << output;

    const std::string inside = root_ ? root_->path() : "";
    const bool kept = access((inside + (root_ ? "/launcher" : copy_)).c_str(), F_OK) == 0;
    EXPECT_TRUE(s.kept < 0 || kept == (s.kept == 1));
    EXPECT_TRUE(s.polls != 0 || server_->Requests().empty());
    EXPECT_TRUE(s.polls <= 0 || server_->SessionPolls() == s.polls) << server_->SessionPolls();
    const std::string typed = s.steps.size() > 1 && s.steps[1].op == Op::Type ? s.steps[1].text : "";
    for (const auto& poll : server_->Requests()) {
        EXPECT_TRUE(poll.page != "session" || poll.query.at("c") == (*s.code ? s.code : typed))
            << poll.target;
    }
    for (const auto& seen : s.proxyLog)
        EXPECT_EQ(proxy_->AccessLog().find(seen.substr(seen[0] == '!')) == std::string::npos, seen[0] == '!')
            << seen << " in\n"
            << proxy_->AccessLog();
    if (!root_ && !InDebian()) {
        EXPECT_TRUE(s.kept < 0 || (access((copy_ + ".zip").c_str(), F_OK) == 0) == (s.kept == 1));
        EXPECT_EQ(ReadFile(work_ + "/sa-launcher"), "someone's notes");
    }
    const std::string logHome = root_ ? inside + "/home" : InDebian() ? home_ + "/user" : home_;
    if (!s.output.empty()) {
        EXPECT_NE(output.find(s.output), std::string::npos) << output;
        EXPECT_NE(access((logHome + "/ZEL").c_str(), F_OK), 0);
        return;
    }

    int damaged = -1;
    const auto log = ReadLog(logHome + "/ZEL/exe.log", damaged);
    EXPECT_EQ(damaged, 0);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "--->");
    EXPECT_EQ(log.back(), "<---");
    std::size_t at = 0;
    for (const auto& entry : s.log) {
        const std::string want = Subst(entry);
        if (want[0] == '!') {
            EXPECT_EQ(CountPrefix(log, want.substr(1)), 0) << Joined(log);
            continue;
        }
        while (at < log.size() && log[at].rfind(want, 0) != 0) ++at;
        EXPECT_LT(at, log.size()) << "no line \"" << want << "\" (in this order) in\n" << Joined(log);
        at = at < log.size() ? at + 1 : 0;
    }
    EXPECT_EQ(CountPrefix(log, "Successfully launched RC client [") == 1, s.ran) << Joined(log);
    // Whatever happened, no package is left behind in a root's /tmp (it is there only to be unpacked).
    EXPECT_TRUE(!root_ || access((inside + "/tmp/ZELsupportRC_" + ac_ + ".zip").c_str(), F_OK) != 0);
    EXPECT_TRUE(!rogue_ || rogue_->Requests().empty()) << "the proxy's server got the client request";
    if (!s.ran) return;
    EXPECT_TRUE(WaitFor(
        [&] { return !ReadFile(root_ ? inside + "/client-ran" : temp_ / "client-ran").empty(); }, 5000))
        << "the client did not run";
    ASSERT_EQ(server_->ComponentRequests().size(), 1u);
    EXPECT_TRUE(server_->ComponentRequests()[0].problems.empty());
}

INSTANTIATE_TEST_SUITE_P(Launcher, EndToEnd, ::testing::ValuesIn(AllScenarios()),
                         [](const auto& info) { return info.param.name; });

// The first live process whose parent (or, with group, process group) is id
// and whose command line starts so; 0 when there is none.
pid_t ProcessOf(pid_t id, bool group, const std::string& command = "") {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename(), stat = ReadFile("/proc/" + pid + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string state;
        pid_t parent = 0, processGroup = 0;
        fields >> state >> parent >> processGroup;
        if (state != "Z" && (group ? processGroup : parent) == id &&
            ReadFile("/proc/" + pid + "/cmdline").rfind(command, 0) == 0)
            return std::stoi(pid);
    }
    return 0;
}

// A PAC script that loops keeps the desktop's proxy helper busy until the
// launcher gives up on it; when the launcher is killed, the helper goes too.
TEST(ProxyHelper, EndsWithTheLauncher) {
    testsupport::TempDir temp("sa-pac");
    ASSERT_TRUE(
        testsupport::WriteFile(temp / "loop.pac", "function FindProxyForURL(u, h) { for (;;) {} }\n"));
    demo::Options options;
    options.outcome = demo::Outcome::Never, options.print = false;
    demo::Server server(options);
    ASSERT_TRUE(server.Start());
    const std::vector<std::string> env = {"HOME=" + temp.path(), "DISPLAY=", "GSETTINGS_BACKEND=keyfile",
                                          "XDG_CURRENT_DESKTOP=GNOME",
                                          "SESSION_MANAGER=local/none:@" + temp / "none"};
    // The server's address would be left out of the proxy question by GNOME's default ignore-hosts.
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"mode", "auto"},
                                     {"ignore-hosts", "[]"},
                                     {"autoconfig-url", "file://" + temp / "loop.pac"}})
        ASSERT_EQ(
            testsupport::Run({"gsettings", "set", "org.gnome.system.proxy", key, value}, 20000, env).exitCode,
            0);
    const auto made = testsupport::Run({SA_BINARY_DIR "/tools/personalise", SA_LAUNCHER, temp / "launcher",
                                        "--url", server.BaseUrl(), "--code", "271828", "--auto-remove", "0"},
                                       30000);
    ASSERT_EQ(made.exitCode, 0) << made.output;
    auto launcher = testsupport::Process::Start({temp / "launcher"}, env);
    ASSERT_TRUE(launcher);
    pid_t helper = 0;
    ASSERT_TRUE(WaitFor(
        [&] { return (helper = ProcessOf(launcher->pid(), false, "sa-desktop-proxy-query")) != 0; }, 10000));
    ASSERT_EQ(kill(launcher->pid(), SIGKILL), 0);
    EXPECT_TRUE(launcher->Wait(5000));
    const auto alive = [&] {
        const std::string stat = ReadFile("/proc/" + std::to_string(helper) + "/stat");
        return !stat.empty() && stat.find(") Z ") == std::string::npos;
    };
    EXPECT_TRUE(WaitFor([&] { return !alive(); }, 2000)) << "the helper outlived the launcher";
    // What libproxy started in the helper's group ends too, before HOME goes.
    kill(-helper, SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return ProcessOf(helper, true) == 0; }, 5000));
}

}  // namespace
