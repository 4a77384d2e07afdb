// The facade's own rules on a private desktop: entries cut to the callers'
// buffers, credentials written only on OK, the credentials window ended with
// the status window, and the headless fallback. The toolkit keeps one
// display per process, so ctest runs every case in a process of its own.

#include "XDisplay.h"

#include <chrono>
#include <cstring>
#include <future>

#include "Log.h"
#include "TempDir.h"
#include "UserInterface.h"

namespace {

auto* const kDisplay [[maybe_unused]] =
    ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment);

// A caller's buffer filled with `fill`, with guard bytes behind it.
struct Buffer {
    Buffer(std::size_t size, char fill) : size(size), bytes(size + 16, '#') {
        std::memset(bytes.data(), fill, size - 1);
        bytes[size - 1] = '\0';
    }
    char* data() { return bytes.data(); }
    std::string text() const { return bytes.c_str(); }
    bool guarded() const { return bytes.substr(size) == std::string(16, '#'); }
    std::size_t size;
    std::string bytes;
};

class Facade : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    void TearDown() override {
        CloseUserInterface();  // ends every modal call still waiting
        for (auto& call : calls_) call.wait();
    }
    void Start() {
        static int used = 0;
        if (used++) GTEST_SKIP() << "one user interface per process: run through ctest";
        setenv("HOME", home_.path().c_str(), 1);
        setenv("SESSION_MANAGER", ("local/none:@" + home_ / "none").c_str(), 1);  // not another test's
        LogInit("exe.log", true, true);
        ASSERT_TRUE(Done(Async([] { return StartUserInterface(), true; }))) << "StartUserInterface hangs";
    }
    template <typename F>
    std::shared_future<bool> Async(F f) {
        calls_.push_back(std::async(std::launch::async, std::move(f)).share());
        return calls_.back();
    }
    static bool Done(const std::shared_future<bool>& f, int seconds = 10) {
        return f.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
    }
    std::shared_future<bool> AskCredentials(Buffer& login, Buffer& password) {
        return Async([&] { return AskProxyCredentials("realm", login.data(), password.data()); });
    }

    testsupport::XDisplay* x_ = testsupport::XDisplayEnvironment::Current();
    testsupport::TempDir home_{"sa-windows"};
    std::vector<std::shared_future<bool>> calls_;
};

// Full-width digits (input methods type them) come out as ASCII ones, and
// a text is cut only between its characters.
TEST_F(Facade, EntriesAreCutToTheCallersBuffers) {
    ASSERT_TRUE(x_ && x_->ok());
    Buffer code(kSessionCodeBufferSize, 'Z'), login(kCredentialBufferSize, 'L'),
        password(kCredentialBufferSize, 'P');
    auto asked = Async([&] { return AskSessionCode(code.data()); });
    std::string id = x_->WaitForWindow("Enter code");
    ASSERT_TRUE(x_->Type(id, "\uff13\uff11" + std::string(80, '7')) && x_->Key(id, "Return"));
    ASSERT_TRUE(Done(asked) && asked.get());
    EXPECT_EQ(code.text(), "31" + std::string(kSessionCodeBufferSize - 3, '7'));

    asked = AskCredentials(login, password);
    id = x_->WaitForWindow("Proxy Authentication");
    std::string accents;
    for (int i = 0; i < 20; ++i) accents += "\u00e9";
    ASSERT_TRUE(x_->Type(id, accents) && x_->Key(id, "Tab") && x_->Type(id, std::string(45, 'p')));
    ASSERT_TRUE(x_->ClickAt(id, 250, 205));  // "Ok"
    ASSERT_TRUE(Done(asked) && asked.get());
    EXPECT_EQ(login.text(), accents.substr(0, kCredentialBufferSize - 2));  // 15 of 2 bytes each
    EXPECT_EQ(password.text(), std::string(kCredentialBufferSize - 1, 'p'));
    EXPECT_TRUE(code.guarded() && login.guarded() && password.guarded());
}

// How the user leaves the credentials window without OK, with a login typed.
class LeftWithoutOk : public Facade, public ::testing::WithParamInterface<std::string> {};

TEST_P(LeftWithoutOk, LeavesTheCredentialsUntouched) {
    ASSERT_TRUE(x_ && x_->ok());
    if (GetParam() == "status closed") {
        Async([] { return ShowStatusWindow(), true; });
        ASSERT_FALSE(x_->WaitForWindow("Connection Status").empty());
    }
    Buffer login(kCredentialBufferSize, 'L'), password(kCredentialBufferSize, 'P');
    auto asked = AskCredentials(login, password);
    const std::string id = x_->WaitForWindow("Proxy Authentication");
    ASSERT_TRUE(x_->Type(id, "alice"));
    if (GetParam() == "cancel") {
        ASSERT_TRUE(x_->ClickAt(id, 160, 205));
    } else {
        ASSERT_TRUE(x_->Close(GetParam() == "closed" ? "Proxy Authentication" : "Connection Status"));
    }
    ASSERT_TRUE(Done(asked)) << "the credentials window kept its caller waiting";
    EXPECT_FALSE(asked.get());
    EXPECT_EQ(login.text() + password.text(),
              std::string(kCredentialBufferSize - 1, 'L') + std::string(kCredentialBufferSize - 1, 'P'));
    if (GetParam() != "status closed") return;
    asked = AskCredentials(login, password);  // nobody can show it any more
    ASSERT_TRUE(Done(asked, 3));
    EXPECT_FALSE(asked.get());
}

INSTANTIATE_TEST_SUITE_P(Facade, LeftWithoutOk, ::testing::Values("cancel", "closed", "status closed"),
                         [](const auto& info) {
                             return info.param == "cancel"   ? "Cancel"
                                    : info.param == "closed" ? "Closed"
                                                             : "StatusClosed";
                         });

// No X server at the named display: every call returns at once and the log says why.
class WithoutDisplay : public Facade {
    void SetUp() override {
        setenv("DISPLAY", ":4093", 1);  // nothing listens there
        Start();
    }
};

TEST_F(WithoutDisplay, FallsBackToHeadlessAndNeverHangs) {
    ASSERT_TRUE(Done(Async([] { return WaitForUserInterface(), true; }), 2));
    char code[kSessionCodeBufferSize] = "x";
    EXPECT_FALSE(AskSessionCode(code));
    Buffer login(kCredentialBufferSize, 'L'), password(kCredentialBufferSize, 'P');
    EXPECT_FALSE(AskProxyCredentials("realm", login.data(), password.data()));
    EXPECT_EQ(login.text(), std::string(kCredentialBufferSize - 1, 'L'));
    auto shown = Async([] { return ShowStatusWindow(), true; });
    SetStatusText(Text(TextId::CONNECTING));
    CloseUserInterface();
    ASSERT_TRUE(Done(shown, 3));
    const std::string log = home_ / "ZEL/exe.log", report = home_ / "report.txt";
    int damaged = -1;
    ASSERT_TRUE(LogVerify(log.c_str(), report.c_str(), true, &damaged));
    EXPECT_EQ(damaged, 0);
    EXPECT_NE(testsupport::ReadFile(report).find("Cannot open display [:4093]"), std::string::npos);
}

}  // namespace
