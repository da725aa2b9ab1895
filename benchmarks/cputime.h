#pragma once

#include <ctime>
#ifdef __unix__
#include <sys/resource.h>
#endif

// CPU seconds of the whole process (every thread) so far: the machine may be
// shared, so the benchmarks report what the work itself cost next to wall time.
inline double cpuSeconds()
{
#ifdef __unix__
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return double(std::clock()) / CLOCKS_PER_SEC;
#endif
}
