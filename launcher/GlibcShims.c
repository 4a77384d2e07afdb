// Copies start on glibc 2.17 (README): the launcher is linked against Debian
// 11's glibc 2.31, and the few functions that the static libstdc++ and our own
// code take from later glibc versions are defined here, over the system call.

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

// glibc 2.32. libstdc++ skips its atomic operations while this is nonzero;
// zero always takes them, which is correct in any process, merely not the shortcut.
char __libc_single_threaded = 0;

// glibc 2.25; a kernel before 3.17 has no such call and says ENOSYS, as glibc would.
ssize_t getrandom(void* buffer, size_t size, unsigned int flags) {
    return (ssize_t)syscall(SYS_getrandom, buffer, size, flags);
}

// glibc 2.25, with its contract: at most 256 bytes, all of them or -1.
int getentropy(void* buffer, size_t size) {
    if (size > 256) {
        errno = EIO;
        return -1;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = getrandom((char*)buffer + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        done += (size_t)n;
    }
    return 0;
}

#if defined(__i386__)
// glibc 2.28, which 32-bit code with 64-bit file offsets calls for fcntl: the
// same system call that glibc's fcntl64 makes (its lock commands are the *64 ones).
int fcntl64(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return (int)syscall(SYS_fcntl64, fd, command, argument);
}
#endif

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

// glibc 2.36, which libstdc++'s random_device prefers. Never a weak value;
// with no randomness at all it aborts, as glibc's own does.
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
