#include "ApplicationSettings.h"

// The assertions here guard programming errors and stay on in release builds.
#undef NDEBUG
#include <assert.h>

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

std::vector<std::unique_ptr<Customization>> ApplicationSettings::m_settings;

void ApplicationSettings::Register() {
    static std::once_flag once;
    std::call_once(once, [] {
        m_settings.push_back(std::make_unique<ZELsupportCustomization>());
        m_settings.push_back(std::make_unique<ZELconnectCustomization>());
        m_settings.push_back(std::make_unique<ZELadminCustomization>());
        m_settings.push_back(std::make_unique<OVRACustomization>());
    });
    if (m_settings.empty()) __assert_fail("!m_settings.empty()", __FILE__, __LINE__, __PRETTY_FUNCTION__);
}

const Customization* ApplicationSettings::SelectFor(const std::string& directory) {
    Register();
    for (const auto& c : m_settings)
        if (c->MatchesInstallation(directory)) return c.get();
    return nullptr;
}

const Customization* ApplicationSettings::Get() {
    // Chosen once; copies started from anywhere but an installation directory get
    // a ZELsupport instance of their own.
    static const Customization* const current = [] {
        const Customization* c = SelectFor(SelfPath());
        if (c) return c;
        static ZELsupportCustomization fallback;
        return static_cast<const Customization*>(&fallback);
    }();
    return current;
}

std::string LinkDirectory(const char* linkPath) {
    std::vector<char> buffer(512, 0);
    for (;;) {
        ssize_t n = readlink(linkPath, buffer.data(), buffer.size());
        if (n < 0) {
            std::printf("%s unable to read %s:%s\n", "SelfPath", linkPath, std::strerror(errno));
            return std::string();
        }
        if (static_cast<std::size_t>(n) >= buffer.size()) {  // may be cut: read again, larger
            buffer.assign(buffer.size() * 2, 0);
            continue;
        }
        std::string target(buffer.data(), static_cast<std::size_t>(n));
        std::size_t slash = target.rfind('/');
        return slash == std::string::npos ? std::string() : target.substr(0, slash);
    }
}

std::string SelfPath() { return LinkDirectory("/proc/self/exe"); }
