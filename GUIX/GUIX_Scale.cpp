#include "GUIX_Scale.h"

#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// A positive finite number and nothing else, or 0.
double Number(const char* text) {
    if (!text || !*text) return 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    return end && *end == '\0' && std::isfinite(value) && value > 0 ? value : 0;
}

double XftDpi(const char* resources) {
    if (!resources || !*resources) return 0;
    static std::once_flag init;
    std::call_once(init, [] { XrmInitialize(); });
    XrmDatabase db = XrmGetStringDatabase(resources);
    if (!db) return 0;
    char* type = nullptr;
    XrmValue value{};
    double dpi = 0;
    if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr && type &&
        std::strcmp(type, "String") == 0)
        dpi = Number(value.addr);
    XrmDestroyDatabase(db);
    return dpi;
}

}  // namespace

double GUIX_DesktopScale(const char* resourceManager, const char* gdkScale, const char* qtScaleFactor) {
    double scale = XftDpi(resourceManager) / 96.0;
    if (scale <= 0) scale = Number(gdkScale);
    if (scale <= 0) scale = Number(qtScaleFactor);
    if (scale <= 0) scale = 1;
    return std::clamp(std::round(scale * 4) / 4, 1.0, 4.0);
}
