// The seven user interface calls against the real windows on a private X
// server with a window manager; the test plays the user with xdotool and
// wmctrl. The toolkit keeps one display per process, so every case runs in a
// process of its own (ctest runs them so).

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "GUIX_Application.h"
#include "Log.h"
#include "TempDir.h"
#include "UserInterface.h"
#include "XDisplay.h"
#include "windows_user.h"

using testsupport::TempDir;
using windowstest::DesktopUser;
using Image = windowstest::DesktopUser::Image;
using namespace std::chrono_literals;

namespace {

constexpr auto kAnswer = 10s;  // bound on every modal call once the user acted

const std::string kFocus = "160,160,255";
const std::string kWhite = "255,255,255";

bool OneFacadePerProcess() {
    static bool used = false;
    const bool first = !used;
    used = true;
    return first;
}

template <typename T>
bool Ready(const std::shared_future<T>& f, std::chrono::seconds bound = kAnswer) {
    return f.wait_for(bound) == std::future_status::ready;
}

// One display for the process, stopped at its very end: the toolkit's
// connection is a process-wide object and outlives every test.
testsupport::XDisplay* Display() {
    static auto* const environment =
        ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment(true));
    (void)environment;
    return testsupport::XDisplayEnvironment::Current();
}
const bool kDisplayRegistered = (Display(), true);

// Buffers with guard bytes behind them: a copy must stay inside.
struct GuardedBuffer {
    explicit GuardedBuffer(std::size_t size, char fill = 'Z') : size_(size), bytes_(size + 16, '#') {
        std::memset(bytes_.data(), fill, size_ - 1);
        bytes_[size_ - 1] = '\0';
    }
    char* data() { return bytes_.data(); }
    std::string text() const { return std::string(bytes_.data()); }
    bool guardIntact() const { return bytes_.substr(size_) == std::string(16, '#'); }

    std::size_t size_;
    std::string bytes_;
};

std::shared_ptr<GuardedBuffer> Buffer(std::size_t size, char fill = 'Z') {
    return std::make_shared<GuardedBuffer>(size, fill);
}

class Facade : public ::testing::Test {
protected:
    // Runs a call on a thread of its own; the fixture keeps a reference, so a
    // failing test does not block on it before TearDown.
    template <typename F>
    auto Async(F f) {
        auto shared = std::async(std::launch::async, std::move(f)).share();
        kept_.push_back([shared] { shared.wait(); });
        return shared;
    }

    void SetUp() override {
        if (!OneFacadePerProcess()) GTEST_SKIP() << "one user interface per process: run through ctest";
        testsupport::XDisplay* x = Display();
        ASSERT_TRUE(x && x->ok()) << (x ? x->error() : "no display");
        setenv("DISPLAY", x->display().c_str(), 1);
        setenv("HOME", home_.path().c_str(), 1);
        LogInit("exe.log", true, true);
        user_ = std::make_unique<DesktopUser>(x->display());
        user_->ParkPointer();
        auto started = Async([] { StartUserInterface(); });
        ASSERT_TRUE(Ready(started)) << "StartUserInterface hangs";
        started_ = true;
    }
    // Ending the interface also ends every modal call still running, so the
    // calls kept below can be waited for when the fixture goes.
    void TearDown() override {
        if (started_) CloseUserInterface();
    }

    std::string Scratch() const { return home_ / "shot.ppm"; }

    Image Shot(const std::string& id) const { return user_->Capture(id, Scratch()); }

    bool PixelBecomes(const std::string& id, int x, int y, const std::string& rgb) const {
        return user_->WaitForPixels(id, Scratch(), [=](const Image& img) { return img.At(x, y) == rgb; });
    }

    TempDir home_{"sa-windows"};
    std::unique_ptr<DesktopUser> user_;
    bool started_ = false;
    std::vector<std::function<void()>> kept_;
};

TEST_F(Facade, CodeWindowReturnConfirmsAndTheNextRequestShowsTheEarlierText) {
    auto code = Buffer(kSessionCodeBufferSize);
    auto asked = Async([=] { return AskSessionCode(code->data()); });
    const std::string id = user_->WaitForWindow("Enter code");
    ASSERT_FALSE(id.empty());

    const Image img = Shot(id);
    ASSERT_EQ(img.width, 350);
    ASSERT_EQ(img.height, 70);
    EXPECT_TRUE(PixelBecomes(id, 23, 35, kFocus)) << "the entry does not hold the focus";
    EXPECT_EQ(Shot(id).At(30, 35), kWhite);       // entry background
    EXPECT_EQ(Shot(id).At(5, 5), "200,200,200");  // dialog background
    EXPECT_TRUE(user_->Run({"xprop", "-id", id, "WM_HINTS"}).output.find("icon") != std::string::npos);
    EXPECT_TRUE(user_->Run({"xprop", "-id", id, "WM_NORMAL_HINTS"}).output.find("350 by 70") !=
                std::string::npos);

    ASSERT_TRUE(user_->Activate(id));
    ASSERT_TRUE(user_->Type("4711-0815"));
    ASSERT_TRUE(user_->Key("Return"));
    ASSERT_TRUE(Ready(asked));
    EXPECT_TRUE(asked.get());
    EXPECT_EQ(code->text(), "4711-0815");
    EXPECT_TRUE(user_->WaitForWindowGone("Enter code"));

    auto again = Buffer(kSessionCodeBufferSize);
    auto second = Async([=] { return AskSessionCode(again->data()); });
    const std::string id2 = user_->WaitForWindow("Enter code");
    ASSERT_FALSE(id2.empty());
    ASSERT_TRUE(user_->Activate(id2));
    ASSERT_TRUE(user_->Key("Return"));
    ASSERT_TRUE(Ready(second));
    EXPECT_TRUE(second.get());
    EXPECT_EQ(again->text(), "4711-0815");
}

TEST_F(Facade, CodeWindowOkWithEmptyEntryThenWindowManagerCloseWithAnOverlongEntry) {
    auto code = Buffer(kSessionCodeBufferSize);
    auto asked = Async([=] { return AskSessionCode(code->data()); });
    const std::string id = user_->WaitForWindow("Enter code");
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(user_->ClickAt(id, 292, 35));  // "Ok"
    ASSERT_TRUE(Ready(asked));
    EXPECT_TRUE(asked.get());
    EXPECT_EQ(code->text(), "");

    const std::string longCode(80, '7');
    auto cut = Buffer(kSessionCodeBufferSize);
    auto second = Async([=] { return AskSessionCode(cut->data()); });
    const std::string id2 = user_->WaitForWindow("Enter code");
    ASSERT_FALSE(id2.empty());
    ASSERT_TRUE(user_->Activate(id2));
    ASSERT_TRUE(user_->Type(longCode));
    ASSERT_TRUE(user_->CloseByTitle("Enter code"));
    ASSERT_TRUE(Ready(second));
    EXPECT_FALSE(second.get());
    // The entry's text arrives whatever the result, cut to the buffer.
    EXPECT_EQ(cut->text(), longCode.substr(0, kSessionCodeBufferSize - 1));
    EXPECT_TRUE(cut->guardIntact());
}

TEST_F(Facade, ProxyWindowTakesLoginTabPasswordReturn) {
    auto login = Buffer(kCredentialBufferSize);
    auto password = Buffer(kCredentialBufferSize);
    auto asked = Async([=] {
        return AskProxyCredentials("Basic realm \"Velmoran Gateway\"", login->data(), password->data());
    });
    const std::string id = user_->WaitForWindow("Proxy Authentication");
    ASSERT_FALSE(id.empty());
    const Image img = Shot(id);
    ASSERT_EQ(img.width, 310);
    ASSERT_EQ(img.height, 235);
    EXPECT_TRUE(PixelBecomes(id, 123, 45, kFocus)) << "the login entry does not hold the focus";
    EXPECT_EQ(Shot(id).At(123, 85), kWhite);
    EXPECT_TRUE(user_->Run({"xprop", "-id", id, "WM_HINTS"}).output.find("icon") == std::string::npos);

    ASSERT_TRUE(user_->Activate(id));
    ASSERT_TRUE(user_->Type("alice"));
    ASSERT_TRUE(user_->Key("Tab"));
    EXPECT_TRUE(PixelBecomes(id, 123, 85, kFocus)) << "Tab did not move the focus to the password";
    EXPECT_EQ(Shot(id).At(123, 45), kWhite);
    ASSERT_TRUE(user_->Type("wonder land"));
    ASSERT_TRUE(user_->Key("Return"));
    ASSERT_TRUE(Ready(asked));
    EXPECT_TRUE(asked.get());
    EXPECT_EQ(login->text(), "alice");
    EXPECT_EQ(password->text(), "wonder land");
}

TEST_F(Facade, ProxyWindowCutsLongCredentialsAndCancelOrCloseLeaveTheBuffers) {
    const std::string longLogin(40, 'l'), longPassword(45, 'p');
    auto login = Buffer(kCredentialBufferSize);
    auto password = Buffer(kCredentialBufferSize);
    auto first = Async([=] { return AskProxyCredentials("", login->data(), password->data()); });
    std::string id = user_->WaitForWindow("Proxy Authentication");
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(user_->Activate(id));
    ASSERT_TRUE(user_->Type(longLogin));
    ASSERT_TRUE(user_->Key("Tab"));
    ASSERT_TRUE(user_->Type(longPassword));
    ASSERT_TRUE(user_->ClickAt(id, 250, 205));  // "Ok"
    ASSERT_TRUE(Ready(first));
    EXPECT_TRUE(first.get());
    EXPECT_EQ(login->text(), longLogin.substr(0, kCredentialBufferSize - 1));
    EXPECT_EQ(password->text(), longPassword.substr(0, kCredentialBufferSize - 1));
    EXPECT_TRUE(login->guardIntact());
    EXPECT_TRUE(password->guardIntact());

    for (const std::string way : {"cancel", "close"}) {
        ASSERT_TRUE(user_->WaitForWindowGone("Proxy Authentication"));
        auto l = Buffer(kCredentialBufferSize, 'L');
        auto p = Buffer(kCredentialBufferSize, 'P');
        auto asked = Async([=] { return AskProxyCredentials("again", l->data(), p->data()); });
        id = user_->WaitForWindow("Proxy Authentication");
        ASSERT_FALSE(id.empty()) << way;
        if (way == "cancel") {
            ASSERT_TRUE(user_->ClickAt(id, 160, 205));
        } else {
            ASSERT_TRUE(user_->CloseByTitle("Proxy Authentication"));
        }
        ASSERT_TRUE(Ready(asked)) << way;
        EXPECT_FALSE(asked.get()) << way;
        EXPECT_EQ(l->text(), std::string(kCredentialBufferSize - 1, 'L')) << way;
        EXPECT_EQ(p->text(), std::string(kCredentialBufferSize - 1, 'P')) << way;
    }
}

TEST_F(Facade, StatusWindowShowsTextAndEndsWhenTheInterfaceIsClosed) {
    auto shown = Async([] { ShowStatusWindow(); });
    const std::string id = user_->WaitForWindow("Connection Status");
    ASSERT_FALSE(id.empty());
    const Image img = Shot(id);
    ASSERT_EQ(img.width, 350);
    ASSERT_EQ(img.height, 60);
    EXPECT_EQ(img.At(5, 5), "200,200,200");     // dialog background
    EXPECT_EQ(img.At(200, 30), kWhite);         // label, right of its text
    EXPECT_EQ(img.At(20, 17), "134,134,134");   // label's sunken frame, outer line
    EXPECT_EQ(img.At(240, 17), "218,218,218");  // button's raised frame, outer line
    EXPECT_EQ(img.At(329, 42), "0,0,0");        // its dark outer corner
    EXPECT_TRUE(user_->Run({"xprop", "-id", id, "WM_HINTS"}).output.find("icon") != std::string::npos);

    // A longer text reaches further right in the label.
    auto rightEdge = [](const Image& shot) {
        int right = -1;
        for (int y = 20; y < 41; ++y)
            for (int x = 23; x < 218; ++x)
                if (shot.At(x, y) == "0,0,0") right = std::max(right, x);
        return right;
    };
    EXPECT_TRUE(user_->WaitForPixels(id, Scratch(), [=](const Image& s) { return rightEdge(s) > 0; }));
    const int before = rightEdge(Shot(id));
    EXPECT_LT(before, 25 + 6 * 13);  // "Connecting..."
    SetStatusText("Connection timeout exceeded");
    EXPECT_TRUE(
        user_->WaitForPixels(id, Scratch(), [=](const Image& s) { return rightEdge(s) >= 25 + 6 * 26; }));

    CloseUserInterface();
    started_ = false;
    ASSERT_TRUE(Ready(shown)) << "ShowStatusWindow did not return after CloseUserInterface";
    EXPECT_TRUE(user_->WaitForWindowGone("Connection Status"));
    EXPECT_FALSE(GUIX_Application::instance().isRunning());
}

TEST_F(Facade, StatusCancelButtonStopsTheLoop) {
    auto shown = Async([] { ShowStatusWindow(); });
    const std::string id = user_->WaitForWindow("Connection Status");
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(user_->ClickAt(id, 285, 30));
    ASSERT_TRUE(Ready(shown));
    EXPECT_TRUE(testsupport::WaitFor([] { return !GUIX_Application::instance().isRunning(); }, 5000));
    // The session thread's wait for the interface must not block now.
    auto waited = Async([] { WaitForUserInterface(); });
    EXPECT_TRUE(Ready(waited, 2s));
}

// The user closes the status window while the credentials window is open,
// after an earlier credentials run had ended with OK.
TEST_F(Facade, ClosingTheStatusWindowEndsAnOpenCredentialsWindowWithoutOk) {
    auto login = Buffer(kCredentialBufferSize);
    auto password = Buffer(kCredentialBufferSize);
    auto first = Async([=] { return AskProxyCredentials("first", login->data(), password->data()); });
    std::string proxy = user_->WaitForWindow("Proxy Authentication");
    ASSERT_FALSE(proxy.empty());
    ASSERT_TRUE(user_->ClickAt(proxy, 250, 205));
    ASSERT_TRUE(Ready(first));
    ASSERT_TRUE(first.get());
    ASSERT_TRUE(user_->WaitForWindowGone("Proxy Authentication"));

    auto shown = Async([] { ShowStatusWindow(); });
    ASSERT_FALSE(user_->WaitForWindow("Connection Status").empty());
    auto l = Buffer(kCredentialBufferSize, 'L');
    auto p = Buffer(kCredentialBufferSize, 'P');
    auto asked = Async([=] { return AskProxyCredentials("second", l->data(), p->data()); });
    proxy = user_->WaitForWindow("Proxy Authentication");
    ASSERT_FALSE(proxy.empty());

    ASSERT_TRUE(user_->CloseByTitle("Connection Status"));
    ASSERT_TRUE(Ready(shown));
    ASSERT_TRUE(Ready(asked)) << "the credentials window kept its caller waiting";
    EXPECT_FALSE(asked.get());
    EXPECT_EQ(l->text(), std::string(kCredentialBufferSize - 1, 'L'));
    // Later requests do not wait for a window nobody can show any more.
    auto late = Async([=] { return AskProxyCredentials("late", l->data(), p->data()); });
    ASSERT_TRUE(Ready(late, 3s));
    EXPECT_FALSE(late.get());
}

// No X server at the named display: the facade goes headless and never hangs.
TEST(FacadeWithoutDisplay, FallsBackToHeadlessAndNeverHangs) {
    if (!OneFacadePerProcess()) GTEST_SKIP() << "one user interface per process: run through ctest";
    TempDir home("sa-windows");
    setenv("DISPLAY", ":4093", 1);  // nothing listens there
    setenv("HOME", home.path().c_str(), 1);
    LogInit("exe.log", true, true);

    auto started = std::async(std::launch::async, [] { StartUserInterface(); }).share();
    ASSERT_TRUE(Ready(started)) << "StartUserInterface hangs without a display";
    auto waited = std::async(std::launch::async, [] { WaitForUserInterface(); }).share();
    ASSERT_TRUE(Ready(waited, 2s));
    char code[kSessionCodeBufferSize] = "x";
    EXPECT_FALSE(AskSessionCode(code));
    char login[kCredentialBufferSize] = "keep", password[kCredentialBufferSize] = "keep";
    EXPECT_FALSE(AskProxyCredentials("realm", login, password));
    EXPECT_STREQ(login, "keep");

    auto shown = std::async(std::launch::async, [] { ShowStatusWindow(); }).share();
    SetStatusText("Connecting...");
    CloseUserInterface();
    ASSERT_TRUE(Ready(shown, 3s));

    const std::string log = home / "ZEL/exe.log";
    const std::string report = home / "report.txt";
    int damaged = -1;
    ASSERT_TRUE(LogVerify(log.c_str(), report.c_str(), true, &damaged));
    EXPECT_EQ(damaged, 0);
    EXPECT_NE(testsupport::ReadFile(report).find("Cannot open display [:4093]"), std::string::npos)
        << testsupport::ReadFile(report);
}

}  // namespace
