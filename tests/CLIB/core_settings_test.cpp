#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "ApplicationSettings.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

TEST(CoreSettings, VariantTables) {
  const ZELsupportCustomization s;
  const ZELconnectCustomization c;
  const ZELadminCustomization a;
  const OVRACustomization v;
  const Customization* all[] = {&s, &c, &a, &v};
  const char* names[] = {"ZELsupport", "ZELconnect", "ZELadmin", "VUK connect"};
  const char* rc[] = {"ZELsupportRC", "ZELconnectRC", "ZELadminRC", "VUKconnectRC"};
  const char* dirs[] = {"/usr/local/ZEL/ZELsupport", "/usr/local/ZEL/ZELconnect",
                        "/usr/local/ZEL/ZELadmin", "/usr/local/VUK/VUKconnect"};
  const char* setup[] = {"ZELsupport_Setup", "ZELConnect_Setup", "ZELadmin_Setup",
                         "VUK Connect_Setup"};
  const char* scripts[] = {"ZELSupportScript", "ZELConnectScript", "ZELAdminScript",
                           "VUKconnectScript"};
  const char* ids[] = {"com.zel.support.service", "com.zel.connect.service",
                       "com.zel.admin.service", "com.vuk.connect.service"};
  const char* prefixes[] = {"zelsupport_", "zelconnect_", "zeladmin_", "vukconnect_"};
  for (int i = 0; i < 4; ++i) {
    const Customization& x = *all[i];
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(x.GetProductId(), i);
    EXPECT_EQ(x.GetProductName(), names[i]);
    EXPECT_EQ(x.GetRemoteControlName(), rc[i]);
    EXPECT_EQ(x.GetInstallDirectory(), dirs[i]);
    EXPECT_EQ(x.GetSetupName(), setup[i]);
    EXPECT_EQ(x.GetScriptName(), scripts[i]);
    EXPECT_EQ(x.GetServiceIdentifier(), ids[i]);
    EXPECT_EQ(x.GetFilePrefix(), prefixes[i]);
    EXPECT_EQ(x.GetServiceLogName(), std::string(prefixes[i]) + "service.log");
    EXPECT_EQ(x.GetInstallerLogName(), std::string(prefixes[i]) + "installer.log");
    EXPECT_EQ(x.GetInterfaceLogName(), std::string(prefixes[i]) + "interface.log");
    EXPECT_EQ(x.GetServerBranch(), i == 0 ? "" : "main");
    EXPECT_EQ(x.GetVariantNumber(), i == 0 ? 504 : 0);
    EXPECT_EQ(x.GetServiceName(), i == 3 ? "VUKservice" : "ZELservice");
    EXPECT_EQ(x.GetShortName(), i == 3 ? "vuk" : "zel");
    EXPECT_EQ(x.GetConnectTestPage(), i == 0 ? "/interfaces/web/installable/connecttest.asp"
                                             : "/main/interfaces/connecttest.asp");
    EXPECT_EQ(x.GetExeLogName(), "exe.log");
    EXPECT_EQ(x.GetSessionPage(), "interfaces/web/isd/session.asp");
    const std::string url = x.GetDefaultServerUrl();
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - 10), "/velmoran/");
    EXPECT_NE(x.GetSupportEmail().find('@'), std::string::npos);
  }
  EXPECT_EQ(v.GetSupportEmail(), c.GetSupportEmail());
  EXPECT_NE(s.GetSupportEmail(), c.GetSupportEmail());
  EXPECT_NE(a.GetSupportEmail(), c.GetSupportEmail());
}

TEST(CoreSettings, SelectionByInstallationDirectory) {
  const Customization* admin = ApplicationSettings::SelectFor("/usr/local/ZEL/ZELadmin");
  ASSERT_NE(admin, nullptr);
  EXPECT_EQ(admin->GetProductId(), 2);
  EXPECT_EQ(ApplicationSettings::SelectFor("/usr/local/VUK/VUKconnect")->GetProductId(), 3);
  EXPECT_EQ(ApplicationSettings::SelectFor("/usr/local/ZEL/ZELadmin/sub"), nullptr);
  EXPECT_EQ(ApplicationSettings::SelectFor("/usr/local/zel/ZELsupport"), nullptr);
  EXPECT_EQ(ApplicationSettings::SelectFor("/usr/local/ZEL/ZELadmin/"), nullptr);
  EXPECT_EQ(ApplicationSettings::SelectFor(""), nullptr);

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
  EXPECT_NE(self.back(), '/');
  EXPECT_EQ(access((self + "/core_settings_test").c_str(), X_OK), 0) << self;

  testsupport::TempDir dir;
  for (std::size_t length : {100u, 511u, 512u, 513u, 1500u}) {
    // A target of exactly `length` characters; it need not exist.
    std::string folder = "/";
    while (folder.size() < length - 2) folder += "d/";
    folder.resize(length - 2);
    if (folder.back() == '/') folder.back() = 'e';
    const std::string target = folder + "/x";
    ASSERT_EQ(target.size(), length);
    const std::string link = dir.path() + "/link" + std::to_string(length);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(LinkDirectory(link.c_str()), folder) << length;
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(LinkDirectory((dir.path() + "/missing").c_str()), "");
  EXPECT_NE(testing::internal::GetCapturedStdout().find("SelfPath unable to read"),
            std::string::npos);
}

} // namespace
