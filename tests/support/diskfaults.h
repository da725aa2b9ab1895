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

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The disk faults every path that writes a file is swept with: a disk that
// fills at each of a sweep of offsets (0, 1, every 4 KiB, the edges of Qt's
// 16 KiB file buffer and the last byte), a write that fails with EIO, a sync
// that fails, a rename that is refused and a file that cannot be created.
struct DiskFault
{
    const char *op;
    long long after;
    int error;

    QByteArray name() const;
    // Armed for the files whose path contains `within` but not `except`.
    void arm(const QString &within, const char *except = "") const
    {
        korvel_fault_arm(op, qPrintable(within), except, after, error, 0);
    }
};

QList<DiskFault> diskFaults(qint64 size);

// The sweep's count: faults that really reached the path, and successes
// claimed for a file that is not complete.
struct FaultTally
{
    int injected = 0;
    int falseSuccesses = 0;

    // After a run under fault f: the fault is cleared and counted.
    void ran() { injected += korvel_fault_count() > 0, korvel_fault_clear(); }
    // The sweep's closing line, and its verdict.
    bool report(const char *path, int faults) const;
};

// While alive, files may grow to `bytes` only: a write beyond fails with
// EFBIG, as on a full disk, instead of raising SIGXFSZ (Linux).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isSet() const { return set; }

private:
    bool set = false;
    unsigned long long savedLimit = 0;
    void (*savedHandler)(int) = nullptr;
};
