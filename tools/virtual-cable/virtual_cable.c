/*
 * The virtual cable: modem lines for a pseudo-terminal.
 *
 * A pseudo-terminal carries data but has no modem lines, so Wine's
 * GetCommModemStatus and EscapeCommFunction fail on it (they use TIOCMGET,
 * TIOCMSET, TIOCMBIS, TIOCMBIC, TIOCSBRK and TIOCCBRK). Loaded into Wine with
 * LD_PRELOAD, this library answers those requests for pseudo-terminal slaves
 * from a small shared state file named by VIRTUAL_CABLE:
 *
 *   offset  0  magic "VCBL"
 *   offset  4  lines the far end drives: TIOCM_CTS, TIOCM_DSR, TIOCM_RNG, TIOCM_CAR
 *   offset  8  lines this end drives: TIOCM_DTR, TIOCM_RTS
 *   offset 12  1 while this end sends a break
 *   offset 16  number of modem-status reads
 *   offset 20  number of changes to DTR or RTS requested
 *   offset 24  number of breaks started
 *
 * All fields are 32-bit little-endian words, updated atomically, so the far
 * end reads and writes them through its own mapping while Wine runs. Without
 * VIRTUAL_CABLE every request passes through untouched.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#define CABLE_MAGIC 0x4C424356u /* "VCBL" */
#define CABLE_SIZE 32

enum { kMagic, kFarLines, kNearLines, kBreak, kStatusReads, kLineChanges, kBreaks };

static volatile uint32_t *cable;
static pthread_once_t cable_once = PTHREAD_ONCE_INIT;
typedef int (*ioctl_fn)(int, unsigned long, ...);
static ioctl_fn real_ioctl;
#if defined(__i386__)
/* 32-bit programs built with a 64-bit time_t, 32-bit Wine among them, call
 * ioctl under this name. */
static ioctl_fn real_ioctl_time64;
#endif

static void attach_cable(void)
{
    real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
#if defined(__i386__)
    real_ioctl_time64 = (ioctl_fn)dlsym(RTLD_NEXT, "__ioctl_time64");
#endif
    const char *path = getenv("VIRTUAL_CABLE");
    if (!path || !*path)
        return;
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    void *map = mmap(NULL, CABLE_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED)
        return;
    if (((volatile uint32_t *)map)[kMagic] != CABLE_MAGIC) {
        munmap(map, CABLE_SIZE);
        return;
    }
    cable = map;
}

/* UNIX98 pseudo-terminal slaves have majors 136 to 143. */
static int is_pty_slave(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    unsigned int m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

static uint32_t load(int field) { return __atomic_load_n(&cable[field], __ATOMIC_SEQ_CST); }
static void store(int field, uint32_t v) { __atomic_store_n(&cable[field], v, __ATOMIC_SEQ_CST); }
static void bump(int field) { __atomic_add_fetch(&cable[field], 1, __ATOMIC_SEQ_CST); }

static const uint32_t kFarMask = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR;
static const uint32_t kNearMask = TIOCM_DTR | TIOCM_RTS;

/* Serves one modem-line request; returns 1 when it did. */
static int serve(unsigned long request, void *arg)
{
    switch (request) {
    case TIOCMGET:
        bump(kStatusReads);
        *(int *)arg = (int)((load(kFarLines) & kFarMask) | (load(kNearLines) & kNearMask));
        return 1;
    case TIOCMSET:
        store(kNearLines, (uint32_t)*(const int *)arg & kNearMask);
        bump(kLineChanges);
        return 1;
    case TIOCMBIS:
        __atomic_or_fetch(&cable[kNearLines], (uint32_t)*(const int *)arg & kNearMask, __ATOMIC_SEQ_CST);
        bump(kLineChanges);
        return 1;
    case TIOCMBIC:
        __atomic_and_fetch(&cable[kNearLines], ~((uint32_t)*(const int *)arg & kNearMask), __ATOMIC_SEQ_CST);
        bump(kLineChanges);
        return 1;
    case TIOCSBRK:
        if (!load(kBreak))
            bump(kBreaks);
        store(kBreak, 1);
        return 1;
    case TIOCCBRK:
        store(kBreak, 0);
        return 1;
    default:
        return 0;
    }
}

/* Answers a modem-line request on a pseudo-terminal slave from the cable, or
 * hands the call on to the C library's function of that name. */
static int interpose(const ioctl_fn *real, int fd, unsigned long request, void *arg)
{
    pthread_once(&cable_once, attach_cable);
    if (cable && is_pty_slave(fd) && serve(request, arg))
        return 0;
    if (!*real) {
        errno = ENOSYS;
        return -1;
    }
    return (*real)(fd, request, arg);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return interpose(&real_ioctl, fd, request, arg);
}

#if defined(__i386__)
int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return interpose(&real_ioctl_time64, fd, request, arg);
}
#endif
