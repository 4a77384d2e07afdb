#pragma once
// A private X server for GUI tests: Xvfb on a display number it picks itself
// (-displayfd), no TCP, with openbox on it unless told otherwise. Both die
// with the test process and are stopped by their ids in the destructor. The
// helpers act as a user does, through the window manager (wmctrl, xdotool).

// gtest before Xlib: Xlib's None macro breaks gtest's headers.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "Subprocess.h"

namespace testsupport {

class XDisplay {
public:
    explicit XDisplay(bool withWindowManager = true, int timeoutMs = 30000);
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& display() const { return display_; }  // ":N"
    pid_t serverPid() const { return xvfb_; }

    RunResult Run(const std::vector<std::string>& argv, int timeoutMs = 10000) const;
    bool Do(const std::vector<std::string>& argv) const { return Run(argv).exitCode == 0; }
    // The id ("0x...") of the managed window with exactly this title, or "".
    std::string FindWindow(const std::string& title) const;
    std::string WaitForWindow(const std::string& title, int timeoutMs = 15000) const;
    bool WaitForWindowGone(const std::string& title) const;
    // Focuses the window (and waits for it), then types text or presses keys.
    bool Type(const std::string& id, const std::string& text) const;
    bool Key(const std::string& id, const std::string& keys) const;
    // (x, y) in the window's own coordinates, frame not counted.
    bool ClickAt(const std::string& id, int x, int y) const;
    // As the close button of the window's frame does.
    bool Close(const std::string& title) const { return Do({"wmctrl", "-F", "-c", title}); }

private:
    bool Start(bool withWindowManager, int timeoutMs);
    void StopAll();

    bool ok_ = false;
    std::string error_, display_;
    pid_t xvfb_ = -1, wm_ = -1;
};

// One display for the whole test process, stopped at exit, after the
// toolkit's display connection (a static object) is closed:
//   static auto* const kX = ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment);
class XDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    static XDisplay* Current();  // null before SetUp
};

}  // namespace testsupport
