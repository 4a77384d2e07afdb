// libstdc++ is linked statically and refers to arc4random, which glibc has
// only since 2.36; copies must start on 2.34 (README). The same contract over
// getrandom (2.25): never a weak value; with no randomness at all it aborts,
// as glibc's own does.

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/random.h>
#include <unistd.h>

static int FillFromUrandom(void* buffer, size_t size) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, (char*)buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (size_t)n;
    }
    close(fd);
    return done == size ? 0 : -1;
}

uint32_t arc4random(void) {
    uint32_t value;
    for (;;) {
        ssize_t n = getrandom(&value, sizeof value, 0);
        if (n == (ssize_t)sizeof value) return value;
        if (n < 0 && errno == EINTR) continue;
        break;  // a kernel without getrandom (before 3.17)
    }
    if (FillFromUrandom(&value, sizeof value) == 0) return value;
    abort();
}
