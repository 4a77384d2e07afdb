#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProxySettings.h"
#include "Subprocess.h"
#include "proxy_test_home.h"

namespace {

// The real gconftool-2 under a private HOME. Without a session bus it works
// on the files under HOME/.gconf directly and starts no daemon.
class GconfTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "GCONF_CONFIG_SOURCE"})
            unsetenv(name);
    }

    void Set(const std::string& key, const char* type, const std::string& value)
    {
        auto r = testsupport::Run({"gconftool-2", "--set", "/system/http_proxy/" + key, "--type", type, value}, 20000);
        ASSERT_FALSE(r.timedOut);
        ASSERT_EQ(0, r.exitCode) << r.output;
    }

    ProxyHome home;
    ProxySettings settings;
};

}  // namespace

TEST_F(GconfTool, ValuesSetWithGconftoolAreFound)
{
    home.Put(".netscape/preferences.js", ProxyHome::Fixture("netscape-prefs/jigdo-netscape4.preferences.js"));
    Set("host", "string", "gnome.example");
    Set("port", "int", "3128");
    Set("use_http_proxy", "bool", "true");
    ASSERT_TRUE(settings.LoadProxySettings());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_STREQ("gnome.example", settings.host);
    EXPECT_EQ(3128u, settings.port);

    Set("port", "int", "0");
    ASSERT_TRUE(settings.LoadProxySettings());
    EXPECT_EQ(8080u, settings.port);
    EXPECT_NE(std::string::npos, home.Log().find(kPortDefaultLine));

    // Switched off: the next source answers.
    Set("use_http_proxy", "bool", "false");
    ASSERT_TRUE(settings.LoadProxySettings());
    EXPECT_STREQ("localhost", settings.host);
    EXPECT_EQ(5865u, settings.port);
}

TEST_F(GconfTool, MissingGconftoolPassesToTheNextSource)
{
    Set("host", "string", "gnome.example");
    Set("use_http_proxy", "bool", "true");
    home.Put(".kde/share/config/kioslaverc", ProxyHome::Fixture("kde-kioslaverc/jigdo-kde3-type1-colon.kioslaverc"));
    setenv("PATH", (home.path() + "/no-such-bin").c_str(), 1);
    ASSERT_TRUE(settings.LoadProxySettings());
    EXPECT_STREQ("localhost2", settings.host);
    EXPECT_EQ(5865u, settings.port);
}
