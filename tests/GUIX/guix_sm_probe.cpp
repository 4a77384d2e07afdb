// A toolkit client for the tests, run as a child process.
//  (no argument) runs the loop, which registers with the session manager
//      named by SESSION_MANAGER, and waits in a shown modal dialog until the
//      session manager tells it to die. Exits 3 when the dialog ever ends.
//  "headless" expects no display: everything must return at once; exits 0
//      when it does, 1 otherwise.
// Exits 2 when the display it needs is missing.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "GUIX_Application.h"
#include "GUIX_Dialog.h"
#include "GUIX_Label.h"
#include "Log.h"

namespace {

int Headless(GUIX_Application& app) {
    if (app.hasDisplay()) return 2;
    GUIX_Dialog dialog("Nowhere", 200, 80, 0x3);
    GUIX_Label label(&dialog, "text", 10, 10, 100, 20, 0x20);
    label.setText("still fine");
    app.showDialog(&dialog);
    bool ran = app.run();  // returns at once
    app.waitUntilRunning();
    int result = app.runModal(&dialog);
    dialog.close();
    app.quit();
    std::printf("ran=%d result=%d width=%d\n", ran ? 1 : 0, result, app.screenWidth());
    return (!ran && result == 1 && app.screenWidth() == 0 && label.text() == "still fine") ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    LogInit("guix-probe.log", false, true);
    GUIX_Application& app = GUIX_Application::instance();
    if (argc > 1 && std::strcmp(argv[1], "headless") == 0) return Headless(app);
    if (!app.hasDisplay()) return 2;
    std::thread gui([&app] { app.run(); });
    app.waitUntilRunning();
    GUIX_Dialog dialog("Probe", 200, 80, 0x3);
    std::printf("shown\n");
    std::fflush(stdout);
    app.runModal(&dialog);
    app.quit();
    gui.join();
    return 3;
}
