#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "ApplicationSettings.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

// Each variant is chosen by its exact folder; its files and service are named after it.
TEST(CoreSettings, VariantSelectionByInstallationDirectory) {
    // clang-format off
    const struct {
        const char *dir, *name, *serviceLog;
    } t[] = {{"/usr/local/ZEL/ZELsupport", "ZELsupport", "zelsupport_service.log"},
             {"/usr/local/ZEL/ZELconnect", "ZELconnect", "zelconnect_service.log"},
             {"/usr/local/ZEL/ZELadmin", "ZELadmin", "zeladmin_service.log"},
             {"/usr/local/VUK/VUKconnect", "VUK connect", "vukconnect_service.log"},
             {"/usr/local/ZEL/ZELadmin/sub", nullptr, nullptr}, {"/usr/local/zel/ZELsupport", nullptr, nullptr},
             {"/usr/local/ZEL/ZELadmin/", nullptr, nullptr}, {"", nullptr, nullptr}};
    // clang-format on
    for (int i = 0; i < 8; ++i) {
        const Customization* x = ApplicationSettings::SelectFor(t[i].dir);
        ASSERT_EQ(x != nullptr, t[i].name != nullptr) << t[i].dir;
        if (!x) continue;
        EXPECT_EQ(x->GetProductId(), i);
        EXPECT_EQ(x->GetInstallDirectory() + x->GetProductName() + x->GetServiceLogName(),
                  std::string(t[i].dir) + t[i].name + t[i].serviceLog);
    }
    // This test runs from a build folder: the fallback, an instance of its own.
    const Customization* current = ApplicationSettings::Get();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->GetProductId(), 0);
    EXPECT_NE(current, ApplicationSettings::SelectFor("/usr/local/ZEL/ZELsupport"));
}

TEST(CoreSettings, SelfPathAndLongLinks) {
    EXPECT_EQ(access((SelfPath() + "/core_settings_test").c_str(), X_OK), 0) << SelfPath();
    testsupport::TempDir dir;
    for (std::size_t length : {511u, 512u, 513u, 1500u}) {
        // A target of exactly `length` characters ("/d/d/.../e/x"); it need not exist.
        std::string folder = "/";
        while (folder.size() < length - 2) folder += "d/";
        folder.resize(length - 2);
        if (folder.back() == '/') folder.back() = 'e';
        ASSERT_EQ(symlink((folder + "/x").c_str(), (dir / std::to_string(length)).c_str()), 0);
        EXPECT_EQ(LinkDirectory((dir / std::to_string(length)).c_str()), folder) << length;
    }
}

}  // namespace
