#pragma once
// A private X server for GUI tests: Xvfb on a free display number (chosen by
// Xvfb itself through -displayfd), 1024x768x24, no TCP, with the openbox
// window manager running on it. The constructor returns once the window
// manager answers (wmctrl -m) and has had about half a second more to settle
// (openbox ignores windows mapped in its first moments). Every wait is bounded.
//
//   testsupport::XDisplay x;          // starts both
//   ASSERT_TRUE(x.ok()) << x.error();
//   setenv("DISPLAY", x.display().c_str(), 1);
//   ... XOpenDisplay(x.display().c_str()), xdotool, wmctrl with x.env() ...
//   // the destructor stops openbox, then Xvfb, by their process ids
//
// Since a toolkit keeps one display connection per process, run each GUI test
// in its own process (ctest does, through gtest_discover_tests), or share one
// XDisplay per process (see XDisplayEnvironment below).

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class XDisplay {
public:
    // withWindowManager = false starts Xvfb alone.
    explicit XDisplay(bool withWindowManager = true, int timeoutMs = 30000);
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    // ":N"
    const std::string& display() const { return display_; }
    // {"DISPLAY=:N"}, for Process::Start / Run.
    std::vector<std::string> env() const { return {"DISPLAY=" + display_}; }
    pid_t serverPid() const { return xvfb_; }
    pid_t windowManagerPid() const { return wm_; }

private:
    bool startServer(int timeoutMs);
    bool startWindowManager(int timeoutMs);
    static void stop(pid_t& pid);

    bool ok_ = false;
    std::string error_;
    std::string display_;
    pid_t xvfb_ = -1;
    pid_t wm_ = -1;
};

// A gtest global environment that starts one XDisplay for the test process
// and exports DISPLAY. Register it once per test binary, e.g.
//   static auto* const kX = ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment);
// Tests then check testsupport::XDisplayEnvironment::Current() for ok().
// The display is stopped at process exit (not in TearDown), after static
// objects created during the tests, such as a toolkit's display connection.
class XDisplayEnvironment;

}  // namespace testsupport

#include <gtest/gtest.h>

namespace testsupport {

class XDisplayEnvironment : public ::testing::Environment {
public:
    explicit XDisplayEnvironment(bool withWindowManager = true) : withWm_(withWindowManager) {}
    void SetUp() override;
    void TearDown() override;
    // The running display of this process, or null before SetUp.
    static XDisplay* Current();

private:
    bool withWm_;
};

}  // namespace testsupport
