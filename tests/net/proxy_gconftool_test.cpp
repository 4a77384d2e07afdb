#include <gtest/gtest.h>

#include <string>

#include "ProxySettings.h"
#include "Subprocess.h"
#include "proxy_test_home.h"

namespace {

// The real gconftool-2 under a private HOME; without a session bus it works
// on the files under HOME/.gconf directly and starts no daemon.
class GconfTool : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "GCONF_CONFIG_SOURCE"})
            unsetenv(name);
    }

    void Set(const std::string& key, const char* type, const std::string& value) {
        auto r = testsupport::Run(
            {"gconftool-2", "--set", "/system/http_proxy/" + key, "--type", type, value}, 20000);
        ASSERT_FALSE(r.timedOut);
        ASSERT_EQ(0, r.exitCode) << r.output;
    }

    void Expect(const char* host, uint32_t port) {
        ASSERT_TRUE(settings.LoadProxySettings("http://support.example/"));
        EXPECT_EQ(PROXY_HTTP, settings.type);
        EXPECT_STREQ(host, settings.host);
        EXPECT_EQ(port, settings.port);
    }

    ProxyHome home;
    ProxySettings settings;
};

}  // namespace

TEST_F(GconfTool, ValuesSetWithGconftoolAreFound) {
    home.Put(".netscape/preferences.js", ProxyHome::Fixture("netscape-prefs/jigdo-netscape4.preferences.js"));
    Set("host", "string", "gnome.example");
    Set("port", "int", "3128");
    Set("use_http_proxy", "bool", "true");
    Expect("gnome.example", 3128);

    Set("port", "int", "0");
    Expect("gnome.example", 8080);
    EXPECT_NE(std::string::npos, home.Log().find(kPortDefaultLine));

    Set("use_http_proxy", "bool", "false");  // switched off: the next source answers
    Expect("localhost", 5865);
}

// What the real tool wrote is read from its file when the tool cannot be started.
TEST_F(GconfTool, MissingGconftoolReadsItsSettingsFile) {
    Set("host", "string", "192.168.7.7");
    Set("port", "int", "3128");
    Set("use_http_proxy", "bool", "true");
    home.GnomeTool(nullptr);
    Expect("192.168.7.7", 3128);
}
