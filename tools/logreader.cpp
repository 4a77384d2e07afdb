// Reads a protected log back: prints every good line, then the error lines.
// Exit status: 0 all lines good, 1 some line damaged, 2 the log could not be read.
//
//   logreader [log file]     (default: the launcher's log under $HOME/ZEL)

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ApplicationSettings.h"
#include "Log.h"

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")))) {
        std::fprintf(stderr, "usage: %s [log file]\n", argv[0]);
        return 2;
    }
    const std::string log =
        argc == 2 ? argv[1] : LogFolder() + "/" + ApplicationSettings::Get()->GetExeLogName();

    // Straight to stdout: the decrypted text never lands in a file of its own.
    int damaged = 0;
    if (!LogVerifyTo(log.c_str(), STDOUT_FILENO, &damaged)) {
        std::fprintf(stderr, "logreader: cannot read %s\n", log.c_str());
        return 2;
    }
    if (damaged > 0) {
        std::fprintf(stderr, "logreader: %d damaged line(s) in %s\n", damaged, log.c_str());
        return 1;
    }
    return 0;
}
