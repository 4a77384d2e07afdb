// Reads a protected log back: prints every good line, then the error lines.
// Exit status: 0 all lines good, 1 some line damaged, 2 the log could not be read.
//
//   logreader [log file]     (default: the launcher's log under $HOME/ZEL)

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ApplicationSettings.h"
#include "Log.h"
#include "UniqueFd.h"

namespace {

// Removes the temporary report however the program leaves.
class TempReport {
public:
    TempReport() {
        const char* dir = std::getenv("TMPDIR");
        m_path = std::string(dir && *dir ? dir : "/tmp") + "/logreader-XXXXXX";
        int fd = mkostemp(m_path.data(), O_CLOEXEC);
        if (fd < 0)
            m_path.clear();
        else
            close(fd);
    }
    ~TempReport() {
        if (!m_path.empty()) unlink(m_path.c_str());
    }
    TempReport(const TempReport&) = delete;
    TempReport& operator=(const TempReport&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

bool CopyToStdout(const std::string& path) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    char buffer[65536];
    ssize_t n;
    bool ok = true;
    while ((n = read(fd.get(), buffer, sizeof buffer)) > 0)
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), stdout) != static_cast<std::size_t>(n))
            ok = false;
    return ok && n == 0 && std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")))) {
        std::fprintf(stderr, "usage: %s [log file]\n", argv[0]);
        return 2;
    }
    const std::string log =
        argc == 2 ? argv[1] : LogFolder() + "/" + ApplicationSettings::Get()->GetExeLogName();

    TempReport report;
    if (report.path().empty()) {
        std::perror("logreader: temporary report");
        return 2;
    }
    int damaged = 0;
    if (!LogVerify(log.c_str(), report.path().c_str(), true, &damaged)) {
        std::fprintf(stderr, "logreader: cannot read %s\n", log.c_str());
        return 2;
    }
    if (!CopyToStdout(report.path())) {
        std::fprintf(stderr, "logreader: cannot write the report\n");
        return 2;
    }
    if (damaged > 0) {
        std::fprintf(stderr, "logreader: %d damaged line(s) in %s\n", damaged, log.c_str());
        return 1;
    }
    return 0;
}
