#define _GNU_SOURCE
#include "diskfaults.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

enum Op { OpNone, OpWrite, OpSync, OpRename, OpOpen, OpSlowSync };

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static int armed; /* the op; read without the lock on the fast path */
static char within[1024], except[1024];
static long long remaining;
static int failWith, hang;
static long injected;
static long long unsynced; /* slowsync: bytes written since the last sync */

void korvel_fault_arm(const char *op, const char *in, const char *ex, long long afterBytes,
                      int error, int hangs)
{
    pthread_mutex_lock(&lock);
    snprintf(within, sizeof within, "%s", in ? in : "");
    snprintf(except, sizeof except, "%s", ex ? ex : "");
    remaining = afterBytes;
    failWith = error;
    hang = hangs;
    injected = 0;
    unsynced = 0;
    __atomic_store_n(&armed,
                     !strcmp(op, "write")      ? OpWrite
                     : !strcmp(op, "sync")     ? OpSync
                     : !strcmp(op, "rename")   ? OpRename
                     : !strcmp(op, "open")     ? OpOpen
                     : !strcmp(op, "slowsync") ? OpSlowSync
                                               : OpNone,
                     __ATOMIC_RELEASE);
    pthread_mutex_unlock(&lock);
}

void korvel_fault_clear(void)
{
    pthread_mutex_lock(&lock);
    __atomic_store_n(&armed, OpNone, __ATOMIC_RELEASE);
    pthread_mutex_unlock(&lock);
}

long korvel_fault_count(void)
{
    pthread_mutex_lock(&lock);
    const long n = injected;
    pthread_mutex_unlock(&lock);
    return n;
}

static void *real(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

/* With the lock held. */
static int pathMatches(const char *path)
{
    return path && strstr(path, within) && !(except[0] && strstr(path, except));
}

static int fdMatches(int fd)
{
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = 0;
    return pathMatches(path);
}

/* Whether a call of op on this file fails: -1 and errno set. For writes,
 * *count is cut to what still fits. Waits while a hanging fault is armed. */
static int inject(int op, int fd, const char *path, size_t *count)
{
    if (__atomic_load_n(&armed, __ATOMIC_ACQUIRE) != op)
        return 0;
    pthread_mutex_lock(&lock);
    int fail = 0;
    if (__atomic_load_n(&armed, __ATOMIC_RELAXED) == op &&
        (path ? pathMatches(path) : fdMatches(fd))) {
        if (op == OpWrite && remaining >= (long long)*count) {
            remaining -= (long long)*count;
        } else if (op == OpWrite && remaining > 0) {
            *count = (size_t)remaining;
            remaining = 0;
        } else {
            fail = 1;
            ++injected;
        }
    }
    const int waits = fail && hang;
    const int error = failWith;
    pthread_mutex_unlock(&lock);
    if (waits) {
        const struct timespec tick = {0, 5 * 1000 * 1000};
        while (__atomic_load_n(&armed, __ATOMIC_ACQUIRE) == op)
            nanosleep(&tick, NULL);
        return 0;
    }
    if (fail)
        errno = error;
    return fail ? -1 : 0;
}

/* slowsync: counts what a write adds, or makes a sync take its time. */
static void slowDown(int fd, ssize_t written, int syncing)
{
    if (__atomic_load_n(&armed, __ATOMIC_ACQUIRE) != OpSlowSync)
        return;
    const int savedErrno = errno;
    pthread_mutex_lock(&lock);
    long long wait = 0;
    if (__atomic_load_n(&armed, __ATOMIC_RELAXED) == OpSlowSync && fdMatches(fd)) {
        if (!syncing && written > 0) {
            unsynced += written;
        } else if (syncing && remaining > 0) {
            wait = unsynced * 1000000000LL / remaining;
            unsynced = 0;
        }
    }
    pthread_mutex_unlock(&lock);
    const struct timespec pause = {(time_t)(wait / 1000000000LL), (long)(wait % 1000000000LL)};
    if (wait > 0)
        nanosleep(&pause, NULL);
    errno = savedErrno;
}

ssize_t write(int fd, const void *data, size_t count)
{
    static ssize_t (*next)(int, const void *, size_t);
    if (!next)
        next = real("write");
    if (inject(OpWrite, fd, NULL, &count))
        return -1;
    const ssize_t written = next(fd, data, count);
    slowDown(fd, written, 0);
    return written;
}

int fsync(int fd)
{
    static int (*next)(int);
    if (!next)
        next = real("fsync");
    slowDown(fd, 0, 1);
    return inject(OpSync, fd, NULL, NULL) ? -1 : next(fd);
}

int fdatasync(int fd)
{
    static int (*next)(int);
    if (!next)
        next = real("fdatasync");
    slowDown(fd, 0, 1);
    return inject(OpSync, fd, NULL, NULL) ? -1 : next(fd);
}

int rename(const char *from, const char *to)
{
    static int (*next)(const char *, const char *);
    if (!next)
        next = real("rename");
    return inject(OpRename, -1, to, NULL) ? -1 : next(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    static int (*next)(int, const char *, int, const char *);
    if (!next)
        next = real("renameat");
    return inject(OpRename, -1, to, NULL) ? -1 : next(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    static int (*next)(int, const char *, int, const char *, unsigned);
    if (!next)
        next = real("renameat2");
    return inject(OpRename, -1, to, NULL) ? -1 : next(fromDir, from, toDir, to, flags);
}

int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    static int (*next)(int, const char *, int, const char *, int);
    if (!next)
        next = real("linkat");
    return inject(OpRename, -1, to, NULL) ? -1 : next(fromDir, from, toDir, to, flags);
}

static int writes(int flags)
{
    return (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0;
}

#define OPEN_SHIM(name, ...)                                                                       \
    {                                                                                              \
        mode_t mode = 0;                                                                           \
        if (flags & (O_CREAT | __O_TMPFILE)) {                                                     \
            va_list args;                                                                          \
            va_start(args, flags);                                                                 \
            mode = va_arg(args, mode_t);                                                           \
            va_end(args);                                                                          \
        }                                                                                          \
        static int (*next)();                                                                      \
        if (!next)                                                                                 \
            next = (int (*)())real(name);                                                          \
        if (writes(flags) && inject(OpOpen, -1, path, NULL))                                       \
            return -1;                                                                             \
        return next(__VA_ARGS__, flags, mode);                                                     \
    }

int open(const char *path, int flags, ...)
    OPEN_SHIM("open", path) int open64(const char *path, int flags, ...)
        OPEN_SHIM("open64", path) int openat(int dir, const char *path, int flags, ...)
            OPEN_SHIM("openat", dir, path) int openat64(int dir, const char *path, int flags, ...)
                OPEN_SHIM("openat64", dir, path)
