#pragma once
// Chooses, once per process, the product variant the running copy belongs to.

#include <memory>
#include <string>
#include <vector>

#include "Customization.h"

class ApplicationSettings {
public:
    // The active variant (never null): the first whose installation directory is
    // the executable's directory, else ZELsupport. Chosen on the first call.
    static const Customization* Get();
    // The choice Get makes for an executable in `directory` (no caching).
    static const Customization* SelectFor(const std::string& directory);

private:
    static void Register();
    // One instance of each variant in index order; filled once, never changed.
    static std::vector<std::unique_ptr<Customization>> m_settings;
};

// Directory of the running executable without a trailing "/", "" when unreadable.
std::string SelfPath();
// The same for any symbolic link (the link's target up to its last "/").
std::string LinkDirectory(const char* linkPath);
