#include "diskfaults.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

QByteArray DiskFault::name() const
{
    return QByteArray(op) + " " + QByteArray::number(after) + " errno " + QByteArray::number(error);
}

QList<DiskFault> diskFaults(qint64 size)
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

bool FaultTally::report(const char *path, int faults) const
{
    std::printf("%s: %d disk faults injected of %d, %d false successes\n", path, injected, faults,
                falseSuccesses);
    return injected == faults && falseSuccesses == 0;
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
#ifdef Q_OS_LINUX
    rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    savedLimit = limit.rlim_cur;
    savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = rlim_t(bytes);
    set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    if (!set)
        std::signal(SIGXFSZ, savedHandler);
#else
    Q_UNUSED(bytes);
#endif
}

FileSizeLimit::~FileSizeLimit()
{
#ifdef Q_OS_LINUX
    if (!set)
        return;
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(savedLimit);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler);
#endif
}
