#pragma once
// A private HOME with a plain log for the duration of a test; HOME is put back after.
#include <cstdlib>
#include <string>

#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"

class PlainLog {
public:
    PlainLog() : hadHome_(getenv("HOME") != nullptr), oldHome_(hadHome_ ? getenv("HOME") : "") {
        setenv("HOME", home_.path().c_str(), 1);
        LogInit("system-test.log", false, true);
    }
    ~PlainLog() {
        LogInit("", false, true);
        hadHome_ ? setenv("HOME", oldHome_.c_str(), 1) : unsetenv("HOME");
    }
    std::string Text() const { return testsupport::ReadFile(home_.path() + "/ZEL/system-test.log"); }

private:
    testsupport::TempDir home_{"sa-log"};
    bool hadHome_;
    std::string oldHome_;
};
