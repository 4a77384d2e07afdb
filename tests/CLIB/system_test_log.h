#pragma once
// A private HOME with a plain log for the duration of a test.

#include <cstdlib>
#include <string>

#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"

class PlainLog {
public:
    PlainLog()
    {
        const char* old = getenv("HOME");
        hadHome_ = old != nullptr;
        if (old)
            oldHome_ = old;
        setenv("HOME", home_.path().c_str(), 1);
        LogInit("system-test.log", false, true);
    }
    ~PlainLog()
    {
        LogInit("", false, true);
        if (hadHome_)
            setenv("HOME", oldHome_.c_str(), 1);
        else
            unsetenv("HOME");
    }
    std::string Text() const { return testsupport::ReadFile(home_.path() + "/ZEL/system-test.log"); }

private:
    testsupport::TempDir home_{"sa-log"};
    bool hadHome_ = false;
    std::string oldHome_;
};
