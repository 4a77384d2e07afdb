#include "GUIX_Libraries.h"

#include "GUIX_Xft.h"

#include "Log.h"

namespace {

bool Report(const DynamicLibrary& library, const char* name, const char* effect) {
    if (!library.loaded())
        LogWrite("WARNING: %s is missing (%s): %s", name, library.problem().c_str(), effect);
    return true;
}

}  // namespace

#define SA_OPTIONAL_LIBRARY(Table, function, name, effect, ...)                             \
    const Table* function() {                                                               \
        static const LoadedLibrary<Table> loaded{__VA_ARGS__};                              \
        [[maybe_unused]] static const bool reported = Report(loaded.library, name, effect); \
        return loaded.get();                                                                \
    }

SA_OPTIONAL_LIBRARY(GUIX_XpmFunctions, GUIX_Xpm, "libXpm", "the windows have no icon", "libXpm.so.4")
SA_OPTIONAL_LIBRARY(GUIX_XtstFunctions, GUIX_Xtst, "libXtst", "no input grab control", "libXtst.so.6")
SA_OPTIONAL_LIBRARY(GUIX_IceFunctions, GUIX_Ice, "libICE", "no session management", "libICE.so.6")
SA_OPTIONAL_LIBRARY(GUIX_SmFunctions, GUIX_Sm, "libSM", "no session management", "libSM.so.6")
SA_OPTIONAL_LIBRARY(GUIX_FcFunctions, GUIX_Fc, "libfontconfig", "texts in the core X font",
                    "libfontconfig.so.1")
SA_OPTIONAL_LIBRARY(GUIX_XrenderFunctions, GUIX_Xrender, "libXrender", "texts in the core X font",
                    "libXrender.so.1")
SA_OPTIONAL_LIBRARY(GUIX_XftFunctions, GUIX_Xft, "libXft", "texts in the core X font", "libXft.so.2")
