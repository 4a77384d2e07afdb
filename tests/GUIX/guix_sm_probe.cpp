// A toolkit client run as a child process by the session tests.
//  (no argument): runs the loop, which registers with the session manager named by
//      SESSION_MANAGER, and waits in a modal dialog until told to die; exits 3 if the dialog ends.
//  "headless": expects no display; everything must return at once: exits 0 when it does.
// Exits 2 when the display is not as expected.

#include <cstdio>
#include <cstring>
#include <thread>

#include "GUIX_Application.h"
#include "GUIX_Dialog.h"
#include "GUIX_Label.h"
#include "Log.h"

int main(int argc, char** argv) {
    LogInit("guix-probe.log", false, true);
    GUIX_Application& app = GUIX_Application::instance();
    bool headless = argc > 1 && std::strcmp(argv[1], "headless") == 0;
    if (app.hasDisplay() == headless) return 2;
    if (headless) {
        GUIX_Dialog dialog("Nowhere", 200, 80, 0x3);
        GUIX_Label label(&dialog, "text", 10, 10, 100, 20, 0x20);
        label.setText("still fine");
        app.showDialog(&dialog);
        bool ran = app.run();
        app.waitUntilRunning();
        int result = app.runModal(&dialog);
        dialog.close();
        app.quit();
        std::printf("ran=%d result=%d width=%d\n", ran, result, app.screenWidth());
        return (!ran && result == 1 && app.screenWidth() == 0 && label.text() == "still fine") ? 0 : 1;
    }
    std::thread gui([&app] { app.run(); });
    app.waitUntilRunning();
    GUIX_Dialog dialog("Probe", 200, 80, 0x3);
    app.runModal(&dialog);
    app.quit();
    gui.join();
    return 3;
}
