#pragma once
// A private HOME with no proxy variables and a plain log under it; the
// environment is put back when it goes. Header only: the tests that use it
// link net, the support library does not.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Log.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace testsupport {

class ProxyHome {
public:
    ProxyHome() {
        for (const char* name :
             {"HOME", "PATH", "XDG_CONFIG_HOME", "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
              "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY", "GSETTINGS_BACKEND", "XDG_CURRENT_DESKTOP"}) {
            const char* v = getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            if (std::string(name) != "PATH") unsetenv(name);
        }
        setenv("HOME", dir_.path().c_str(), 1);
        LogInit("proxy-test.log", false, true);
    }
    ~ProxyHome() {
        LogInit("", false, false);
        for (const auto& [name, value] : saved_) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    const std::string& path() const { return dir_.path(); }

    // A stand-in gconftool-2 alone on PATH that prints output; null: none to start.
    void GnomeTool(const char* output) const {
        std::filesystem::create_directories(dir_ / "bin");
        std::filesystem::remove(dir_ / "bin/gconftool-2");
        if (output)
            WriteFile(dir_ / "bin/gconftool-2",
                      "#!/bin/sh\n/bin/cat <<'EOF'\n" + std::string(output) + "\nEOF\n", 0755);
        setenv("PATH", (dir_ / "bin").c_str(), 1);
    }
    // A file under HOME, with its folders.
    void Put(const std::string& relative, const std::string& content) const {
        std::filesystem::create_directories(std::filesystem::path(dir_ / relative).parent_path());
        WriteFile(dir_ / relative, content);
    }
    static std::string Fixture(const std::string& name) {
        std::string text = ReadFile(std::string(SA_FIXTURES_DIR) + "/" + name);
        if (name.find(".b64") != std::string::npos) text.erase(text.find_last_not_of("\r\n") + 1);
        return text;
    }
    std::string Log() const { return ReadFile(dir_ / "ZEL/proxy-test.log"); }
    // What the last discovery found, as its one line says.
    std::string Found() const {
        const std::string log = Log();
        const size_t line = log.rfind(" Proxy: ");
        return line == std::string::npos ? "" : log.substr(line + 8, log.find('\r', line) - line - 8);
    }

private:
    TempDir dir_{"sa-home"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

}  // namespace testsupport
