// The session-management client against a real (test) session manager.

#include "GuiTestSupport.h"

#include <signal.h>
#include <sys/wait.h>

#include "GUIX_SMClient.h"
#include "TestSessionManager.h"

GUIX_TEST_DISPLAY();

using namespace guitest;

namespace {

class SessionTest : public GuiTest {};

TEST_F(SessionTest, ClientRegistersAnswersSaveYourselfAndExitsZeroOnDieWithADialogShown) {
    TestSessionManager sm;
    ASSERT_TRUE(sm.ok()) << sm.error();
    testsupport::TempDir home("guix-probe");
    auto probe = testsupport::Process::Start(
        {GUIX_SM_PROBE}, {"SESSION_MANAGER=" + sm.address(), "HOME=" + home.path()},
        home / "probe.out");
    ASSERT_TRUE(probe);
    ASSERT_TRUE(sm.waitRegistered(10000));
    EXPECT_FALSE(sm.clientId().empty());
    // The dialog is up while the session manager talks to the client.
    ASSERT_TRUE(WaitFor([] { return testsupport::Run({"wmctrl", "-l"}, 5000).output.find("Probe") != std::string::npos; }, 5000));
    for (int i = 0; i < 2; ++i) {
        sm.save();
        bool success = false;
        ASSERT_TRUE(sm.waitSaveDone(5000, &success));
        EXPECT_TRUE(success);
    }
    sm.die();
    int status = -1;
    ASSERT_TRUE(probe->Wait(10000, &status));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(sm.waitClosed(3000));
}

TEST_F(SessionTest, WithoutSessionManagerTheLoopIdlesAndLogsTwoWarnings) {
    unsetenv("SESSION_MANAGER");
    Loop loop;
    ASSERT_TRUE(loop.started());
    ASSERT_TRUE(WaitFor([] { return LogText().find("SESSION_MANAGER=") != std::string::npos; }, 3000));
    std::string log = LogText();
    EXPECT_NE(log.find("Warning: While connecting to session manager: "), std::string::npos) << log;
    EXPECT_NE(log.find("Warning:         SESSION_MANAGER=\r\n"), std::string::npos) << log;
    // The loop still serves requests.
    GUIX_Dialog d("Idle", 200, 80, 0x3);
    ModalRun modal(&d);
    ASSERT_TRUE(user.waitViewable(d.windowId()));
    d.close();
    EXPECT_TRUE(modal.waitDone(3000));
    loop.stop();  // before the widgets go
}

void OnUsr1(int) {}

TEST(SessionClientTest, IdleWaitWithoutConnectionSleepsItsTime) {
    guitest::LogHome();
    unsetenv("SESSION_MANAGER");
    GUIX_SMClient client("ZEL_XSMP_client");
    EXPECT_FALSE(client.connected());
    EXPECT_EQ(client.descriptor(), -1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.process(50));
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(45));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST(SessionClientTest, ASignalDuringTheWaitKeepsTheConnection) {
    guitest::LogHome();
    TestSessionManager sm;
    ASSERT_TRUE(sm.ok()) << sm.error();
    setenv("SESSION_MANAGER", sm.address().c_str(), 1);
    GUIX_SMClient client("ZEL_XSMP_client");
    unsetenv("SESSION_MANAGER");
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(sm.waitRegistered(5000));
    ASSERT_GE(client.descriptor(), 0);

    struct sigaction sa {};
    sa.sa_handler = OnUsr1;  // no SA_RESTART: the wait sees EINTR
    sigaction(SIGUSR1, &sa, nullptr);
    pthread_t self = pthread_self();
    std::thread kicker([self] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_kill(self, SIGUSR1);
    });
    EXPECT_TRUE(client.process(300));
    kicker.join();
    signal(SIGUSR1, SIG_DFL);
    EXPECT_GE(client.descriptor(), 0);
    // Still served: a save-yourself is answered.
    sm.save();
    bool success = false;
    bool done = false;
    for (int i = 0; i < 100 && !done; ++i) {
        client.process(50);
        done = sm.waitSaveDone(1, &success);
    }
    EXPECT_TRUE(done);
    EXPECT_TRUE(success);
}

}  // namespace

namespace {

TEST(NoDisplayTest, EverythingReturnsAtOnceAndTheFailureIsLogged) {
    testsupport::TempDir home("guix-nodisplay");
    auto r = testsupport::Run({GUIX_SM_PROBE, "headless"}, 10000, {"DISPLAY=", "HOME=" + home.path()});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::string log = testsupport::ReadFile(home / "ZEL/guix-probe.log");
    EXPECT_NE(log.find("ERROR: GUIX_Application: cannot open display"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: GUIX_Application::run: no X display"), std::string::npos) << log;
}

}  // namespace
