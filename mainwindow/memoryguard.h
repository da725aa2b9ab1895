#pragma once

#include <QtGlobal>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

// How long the memory lasts for a recording that grows while acquiring, and
// when to warn and to stop. Free of widgets and of the plot: the window
// measures its graphs and hands the figures in. GUI thread, like the graphs.

// One channel graph's point container, in points.
struct ContainerUse
{
    qint64 size = 0;
    qint64 capacity = 0;
};

// What the recording holds: the graphs' point containers, which grow by
// doubling when full, and what grows along with the points (the
// level-of-detail index) or waits to be merged.
struct RecordingMemory
{
    std::vector<ContainerUse> containers;
    qint64 pointBytes = 16;        // one (key, value) pair
    qint64 otherBytes = 0;         // index and waiting points held now
    double otherBytesPerPoint = 0; // what the index grows by per point and container
    qint64 maxPoints = 0;          // points a container may hold at most (0: no limit)
    // Points acquired per container since the run began, whatever was cleared
    // or opened meanwhile; the rate comes from these alone. -1: not counted
    // (the fullest container's points then give the rate).
    qint64 livePoints = -1;

    // Memory held now, in bytes: what the containers reserved, not only what they fill.
    qint64 heldBytes() const;
    // Points in the fullest container.
    qint64 points() const;
};

// The capacity a full container of this capacity grows to (an upper bound of
// the growth of Qt's containers, which double).
qint64 grownCapacity(qint64 capacity);

// Points each container may still take before a growth would pass the
// budget (or the fullest would pass maxPoints). A growth needs the new block
// while the old one is still held, so it must fit with the old block. 0 when
// the budget is already passed.
qint64 pointsUntilBudget(const RecordingMemory &use, qint64 budgetBytes);

// The budget given by KORVEL_MEMORY_LIMIT_MB (megabytes of 1024 x 1024
// bytes, above 0), if it is set to such a number.
std::optional<qint64> memoryLimitFromEnvironment();
// Physical memory of the machine and memory the process holds, in bytes
// (0 where the system does not tell).
qint64 physicalMemoryBytes();
qint64 processMemoryBytes();
// The share of physical memory the recording may use by default, less what
// the process holds besides the recording.
constexpr double kDefaultMemoryShare = 0.7;
qint64 defaultMemoryBudget(qint64 physicalBytes, qint64 processBytes, qint64 recordingBytes);

// Watches one acquisition run: the rate at which points come, the time the
// budget lasts at that rate, one warning per approach to the limit (again
// after a clear or an opened file changed the outlook), and the stop.
class MemoryGuard
{
public:
    enum class Action { None, Warn, Stop };

    // Warn once this long before the budget runs out, or at this share of it.
    static constexpr double warnSecondsLeft = 15 * 60;
    static constexpr double warnShare = 0.9;
    // Stop while the points of this long still fit: later checks come every
    // 600 ms, and blocks queued at the stop still arrive.
    static constexpr double stopMarginSeconds = 3;

    // A run starts with this budget; until points are seen coming, they are
    // expected at expectedPointsPerSecond per container.
    void begin(qint64 budgetBytes, const RecordingMemory &use, qint64 nowMs,
               double expectedPointsPerSecond);
    // The recording as it is now (every redraw while acquiring).
    Action update(const RecordingMemory &use, qint64 nowMs);
    // Points were cleared or opened: a new approach to the limit is warned of again.
    void outlookChanged() { warned = false; }
    // No run is watched (after a stop by the guard, or without a budget).
    void end() { watching = false; }
    bool active() const { return watching; }

    qint64 budget() const { return budgetBytes; }
    qint64 held() const { return heldBytes; }
    // Seconds until the stop at the current rate; negative while unknown
    // (no run, or no points coming).
    double secondsLeft() const { return secondsUntilStop; }

private:
    double pointsPerSecond() const;
    // The points the rate is measured on.
    static qint64 counted(const RecordingMemory &use);

    bool watching = false;
    qint64 budgetBytes = 0;
    qint64 heldBytes = 0;
    double expectedRate = 0;
    double secondsUntilStop = -1;
    bool warned = false;
    // (ms, points) of the last seconds, for the rate.
    std::deque<std::pair<qint64, qint64>> history;
};
