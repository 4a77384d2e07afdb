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
        {GUIX_SM_PROBE}, {"SESSION_MANAGER=" + sm.address(), "HOME=" + home.path()}, home / "probe.out");
    ASSERT_TRUE(probe);
    ASSERT_TRUE(sm.waitRegistered(10000));
    // The probe's modal dialog is up while the session manager talks to it.
    auto listed = [] {
        return testsupport::Run({"wmctrl", "-l"}, 5000).output.find("Probe") != std::string::npos;
    };
    ASSERT_TRUE(WaitFor(listed, 5000));
    for (int i = 1; i <= 2; ++i) {
        sm.save();
        ASSERT_TRUE(sm.waitSaved(i, 5000)) << "save " << i;
    }
    sm.die();
    int status = -1;
    ASSERT_TRUE(probe->Wait(10000, &status));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(sm.waitClosed(3000));
}

TEST(SessionClientTest, WithoutSessionManagerItLogsTwoWarningsAndIdlesItsTime) {
    LogHome();
    unsetenv("SESSION_MANAGER");
    GUIX_SMClient client("ZEL_XSMP_client");
    EXPECT_FALSE(client.connected());
    std::string log = LogText();
    EXPECT_NE(log.find("Warning: While connecting to session manager: "), std::string::npos) << log;
    EXPECT_NE(log.find("Warning:         SESSION_MANAGER=\r\n"), std::string::npos) << log;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.process(50));
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(45));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST(SessionClientTest, ASignalDuringTheWaitKeepsTheConnection) {
    LogHome();
    TestSessionManager sm;
    ASSERT_TRUE(sm.ok()) << sm.error();
    setenv("SESSION_MANAGER", sm.address().c_str(), 1);
    GUIX_SMClient client("ZEL_XSMP_client");
    unsetenv("SESSION_MANAGER");
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(sm.waitRegistered(5000));
    struct sigaction sa {};
    sa.sa_handler = [](int) {};  // no SA_RESTART: the wait sees EINTR
    sigaction(SIGUSR1, &sa, nullptr);
    pthread_t self = pthread_self();
    std::thread kicker([self] {
        Settle(50);
        pthread_kill(self, SIGUSR1);
    });
    EXPECT_TRUE(client.process(300));
    kicker.join();
    signal(SIGUSR1, SIG_DFL);
    EXPECT_GE(client.descriptor(), 0);
    sm.save();  // still served
    bool saved = false;
    for (int i = 0; i < 100 && !saved; ++i) {
        client.process(50);
        saved = sm.waitSaved(1, 1);
    }
    EXPECT_TRUE(saved);
}

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
