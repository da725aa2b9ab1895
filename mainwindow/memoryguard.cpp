#include "mainwindow/memoryguard.h"

#include <QFile>
#include <QtGlobal>
#include <algorithm>
#include <cmath>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <psapi.h>
#else
#include <unistd.h>
#endif

namespace {

// The rate is measured over the last this many milliseconds.
constexpr qint64 kRateWindowMs = 10000;

} // namespace

qint64 RecordingMemory::heldBytes() const
{
    qint64 bytes = otherBytes;
    for (const ContainerUse &c : containers)
        bytes += c.capacity * pointBytes;
    return bytes;
}

qint64 RecordingMemory::points() const
{
    qint64 most = 0;
    for (const ContainerUse &c : containers)
        most = std::max(most, c.size);
    return most;
}

qint64 grownCapacity(qint64 capacity)
{
    return 2 * capacity + 64;
}

namespace {

qint64 pointsUntilGrowthPasses(const RecordingMemory &use, qint64 budgetBytes)
{
    std::vector<qint64> capacity;
    for (const ContainerUse &c : use.containers)
        capacity.push_back(std::max(c.capacity, c.size));
    const double perPoint = use.otherBytesPerPoint * double(use.containers.size());
    qint64 containers = 0;
    for (const qint64 c : capacity)
        containers += c * use.pointBytes;
    // Points added to every container so far; the index grows with them.
    const auto heldAfter = [&](qint64 added) {
        return double(containers + use.otherBytes) + perPoint * double(added);
    };
    if (use.containers.empty() || heldAfter(0) > double(budgetBytes))
        return 0;
    // Each container grows when it is full; the growths come in order of
    // the room left, and capacities double, so this ends after a few.
    for (;;) {
        std::size_t next = 0;
        for (std::size_t g = 1; g < capacity.size(); ++g)
            if (capacity[g] - use.containers[g].size < capacity[next] - use.containers[next].size)
                next = g;
        const qint64 room = capacity[next] - use.containers[next].size;
        if (heldAfter(room) > double(budgetBytes))
            return perPoint > 0 ? qint64((double(budgetBytes) - heldAfter(0)) / perPoint) : room;
        const qint64 grown = grownCapacity(capacity[next]);
        // The new block and the old one at once, while the points move over.
        const double need = heldAfter(room) + double((grown - capacity[next]) * use.pointBytes) +
                            double(capacity[next] * use.pointBytes);
        if (need > double(budgetBytes))
            return room;
        containers += (grown - capacity[next]) * use.pointBytes;
        capacity[next] = grown;
    }
}

} // namespace

qint64 pointsUntilBudget(const RecordingMemory &use, qint64 budgetBytes)
{
    const qint64 points = pointsUntilGrowthPasses(use, budgetBytes);
    return use.maxPoints > 0 ? std::clamp<qint64>(use.maxPoints - use.points(), 0, points) : points;
}

std::optional<qint64> memoryLimitFromEnvironment()
{
    bool ok = false;
    const double mb = qEnvironmentVariable("KORVEL_MEMORY_LIMIT_MB").trimmed().toDouble(&ok);
    if (!ok || !(mb > 0) || !std::isfinite(mb) || mb > 1e9)
        return std::nullopt;
    return qint64(mb * 1024 * 1024);
}

qint64 physicalMemoryBytes()
{
#ifdef Q_OS_WIN
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? qint64(status.ullTotalPhys) : 0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        return qint64(pages) * pageSize;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : meminfo.readAll().split('\n'))
        if (line.startsWith("MemTotal:"))
            return line.mid(9).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
#endif
}

qint64 processMemoryBytes()
{
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS_EX counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                              sizeof counters))
        return 0;
    return qint64(counters.PrivateUsage);
#else
    // Resident pages: the second figure of statm.
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const long pageSize = sysconf(_SC_PAGESIZE);
    return statm.readAll().split(' ').value(1).toLongLong() * std::max(pageSize, 1L);
#endif
}

qint64 defaultMemoryBudget(qint64 physicalBytes, qint64 processBytes, qint64 recordingBytes)
{
    // The recording is part of what the process holds; the rest stays.
    const qint64 besides = std::max<qint64>(0, processBytes - recordingBytes);
    return std::max<qint64>(0, qint64(kDefaultMemoryShare * double(physicalBytes)) - besides);
}

void MemoryGuard::begin(qint64 budget, const RecordingMemory &use, qint64 nowMs,
                        double expectedPointsPerSecond)
{
    watching = true;
    budgetBytes = budget;
    heldBytes = use.heldBytes();
    expectedRate = expectedPointsPerSecond;
    secondsUntilStop = -1;
    warned = false;
    history.clear();
    history.emplace_back(nowMs, counted(use));
}

qint64 MemoryGuard::counted(const RecordingMemory &use)
{
    return use.livePoints >= 0 ? use.livePoints : use.points();
}

double MemoryGuard::pointsPerSecond() const
{
    if (history.size() < 2 || history.back().first - history.front().first < 500)
        return expectedRate;
    return double(history.back().second - history.front().second) * 1000.0 /
           double(history.back().first - history.front().first);
}

MemoryGuard::Action MemoryGuard::update(const RecordingMemory &use, qint64 nowMs)
{
    if (!watching)
        return Action::None;
    heldBytes = use.heldBytes();
    const qint64 points = use.points();
    const qint64 live = counted(use);
    // Fewer points than before: the data was cleared; the rate starts afresh.
    if (!history.empty() && live < history.back().second)
        history.clear();
    history.emplace_back(nowMs, live);
    while (history.size() > 2 && nowMs - history[1].first >= kRateWindowMs)
        history.pop_front();

    const qint64 room = pointsUntilBudget(use, budgetBytes);
    const double rate = pointsPerSecond();
    secondsUntilStop = rate > 0 ? std::max(0.0, double(room) / rate - stopMarginSeconds) : -1;
    if (room == 0 || (rate > 0 && double(room) <= rate * stopMarginSeconds))
        return Action::Stop;
    const bool late = (secondsUntilStop >= 0 && secondsUntilStop <= warnSecondsLeft) ||
                      double(points) >= warnShare * double(points + room);
    if (late && !warned) {
        warned = true;
        return Action::Warn;
    }
    return Action::None;
}
