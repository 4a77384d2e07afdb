#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "ProxySettings.h"
#include "proxy_test_home.h"

namespace {

const char kKali[] = "mozilla-prefs/richlamdev-kali.prefs.js";
const char kNetscape[] = "netscape-prefs/jigdo-netscape4.preferences.js";
const char kOpera[] = "opera-ini/selenium-opera6-proxy.ini";
const char kKde3[] = "kde-kioslaverc/jigdo-kde3-type1-colon.kioslaverc";
const char kKde5[] = "kde-kioslaverc/jinxinkingG-kde5-type1-space.kioslaverc";
const char kKdeEnv[] = "kde-kioslaverc/chromium-kde-type4-http_proxy.kioslaverc";
const char kKioslaverc[] = ".kde/share/config/kioslaverc";

std::string Pref(const std::string& key, const std::string& value)
{
    return "user_pref(\"" + key + "\", " + value + ");\n";
}

// Discovery with the GNOME command answering nothing, unless a test says otherwise.
class Discovery : public ::testing::Test {
protected:
    void SetUp() override { ProxySettings::SetGnomeCommand("true"); }

    bool Load() { return settings.LoadProxySettings(); }
    std::string Host() const { return settings.host ? settings.host : "(null)"; }
    bool Logged() const { return home.Log().find(kPortDefaultLine) != std::string::npos; }

    ProxyHome home;
    ProxySettings settings;
};

}  // namespace

TEST_F(Discovery, NothingConfiguredFindsNothingAndLogsNothing)
{
    home.MakeFolder(".mozilla/default/empty");
    home.MakeFolder(".opera");
    setenv("http_proxy", "http://127.0.0.1:3128", 1);  // no source points at it
    EXPECT_FALSE(Load());
    EXPECT_EQ(PROXY_NONE, settings.type);
    EXPECT_EQ(nullptr, settings.host);
    EXPECT_EQ(0u, settings.port);
    EXPECT_EQ("", home.Log());
}

TEST_F(Discovery, UnsetOrEmptyHomeCountsAsNotFound)
{
    // A settings tree in the working folder must not be taken for one under HOME.
    home.Put(kKioslaverc, ProxyHome::Fixture(kKde3));
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    ASSERT_EQ(0, chdir(home.path().c_str()));
    unsetenv("HOME");
    bool unset = Load();
    setenv("HOME", "", 1);
    bool empty = Load();
    ASSERT_EQ(0, chdir(cwd));
    EXPECT_FALSE(unset);
    EXPECT_FALSE(empty);
    EXPECT_EQ(nullptr, settings.host);
}

TEST_F(Discovery, MozillaNetscapeAndFirefoxProfiles)
{
    home.Put(".mozilla/default/abcd.slt/prefs.js", ProxyHome::Fixture(kKali));
    EXPECT_TRUE(Load());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ("127.0.0.1", Host());
    EXPECT_EQ(8080u, settings.port);
    EXPECT_FALSE(Logged());

    ProxyHome netscapeHome;
    netscapeHome.Put(".netscape/preferences.js", ProxyHome::Fixture(kNetscape));
    EXPECT_TRUE(Load());
    EXPECT_EQ("localhost", Host());
    EXPECT_EQ(5865u, settings.port);

    // A Firefox folder lists more than profiles; the profile with prefs.js counts.
    ProxyHome firefoxHome;
    firefoxHome.MakeFolder(".mozilla/firefox/Crash Reports");
    firefoxHome.MakeFolder(".mozilla/firefox/Pending Pings");
    firefoxHome.Put(".mozilla/firefox/profiles.ini", "[Profile0]\nPath=x1y2.default\n");
    firefoxHome.Put(".mozilla/firefox/x1y2.default/prefs.js",
                    Pref("network.proxy.http", "\"http://proxy.example\"") + Pref("network.proxy.type", "1"));
    EXPECT_TRUE(Load());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ("proxy.example", Host());
    EXPECT_EQ(8080u, settings.port);
    EXPECT_NE(std::string::npos, firefoxHome.Log().find(kPortDefaultLine));

    // Phoenix comes before Firefox.
    firefoxHome.Put(".phoenix/default/p.slt/prefs.js",
                    Pref("network.proxy.type", "1") + Pref("network.proxy.http", "\"phoenix.example\"") +
                        Pref("network.proxy.http_port", "3128") + Pref("network.proxy.socks_version", "4"));
    EXPECT_TRUE(Load());
    EXPECT_EQ("phoenix.example", Host());
    EXPECT_EQ(3128u, settings.port);
    EXPECT_EQ(PROXY_SOCKS, settings.type);
}

TEST_F(Discovery, NonManualProfileTypesEndTheSearchWithoutAHost)
{
    home.Put(kKioslaverc, ProxyHome::Fixture(kKde3));  // would be found if the search went on
    const std::string stale = Pref("network.proxy.http", "\"stale.example\"") + Pref("network.proxy.http_port", "3128");
    const std::string profiles[] = {
        ProxyHome::Fixture("mozilla-prefs/webrtc-proxydetect-type2-pac.prefs.js"),
        ProxyHome::Fixture("mozilla-prefs/igloo-type5-system.user.js"),
        stale + ProxyHome::Fixture("mozilla-prefs/webrtc-proxydetect-type2-pac.prefs.js"),
        stale + Pref("network.proxy.type", "4"),
        stale + Pref("network.proxy.type", "5"),
        Pref("network.proxy.type", "1"),  // manual, but no host given
    };
    for (const std::string& prefs : profiles) {
        SCOPED_TRACE(prefs);
        home.Put(".mozilla/firefox/q.default/prefs.js", prefs);
        EXPECT_FALSE(Load());
        EXPECT_EQ(nullptr, settings.host);
        EXPECT_EQ(PROXY_HTTP, settings.type);
    }
    EXPECT_FALSE(Logged());

    // Type 0 (direct) is no answer: the search goes on to KDE.
    home.Put(".mozilla/firefox/q.default/prefs.js", stale + Pref("network.proxy.type", "0"));
    EXPECT_TRUE(Load());
    EXPECT_EQ("localhost2", Host());
    EXPECT_EQ(5865u, settings.port);
}

TEST_F(Discovery, OperaIni)
{
    home.Put(".opera/operaprefs.ini", "[Proxy]\nHTTP server=wrong.example:1\nUse HTTP=1\n");
    home.Put(".opera/opera6.ini", ProxyHome::Fixture(kOpera));
    EXPECT_TRUE(Load());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ("localhost", Host());
    EXPECT_EQ(4444u, settings.port);

    home.Put(".opera/opera6.ini", "[Proxy]\nHTTP Server=opera.example:8888\nUse HTTP=1\nUse Automatic Proxy Configuration=1\n");
    EXPECT_FALSE(Load());
    home.Put(".opera/opera6.ini", "[Proxy]\nHTTP Server=opera.example:8888\nUse HTTP=1\nUse Automatic Proxy Configuration=0\n");
    EXPECT_TRUE(Load());
    EXPECT_EQ("opera.example", Host());
    EXPECT_EQ(8888u, settings.port);
    home.Put(".opera/opera6.ini", "[Proxy]\nHTTP Server=opera.example:8888\nUse HTTP=0\n");
    EXPECT_FALSE(Load());

    // No colon: no port read from whatever follows the host.
    const std::string longHost(5000, 'h');
    home.Put(".opera/opera6.ini", "[Proxy]\nHTTP server=" + longHost + "\nUse HTTP=1\n");
    EXPECT_TRUE(Load());
    EXPECT_EQ(longHost, Host());
    EXPECT_EQ(8080u, settings.port);
    EXPECT_TRUE(Logged());
}

TEST_F(Discovery, KdeManualForms)
{
    home.Put(kKioslaverc, ProxyHome::Fixture(kKde3));
    EXPECT_TRUE(Load());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ("localhost2", Host());
    EXPECT_EQ(5865u, settings.port);

    // KDE 4 and later: a blank before the port.
    home.Put(kKioslaverc, ProxyHome::Fixture(kKde5));
    EXPECT_TRUE(Load());
    EXPECT_EQ("127.0.0.1", Host());
    EXPECT_EQ(7890u, settings.port);

    home.Put(kKioslaverc, "[Proxy Settings]\nProxyType=1\nhttpProxy=http://10.0.0.1:3128\n");
    EXPECT_TRUE(Load());
    EXPECT_EQ("10.0.0.1", Host());
    EXPECT_EQ(3128u, settings.port);
    EXPECT_FALSE(Logged());

    home.Put(kKioslaverc, "[Proxy Settings]\nProxyType=1\nhttpProxy=http://proxy/\n");
    EXPECT_TRUE(Load());
    EXPECT_EQ("proxy", Host());
    EXPECT_EQ(8080u, settings.port);

    const std::string longHost(20000, 'k');
    home.Put(kKioslaverc, "[Proxy Settings]\nProxyType=1\nhttpProxy=http://" + longHost + ":81\n");
    EXPECT_TRUE(Load());
    EXPECT_EQ(longHost, Host());
    EXPECT_EQ(81u, settings.port);

    for (const char* type : {"0", "2", "3"}) {
        home.Put(kKioslaverc, std::string("ProxyType=") + type + "\nhttpProxy=http://10.0.0.1:3128\nProxy Config Script=http://a/b.pac\n");
        EXPECT_FALSE(Load()) << type;
        EXPECT_EQ(PROXY_NONE, settings.type);
    }
    home.Put(kKioslaverc, "ProxyType=7\nhttpProxy=http://10.0.0.1:3128\n");
    EXPECT_FALSE(Load());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ(nullptr, settings.host);
}

TEST_F(Discovery, KdeEnvironmentVariable)
{
    home.Put(kKioslaverc, ProxyHome::Fixture(kKdeEnv));
    EXPECT_FALSE(Load());  // variable unset
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ(nullptr, settings.host);

    setenv("http_proxy", "10.1.2.3:3128", 1);
    EXPECT_TRUE(Load());
    EXPECT_EQ("10.1.2.3", Host());
    EXPECT_EQ(3128u, settings.port);

    setenv("http_proxy", "http://proxy.example:3128", 1);
    EXPECT_TRUE(Load());
    EXPECT_EQ("proxy.example", Host());
    EXPECT_EQ(3128u, settings.port);
    EXPECT_FALSE(Logged());

    setenv("http_proxy", "www.normal.com", 1);
    EXPECT_TRUE(Load());
    EXPECT_EQ("www.normal.com", Host());
    EXPECT_EQ(8080u, settings.port);
    EXPECT_TRUE(Logged());
}

TEST_F(Discovery, GnomeSettingsFile)
{
    ProxySettings::SetGnomeCommand(nullptr);  // the pipe cannot be made: read the file
    const std::string file = ".gconf/system/http_proxy/%gconf.xml";
    home.Put(".netscape/preferences.js", ProxyHome::Fixture(kNetscape));

    home.Put(file, ProxyHome::Fixture("gnome-gconf/gourav91-tabs-port80-enabled.gconf.xml"));
    EXPECT_TRUE(Load());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ("www-proxy.us.oracle.com", Host());
    EXPECT_EQ(80u, settings.port);

    home.Put(file, ProxyHome::Fixture("gnome-gconf/chisimba-old-spaces-hostname.gconf.xml"));
    EXPECT_TRUE(Load());
    EXPECT_EQ("cache.uwc.ac.za", Host());
    EXPECT_EQ(8080u, settings.port);
    EXPECT_TRUE(Logged());

    // The bypass list after the host entry leaves the host alone.
    const std::string dotted =
        "<?xml version=\"1.0\"?>\n<gconf>\n"
        "        <entry name=\"host\" mtime=\"1212577685\" type=\"string\">\n"
        "                <stringvalue>192.168.1.10</stringvalue>\n        </entry>\n"
        "        <entry name=\"port\" mtime=\"1212577685\" type=\"int\" value=\"3128\">\n        </entry>\n"
        "        <entry name=\"ignore_hosts\" mtime=\"1212577685\" type=\"list\" ltype=\"string\">\n"
        "                <li type=\"string\">\n                        <stringvalue>localhost</stringvalue>\n"
        "                </li>\n        </entry>\n"
        "        <entry name=\"use_http_proxy\" mtime=\"1212577675\" type=\"bool\" value=\"true\">\n        </entry>\n"
        "</gconf>\n";
    home.Put(file, dotted);
    EXPECT_TRUE(Load());
    EXPECT_EQ("192.168.1.10", Host());
    EXPECT_EQ(3128u, settings.port);

    // Not enabled: the search goes on (to Netscape here).
    std::string disabled = dotted;
    disabled.replace(disabled.find("\"bool\" value=\"true\""), 19, "\"bool\" value=\"false\"");
    home.Put(file, disabled);
    EXPECT_TRUE(Load());
    EXPECT_EQ("localhost", Host());
    EXPECT_EQ(5865u, settings.port);
}

TEST_F(Discovery, GnomeCommandOutput)
{
    home.Put(".netscape/preferences.js", ProxyHome::Fixture(kNetscape));
    const std::string fixture = std::string(SA_FIXTURES_DIR) + "/gnome-gconf/jingfenghanmax-blog-gconftool-R-output.txt";
    ProxySettings::SetGnomeCommand(("cat '" + fixture + "'").c_str());
    EXPECT_TRUE(Load());
    EXPECT_EQ(PROXY_HTTP, settings.type);
    EXPECT_EQ("${PROXYSERVER}", Host());
    EXPECT_EQ(81u, settings.port);

    // Output larger than one read piece, keys in any case; the value "true" is exact.
    std::string out(3000, '#');
    out += "\n HOST = gnome.example\n Port = 3129\n use_http_proxy = true\n";
    home.Put("out.txt", out);
    ProxySettings::SetGnomeCommand(("cat '" + home.path() + "/out.txt'").c_str());
    EXPECT_TRUE(Load());
    EXPECT_EQ("gnome.example", Host());
    EXPECT_EQ(3129u, settings.port);

    home.Put("out.txt", " host = gnome.example\n port = 3129\n use_http_proxy = True\n");
    EXPECT_TRUE(Load());
    EXPECT_EQ("localhost", Host());  // fell through to Netscape
}

TEST_F(Discovery, SourceOrder)
{
    ProxySettings::SetGnomeCommand(nullptr);
    home.Put(kKioslaverc, ProxyHome::Fixture(kKde3));
    home.Put(".opera/opera6.ini", ProxyHome::Fixture(kOpera));
    home.Put(".mozilla/firefox/f.default/prefs.js", Pref("network.proxy.type", "1") + Pref("network.proxy.http", "\"firefox.example\""));
    home.Put(".netscape/preferences.js", ProxyHome::Fixture(kNetscape));
    home.Put(".mozilla/default/m.slt/prefs.js", Pref("network.proxy.type", "1") + Pref("network.proxy.http", "\"mozilla.example\""));
    home.Put(".gconf/system/http_proxy/%gconf.xml", ProxyHome::Fixture("gnome-gconf/gourav91-tabs-port80-enabled.gconf.xml"));

    const std::pair<const char*, const char*> order[] = {
        {".gconf/system/http_proxy/%gconf.xml", "www-proxy.us.oracle.com"},
        {".mozilla/default/m.slt/prefs.js", "mozilla.example"},
        {".netscape/preferences.js", "localhost"},
        {".mozilla/firefox/f.default/prefs.js", "firefox.example"},
        {".opera/opera6.ini", "localhost"},
        {kKioslaverc, "localhost2"},
    };
    for (const auto& [file, host] : order) {
        EXPECT_TRUE(Load()) << file;
        EXPECT_EQ(host, Host()) << file;
        ASSERT_EQ(0, unlink((home.path() + "/" + file).c_str()));
    }
    EXPECT_FALSE(Load());
}

TEST_F(Discovery, LongLinesAndHostCleanUp)
{
    const std::string longComment = "// " + std::string(100000, 'c') + "\n";
    const struct {
        const char* given;
        const char* host;
        uint32_t port;
    } cases[] = {
        {"proxy.example", "proxy.example", 8080},
        {"http://proxy.example", "proxy.example", 8080},
        {"http://proxy.example/", "proxy.example", 8080},
        {"http://proxy.example:3130/path", "proxy.example", 3130},
        {"proxy.example:3131", "proxy.example", 3131},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        home.Put(".netscape/preferences.js", longComment + Pref("network.proxy.type", "1") +
                                                  Pref("network.proxy.http", std::string("\"") + c.given + "\"") +
                                                  longComment);
        EXPECT_TRUE(Load());
        EXPECT_EQ(c.host, Host());
        EXPECT_EQ(c.port, settings.port);
    }
    // A port from the profile wins over one inside the host text.
    home.Put(".netscape/preferences.js", Pref("network.proxy.type", "1") +
                                              Pref("network.proxy.http", "\"proxy.example:3131\"") +
                                              Pref("network.proxy.http_port", "3128"));
    EXPECT_TRUE(Load());
    EXPECT_EQ("proxy.example", Host());
    EXPECT_EQ(3128u, settings.port);

    // Nothing left of the host: no proxy, and no empty host either.
    home.Put(".netscape/preferences.js", Pref("network.proxy.type", "1") + Pref("network.proxy.http", "\"http:///\""));
    EXPECT_FALSE(Load());
    EXPECT_EQ(nullptr, settings.host);
}

TEST(ProxySettingsRecord, ResetCopyAndCredentials)
{
    ProxySettings a;
    EXPECT_EQ(PROXY_NONE, a.type);
    EXPECT_EQ(nullptr, a.host);
    EXPECT_EQ("", a.GetCredentials());
    a.type = PROXY_HTTP;
    a.SetHost("proxy.example");
    a.port = 3128;
    a.SetCredentials("user:pa:ss");

    ProxySettings b(a);
    a.SetHost("other.example");
    EXPECT_STREQ("proxy.example", b.host);
    EXPECT_EQ(3128u, b.port);
    EXPECT_EQ(PROXY_HTTP, b.type);
    EXPECT_EQ("user:pa:ss", b.GetCredentials());
    b = a;
    EXPECT_STREQ("other.example", b.host);
    b = b;
    EXPECT_STREQ("other.example", b.host);

    a.Reset();
    EXPECT_EQ(PROXY_NONE, a.type);
    EXPECT_EQ(nullptr, a.host);
    EXPECT_EQ(0u, a.port);
    EXPECT_EQ("", a.GetCredentials());
    a.SetHost(nullptr);
    EXPECT_EQ(nullptr, a.host);

    // Discovery keeps the credentials the user typed.
    ProxyHome home;
    ProxySettings::SetGnomeCommand("true");
    b.LoadProxySettings();
    EXPECT_EQ(nullptr, b.host);
    EXPECT_EQ("user:pa:ss", b.GetCredentials());
}
