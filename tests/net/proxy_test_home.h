#pragma once
// A private HOME with no proxy variables, a plain log under it, and the
// environment put back afterwards. GnomeTool puts a stand-in gconftool-2
// alone on PATH.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Log.h"
#include "ProxySettings.h"
#include "Subprocess.h"
#include "TempDir.h"

class ProxyHome {
public:
    ProxyHome() {
        for (const char* name :
             {"HOME", "PATH", "XDG_CONFIG_HOME", "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
              "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY", "GSETTINGS_BACKEND", "XDG_CURRENT_DESKTOP"}) {
            const char* v = getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            if (std::string(name) != "HOME" && std::string(name) != "PATH") unsetenv(name);
        }
        setenv("HOME", dir_.path().c_str(), 1);
        LogInit("proxy-test.log", false, true);
    }
    ~ProxyHome() {
        LogInit("", false, false);
        for (const auto& [name, value] : saved_) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }

    const std::string& path() const { return dir_.path(); }

    // gconftool-2 prints output (null: there is none to start).
    void GnomeTool(const char* output) const {
        MakeFolder("bin");
        unlink((dir_.path() + "/bin/gconftool-2").c_str());
        if (output) {
            Put("gconftool.out", output);
            testsupport::WriteFile(dir_.path() + "/bin/gconftool-2",
                                   "#!/bin/sh\nexec /bin/cat \"$HOME/gconftool.out\"\n", 0755);
        }
        Set("PATH", dir_.path() + "/bin");
    }
    void Set(const char* name, const std::string& value) const { setenv(name, value.c_str(), 1); }

    // Writes a file under HOME, making its folders.
    void Put(const std::string& relative, const std::string& content) const {
        const std::filesystem::path full = dir_.path() + "/" + relative;
        std::filesystem::create_directories(full.parent_path());
        testsupport::WriteFile(full.string(), content);
    }
    void MakeFolder(const std::string& relative) const {
        std::filesystem::create_directories(dir_.path() + "/" + relative);
    }

    static std::string Fixture(const std::string& name) {
        return testsupport::ReadFile(std::string(SA_FIXTURES_DIR) + "/" + name);
    }
    static std::string Trimmed(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }

    std::string Log() const { return testsupport::ReadFile(dir_.path() + "/ZEL/proxy-test.log"); }
    // What the last discovery found, as its one line says.
    std::string Found() const {
        const std::string log = Log();
        const size_t line = log.rfind(" Proxy: ");
        return line == std::string::npos ? "" : log.substr(line + 8, log.find('\r', line) - line - 8);
    }

private:
    testsupport::TempDir dir_{"sa-home"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

inline const char* const kPortDefaultLine =
    "[PS:LoadProxySettings] Unable to read proxy port. Defaulting to port 8080";
