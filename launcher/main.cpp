#include "DesktopProxy.h"
#include "Launcher.h"

int main(int argc, char** argv) {
    // The launcher's own helper process for the desktop's proxy settings.
    if (IsDesktopProxyHelper(argc, argv)) RunDesktopProxyHelper(argv[1]);
    return LauncherMain(argc > 0 ? argv[0] : nullptr);
}
