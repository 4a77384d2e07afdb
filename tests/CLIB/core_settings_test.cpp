#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "ApplicationSettings.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

// Each variant is chosen by its exact folder; its files and service are named after it.
TEST(CoreSettings, VariantSelectionByInstallationDirectory) {
    const struct {
        const char *dir, *name, *serviceLog;
    } t[] = {{"/usr/local/ZEL/ZELsupport", "ZELsupport", "zelsupport_service.log"},
             {"/usr/local/ZEL/ZELconnect", "ZELconnect", "zelconnect_service.log"},
             {"/usr/local/ZEL/ZELadmin", "ZELadmin", "zeladmin_service.log"},
             {"/usr/local/VUK/VUKconnect", "VUK connect", "vukconnect_service.log"}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(t[i].dir);
        const Customization* x = ApplicationSettings::SelectFor(t[i].dir);
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(x->GetProductId(), i);
        EXPECT_EQ(x->GetInstallDirectory(), t[i].dir);
        EXPECT_EQ(x->GetProductName(), t[i].name);
        EXPECT_EQ(x->GetServiceLogName(), t[i].serviceLog);
    }
    for (const char* other :
         {"/usr/local/ZEL/ZELadmin/sub", "/usr/local/zel/ZELsupport", "/usr/local/ZEL/ZELadmin/", ""})
        EXPECT_EQ(ApplicationSettings::SelectFor(other), nullptr) << other;

    // This test runs from a build folder: the fallback, an instance of its own.
    const Customization* current = ApplicationSettings::Get();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->GetProductId(), 0);
    EXPECT_NE(current, ApplicationSettings::SelectFor("/usr/local/ZEL/ZELsupport"));
    EXPECT_EQ(ApplicationSettings::Get(), current);
}

TEST(CoreSettings, SelfPathAndLongLinks) {
    const std::string self = SelfPath();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(access((self + "/core_settings_test").c_str(), X_OK), 0) << self;

    testsupport::TempDir dir;
    for (std::size_t length : {100u, 511u, 512u, 513u, 1500u}) {
        // A target of exactly `length` characters ("/d/d/.../e/x"); it need not exist.
        std::string folder = "/";
        while (folder.size() < length - 2) folder += "d/";
        folder.resize(length - 2);
        if (folder.back() == '/') folder.back() = 'e';
        const std::string link = dir.path() + "/link" + std::to_string(length);
        ASSERT_EQ(symlink((folder + "/x").c_str(), link.c_str()), 0);
        EXPECT_EQ(LinkDirectory(link.c_str()), folder) << length;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(LinkDirectory((dir.path() + "/missing").c_str()), "");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("SelfPath unable to read"), std::string::npos);
}

}  // namespace
