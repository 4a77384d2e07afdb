// LogVerify over a fuzzed log file named exe.log, as the launcher's is; the
// report goes nowhere. The file lives only while it is read.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "FuzzHarness.h"
#include "Log.h"
#include "UniqueFd.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char folder[] = "/tmp/sa-fuzz-log-XXXXXX";
    FUZZ_CHECK(mkdtemp(folder) != nullptr);
    const std::string log = std::string(folder) + "/exe.log";
    {
        UniqueFd fd(open(log.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        FUZZ_CHECK(fd.get() >= 0 && write(fd.get(), data, size) == static_cast<ssize_t>(size));
    }
    const UniqueFd sink(open("/dev/null", O_WRONLY | O_CLOEXEC));
    int damaged = -1;
    const bool read = LogVerifyTo(log.c_str(), sink.get(), &damaged);
    unlink(log.c_str());
    rmdir(folder);
    FUZZ_CHECK(read && damaged >= 0);
    FUZZ_CHECK(damaged <= std::count(data, data + size, '\n') + 1);
    return 0;
}
