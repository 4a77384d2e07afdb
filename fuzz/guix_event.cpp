// Bytes that another client on the display appends to the toolkit's event
// property, as any X client can. Each 76-byte record's target (and the window
// word of a dialog request) is mapped onto this process's own windows. The
// queue must always drain, and no record may end the process.

// The test display's header brings gtest, which must come before Xlib.
#include "XDisplay.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "FuzzHarness.h"
#include "GUIX_Application.h"
#include "GUIX_Button.h"
#include "GUIX_Dialog.h"
#include "GUIX_TextLine.h"
#include "Subprocess.h"

namespace {

struct Scene {
    testsupport::XDisplay x{false};
    Display* other = nullptr;  // the foreign client
    std::unique_ptr<GUIX_Dialog> dialog;
    std::unique_ptr<GUIX_TextLine> entry;
    std::unique_ptr<GUIX_Button> button;
    std::vector<std::uint32_t> windows;
    std::atomic<bool> stopping{false}, ended{false};
    std::thread loop;  // a record may quit the loop: it runs again
    Atom property = 0, type = 0;
};
Scene* g_scene;  // left to the end of the process: the Xvfb goes with it

bool QueueEmpty(Scene& s) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(s.other, GUIX_Application::instance().eventWindowId(), s.property, 0, 0, False,
                       AnyPropertyType, &type, &format, &items, &after, &data);
    if (data) XFree(data);
    return type == None;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_scene = new Scene;
    Scene& s = *g_scene;
    FUZZ_CHECK(s.x.ok());
    setenv("DISPLAY", s.x.display().c_str(), 1);
    GUIX_Application& app = GUIX_Application::instance();
    s.dialog = std::make_unique<GUIX_Dialog>("Fuzz", 300, 120, 0x3);
    s.entry = std::make_unique<GUIX_TextLine>(s.dialog.get(), "entry", 10, 10, 200, 20, 0);
    s.button = std::make_unique<GUIX_Button>(s.dialog.get(), "Ok", 10, 50, 80, 20);
    s.windows = {0};
    for (GUIX_Widget* w : std::initializer_list<GUIX_Widget*>{s.dialog.get(), s.entry.get(), s.button.get()})
        s.windows.push_back(static_cast<std::uint32_t>(w->windowId()));
    s.loop = std::thread([&s, &app] {
        while (!s.stopping.load() && !app.displayLost()) app.run();
        s.ended = true;
    });
    app.waitUntilRunning();
    app.showDialog(s.dialog.get());
    s.other = XOpenDisplay(s.x.display().c_str());
    FUZZ_CHECK(s.other != nullptr);
    s.property = XInternAtom(s.other, "CLIENT_MESSAGE", False);
    s.type = XInternAtom(s.other, "GUIX_EVENT", False);
    std::atexit([] {
        Scene& s = *g_scene;
        s.stopping = true;
        while (!testsupport::WaitFor([&s] { return s.ended.load(); }, 50))
            GUIX_Application::instance().quit();
        s.loop.join();
        s.button.reset(), s.entry.reset(), s.dialog.reset();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Scene& s = *g_scene;
    std::vector<std::uint8_t> bytes(data, data + size);
    for (std::size_t at = 0; at + sizeof(GUIX_Event) <= size; at += sizeof(GUIX_Event)) {
        GUIX_Event e;
        std::memcpy(&e, &bytes[at], sizeof e);
        e.target = e.target == 0 ? 0 : s.windows[e.target % s.windows.size()];
        if (e.kind == EV_REGISTER_DIALOG || e.kind == EV_UNREGISTER_DIALOG)
            e.payload[0] = s.windows[e.payload[0] % s.windows.size()];
        std::memcpy(&bytes[at], &e, sizeof e);
    }
    XChangeProperty(s.other, GUIX_Application::instance().eventWindowId(), s.property, s.type, 8,
                    PropModeAppend, bytes.data(), static_cast<int>(size));
    XSync(s.other, False);
    FUZZ_CHECK(testsupport::WaitFor([&s] { return QueueEmpty(s); }, 5000, 1));
    GUIX_DisplayLock l;  // errors of what the records made us request arrive now
    if (l) XSync(l.display(), False);
    return 0;
}
