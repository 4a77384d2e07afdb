// The main of every test program: like gtest_main, but a program that runs
// proxy discovery must answer as its own helper process too, and no test
// inherits a proxy or a desktop session that could reroute loopback traffic.
#include <gtest/gtest.h>

#include <cstdlib>

#include "DesktopProxy.h"

int main(int argc, char** argv) {
    if (IsDesktopProxyHelper(argc, argv)) RunDesktopProxyHelper(argv[1]);
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
          "NO_PROXY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "GNOME_DESKTOP_SESSION_ID",
          "KDE_FULL_SESSION", "XDG_CONFIG_HOME", "GSETTINGS_BACKEND"})
        unsetenv(name);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
