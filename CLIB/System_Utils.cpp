#include "System_Utils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "Log.h"

int CallSystem(const char* command, const char* arg1, const char* arg2, const char* arg3, const char* arg4,
               const char* arg5, const char* arg6) {
    std::string line = command ? command : "";
    for (const char* arg : {arg1, arg2, arg3, arg4, arg5, arg6}) {
        if (arg) {
            line += ' ';
            line += arg;
        }
    }
    int result = system(line.c_str());
    if (result == -1) {
        int err = errno;
        LogWrite("ERROR: CallSystem(%s) Failed: %s", line.c_str(), strerror(err));
    }
    return result;
}

bool IsRoot() { return geteuid() == 0; }

std::string ShellQuoteIfNeeded(const std::string& arg) {
    if (arg.empty()) return "''";
    // Characters that never mean anything to the shell, wherever they stand.
    static const char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@%";
    bool plain = arg.find_first_not_of(kPlain) == std::string::npos;
    if (plain) return arg;
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}
