#pragma once

#ifdef KORVEL_DISK_FAULTS
#include "diskfaults/diskfaults.h"
#define REQUIRE_DISK_FAULTS()
#else // no interposing here: the fault tests skip
inline void korvel_fault_arm(const char *, const char *, const char *, long long, int, int) {}
inline void korvel_fault_clear() {}
inline long korvel_fault_count()
{
    return 0;
}
#define REQUIRE_DISK_FAULTS() QSKIP("disk faults are injected on Linux only")
#endif

#include <QList>
#include <QString>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstdio>

// The disk faults every path that writes a file is swept with: a disk that
// fills at each of a sweep of offsets (0, 1, every 4 KiB, the edges of Qt's
// 16 KiB file buffer and the last byte), a write that fails with EIO, a sync
// that fails, a rename that is refused and a file that cannot be created.
struct DiskFault
{
    const char *op;
    long long after;
    int error;

    QByteArray name() const
    {
        return QByteArray(op) + " " + QByteArray::number(after) + " errno " +
               QByteArray::number(error);
    }
    // Armed for the files whose path contains `within` but not `except`.
    void arm(const QString &within, const char *except = "") const
    {
        korvel_fault_arm(op, qPrintable(within), except, after, error, 0);
    }
};

inline QList<DiskFault> diskFaults(qint64 size)
{
    QList<long long> offsets = {0, 1, 16383, 16384, 16385, size - 1};
    for (long long at = 4096; at < size; at += 4096)
        offsets << at;
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    QList<DiskFault> faults;
    for (long long at : offsets)
        if (at >= 0 && at < size)
            faults.append({"write", at, ENOSPC});
    faults.append(
        {{"write", size / 2, EIO}, {"sync", 0, EIO}, {"rename", 0, EACCES}, {"open", 0, EACCES}});
    return faults;
}

// The sweep's count: faults that really reached the path, and successes
// claimed for a file that is not complete.
struct FaultTally
{
    int injected = 0;
    int falseSuccesses = 0;

    // After a run under fault f: the fault is cleared and counted.
    void ran() { injected += korvel_fault_count() > 0, korvel_fault_clear(); }
    // The sweep's closing line, and its verdict.
    bool report(const char *path, int faults) const
    {
        std::printf("%s: %d disk faults injected of %d, %d false successes\n", path, injected,
                    faults, falseSuccesses);
        return injected == faults && falseSuccesses == 0;
    }
};
