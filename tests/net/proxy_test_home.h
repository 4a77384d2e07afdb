#pragma once
// A private HOME holding browser and desktop settings, and a plain log in it.

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "Log.h"
#include "ProxySettings.h"
#include "Subprocess.h"
#include "TempDir.h"

class ProxyHome {
public:
    ProxyHome()
    {
        Save("HOME", home_);
        Save("PATH", path_);
        setenv("HOME", dir_.path().c_str(), 1);
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "all_proxy"})
            unsetenv(name);
        LogInit("proxy-test.log", false, true);
    }
    ~ProxyHome()
    {
        LogInit("", false, true);
        ProxySettings::RestoreGnomeCommand();
        Restore("HOME", home_);
        Restore("PATH", path_);
        for (const char* name : {"http_proxy", "PROXY_TEST_VARIABLE"})
            unsetenv(name);
    }

    const std::string& path() const { return dir_.path(); }

    // Writes relative path under HOME, making its folders.
    void Put(const std::string& relative, const std::string& content) const
    {
        std::string full = dir_.path();
        size_t start = 0, slash;
        while ((slash = relative.find('/', start)) != std::string::npos) {
            full = dir_.path() + "/" + relative.substr(0, slash);
            mkdir(full.c_str(), 0755);
            start = slash + 1;
        }
        testsupport::WriteFile(dir_.path() + "/" + relative, content);
    }
    void MakeFolder(const std::string& relative) const { Put(relative + "/.keep", ""); }

    static std::string Fixture(const std::string& name)
    {
        return testsupport::ReadFile(std::string(SA_FIXTURES_DIR) + "/" + name);
    }

    std::string Log() const { return testsupport::ReadFile(dir_.path() + "/ZEL/proxy-test.log"); }

private:
    struct Saved {
        bool had = false;
        std::string value;
    };
    static void Save(const char* name, Saved& saved)
    {
        const char* v = getenv(name);
        saved.had = v != nullptr;
        saved.value = v ? v : "";
    }
    static void Restore(const char* name, const Saved& saved)
    {
        if (saved.had)
            setenv(name, saved.value.c_str(), 1);
        else
            unsetenv(name);
    }

    testsupport::TempDir dir_{"sa-home"};
    Saved home_, path_;
};

inline const char* const kPortDefaultLine = "[PS:LoadProxySettings] Unable to read proxy port. Defaulting to port 8080";
