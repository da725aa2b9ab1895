#pragma once

#include <qcustomplot.h>

#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "datafiles/channeldata.h"
#include "datafiles/compensatedsum.h"

struct RecordingMemory;

// A sum that no term can spoil for the others: terms of 2^900 and more in
// size go scaled into a sum of their own, infinities are counted, so that a
// difference of two prefix sums is right for any run that holds none.
struct WideSum
{
    // What ordinary terms never touch.
    struct Excess
    {
        CompensatedSum large; // finite terms from 2^900 in size, times 2^-1100
        qint64 above = 0;     // +inf terms; an undefined term (inf - inf)
        qint64 below = 0;     // counts here and above

        bool empty() const { return above == 0 && below == 0 && large.value() == 0; }
    };
    CompensatedSum small; // finite terms under 2^900 in size
    Excess excess;

    void add(double x);
    // x * x, the square of a value with a number.
    void addSquare(double x);
    // a * b, without overflow for finite factors.
    void addProduct(double a, double b);
    // A term given times 2^-1100.
    void addScaled(double x);
    void add(const WideSum &other);
    void subtract(const WideSum &other);
    // The sum divided by divisor: +-inf where one sign of infinity is among
    // the terms, NaN where both are.
    double value(double divisor = 1) const;
    // The root of the sum of squares divided by divisor.
    double root(double divisor) const;
};

// Prefix sums as kept: the ordinary part of each, and the excess (huge terms,
// infinities) only from the first one that has some, which a recording of
// ordinary numbers never does.
template <typename Full, typename Ordinary, typename Excess> class PrefixSums
{
public:
    std::size_t size() const { return ordinary.size(); }
    bool empty() const { return ordinary.empty(); }
    Full operator[](std::size_t b) const;
    Full back() const { return (*this)[size() - 1]; }
    void push_back(const Full &sums);
    void truncate(std::size_t count);
    void reserve(std::size_t count) { ordinary.reserve(count); }
    std::size_t bytes() const
    {
        return ordinary.capacity() * sizeof(Ordinary) + excess.capacity() * sizeof(Excess);
    }
    // Empties it and gives the memory back.
    void release()
    {
        std::vector<Ordinary>().swap(ordinary);
        std::vector<Excess>().swap(excess);
    }
    void swap(PrefixSums &other)
    {
        ordinary.swap(other.ordinary);
        excess.swap(other.excess);
    }

private:
    std::vector<Ordinary> ordinary;
    std::vector<Excess> excess; // empty, or as long as ordinary
};

// One channel's points in time order, NaN times last: the container its graph
// draws. Derived from the plot library's container for what that one keeps to
// itself, the room reserved and the vector to merge in place. Only the store
// and the graph see it.
class ChannelPoints : public QCPGraphDataContainer
{
public:
    qsizetype capacity() const { return mData.capacity(); }
    // Whether a snapshot shares the points.
    bool shared() const { return !mData.isDetached(); }
    const QCPGraphData *points() const { return mData.constData() + mPreallocSize; }

private:
    friend class ChannelData;
    friend class ChannelStore;
    QVector<QCPGraphData> &vector() { return mData; }
    int offset() const { return mPreallocSize; }
};

// One channel: its points, the level-of-detail summary of their values and
// the live points waiting to be merged. Only the store changes it, and the
// graph settles it before each redraw; the readers here only read: they see
// the points held, and the waiting ones where they say so. GUI thread only,
// like the plot; another thread reads a snapshot.
class ChannelData
{
public:
    // Minimum and maximum of the values with a number; low > high for none.
    struct Extremes
    {
        double low;
        double high;
    };
    // The summary: min/max per 64 points, then per 8 buckets, level upon level.
    using Levels = std::vector<std::vector<Extremes>>;

    // Totals over a run of points, of the values with a number: their count,
    // sum and sum of squares, and the trapezoid area between each point and
    // the one before it (pairs with a value and time each).
    struct Totals
    {
        qint64 counted = 0; // infinities included
        WideSum values;
        WideSum squares;
        WideSum area;
    };
    // Totals as the prefix sums keep them: the ordinary sums, and apart the
    // excess, which few channels ever have.
    struct OrdinaryTotals
    {
        qint64 counted;
        CompensatedSum values;
        CompensatedSum squares;
        CompensatedSum area;
    };
    struct ExcessTotals
    {
        WideSum::Excess values;
        WideSum::Excess squares;
        WideSum::Excess area;
    };
    using Sums = PrefixSums<Totals, OrdinaryTotals, ExcessTotals>;

    ChannelData();
    ChannelData(const ChannelData &) = delete;
    ChannelData &operator=(const ChannelData &) = delete;

    // The points held, without a copy; waiting ones are not among them until
    // the store settles.
    ChannelView view() const;
    // The room the held points have.
    qsizetype capacity() const { return container->capacity(); }
    // Points held and waiting.
    qsizetype count() const { return container->size() + qsizetype(waiting.size()); }
    qsizetype waitingCount() const { return qsizetype(waiting.size()); }

    // The span of the waiting points' times (those with a value), and whether
    // one of them has no time.
    std::optional<QCPRange> waitingKeys() const;
    bool waitingNanKey() const { return waitingHasNanKey; }
    // The waiting points in the order they came, and whether that is time
    // order.
    const PointList &waitingPoints() const { return waiting; }
    bool waitingInOrder() const { return waitingSorted; }

    // The extremes of the values of the held points [from, to), from the
    // summary: a few hundred reads whatever the span, once settled; points
    // the summary does not cover yet are read one by one.
    Extremes extremes(int from, int to) const;
    // Count, sum and squares of the held points [from, to), and the trapezoid
    // area from point from to point to - 1. From prefix sums kept with the
    // summary: at most two partial buckets are read point by point, and the
    // points the sums do not cover yet.
    Totals totals(qsizetype from, qsizetype to) const;
    // The held points with a time in [low, high]: [first, end) positions.
    std::pair<qsizetype, qsizetype> span(double low, double high) const;
    // The value at key, linear between the held points around it; the first
    // or last point's value outside them, NaN without points.
    double valueAt(double key) const;
    // The point nearest in time to key, waiting points included: the earlier
    // one where two are equally near; points without a time never count.
    std::optional<DataPoint> nearestPoint(double key) const;
    // The last time with a number, waiting points included.
    std::optional<double> lastKey() const;

    // Memory beside the points: the summary and the waiting points.
    std::size_t sideBytes() const;

    // While a snapshot shares the points, a change that would have to copy
    // more than this many of them waits instead (live points stay waiting,
    // drawn and counted once the snapshot is gone); a smaller one copies.
    static constexpr qsizetype copyWhileSharedLimit = 1 << 20;

private:
    friend class ChannelStore;
    friend class LodGraph;

    // The container the graph draws, shared with it.
    QSharedPointer<QCPGraphDataContainer> sharedPoints() const { return container; }
    // Merges the waiting points into the points held, unless they are held
    // as they are, and brings the summary up to date: the step before a
    // redraw.
    void settle();
    void mergeWaiting();
    void append(const QVector<double> &keys, const QVector<double> &values);
    void merge(PointList &points);
    // Into an empty channel the points and their summary are taken over,
    // waiting points left to follow them.
    void merge(QVector<QCPGraphData> &points, Levels &summary, Sums &sums);
    void replace(QVector<QCPGraphData> &points, Levels &summary, Sums &sums);
    void clear();
    // Whether the points stay as they are for now: an open is under way, or
    // a snapshot too large to copy shares them.
    bool held() const;
    bool pinned = false;
    void syncIndex();
    // Adds the level-of-detail buckets of data[0, count) that levels lacks.
    static void extendLevels(Levels &levels, const QCPGraphData *data, qsizetype count);
    // The prefix sums of the complete buckets, unless more than limit points
    // lack them: live blocks extend them at the cost of the block, a merge
    // far back leaves them to the next measurement. An opened file's come
    // from the file worker.
    void syncSums(qsizetype limit = std::numeric_limits<qsizetype>::max());
    // Adds the prefix sums of the complete buckets of data[0, count) that
    // prefixes lacks.
    static void extendSums(Sums &prefixes, const QCPGraphData *data, qsizetype count);
    void invalidateIndexFrom(qsizetype position);
    // Totals of the points' own terms over [from, to): the area term of point
    // k joins it to point k - 1.
    Totals termTotals(qsizetype from, qsizetype to) const;
    // The first position that changed since the store last asked.
    qsizetype takeChangedFrom();

    QSharedPointer<ChannelPoints> container;
    // levels and prefixes describe the leading held points; any that follow
    // are read one by one until the next settle.
    Levels levels;
    // prefixes[b]: the totals of the points before bucket b.
    Sums prefixes;
    qsizetype indexedCount = 0;
    qsizetype changedFrom = 0; // for the store's energy sums
    PointList waiting;         // in the order they came
    QCPRange waitingSpan;
    bool waitingHasKeys = false;
    bool waitingHasNanKey = false;
    double waitingLastKey = 0; // the latest time with a number
    bool waitingHasKey = false;
    bool waitingSorted = true; // in time order, as live points come
};

using EnergySums = PrefixSums<WideSum, CompensatedSum, WideSum::Excess>;

// The points the store held when it was taken, for a writer on another
// thread: shares the store's point vectors (Qt's implicit sharing), which the
// store leaves as they are while it exists, so taking it copies nothing.
// Any thread may read and destroy it.
class ChannelSnapshot
{
public:
    ChannelSet views() const;
    qsizetype count(int c) const { return ends[std::size_t(c)] - firsts[std::size_t(c)]; }

private:
    friend class ChannelStore;
    std::array<QVector<QCPGraphData>, ChannelCount> vectors;
    std::array<qsizetype, ChannelCount> firsts{};
    std::array<qsizetype, ChannelCount> ends{};
};

// An opened file's points as the plot keeps them, made ready off the GUI
// thread: the file worker puts the points in, prepare() merges the points
// held when the open began among them and summarises them, endOpen() takes
// them over without a copy.
class OpenedPoints
{
public:
    // Channel c's points: count of them, not yet written, with room for
    // `room`. The reader writes every one in place, (time, value) pairs laid
    // out as DataPoint; the memory is first touched there rather than zeroed.
    void *unwritten(int c, qsizetype count, qsizetype room);
    void reserve(int c, qsizetype room) { points[std::size_t(c)].reserve(room); }
    void append(int c, const DataPoint &p)
    {
        points[std::size_t(c)].append(QCPGraphData(p.key, p.value));
    }
    qsizetype size(int c) const { return points[std::size_t(c)].size(); }
    qsizetype capacity(int c) const { return points[std::size_t(c)].capacity(); }
    // Lets every channel's points go.
    void releasePoints() { points = {}; }

    ChannelSnapshot held; // the points held when the open began

private:
    friend class ChannelStore;

    std::array<QVector<QCPGraphData>, ChannelCount> points;
    std::array<ChannelData::Levels, ChannelCount> summaries;
    std::array<ChannelData::Sums, ChannelCount> sums;
    EnergySums energy; // U1 * I's prefix sums, as the store keeps them
    qsizetype sameTimes = 0;
    quint64 clears = 0; // the store's clears by then
};

// The four channels' points (U1, I, T, U2) and their summaries: the one owner
// and the one writer. The graphs draw its containers; save, export, the
// readout and the memory guard read them here. GUI thread only: the const
// readers only read, the waiting points are merged and the summaries and
// sums brought up to date by the explicit steps below; another thread reads
// a snapshot.
class ChannelStore
{
public:
    ChannelStore();

    const ChannelData &channel(int c) const { return *channels[std::size_t(c)]; }
    // Channel c for a graph that draws it and outlives the store's own hold.
    std::shared_ptr<const ChannelData> sharedChannel(int c) const
    {
        return channels[std::size_t(c)];
    }

    // Live points, in time order among those held: at equal times the points
    // held come first, then these in the order given; NaN times go last.
    // Points at or after the end are appended at once, the others wait for
    // the next settle(), or until they are many.
    void append(const SampleBlock &kept);
    void append(int c, const QVector<double> &keys, const QVector<double> &values);
    // An opened file's points, by the same rule; sorts the lists stably by time.
    void merge(std::array<PointList, ChannelCount> &points);
    // An open begins: the points held now go to opened, for prepare() to
    // merge the file's among them off the GUI thread. Until endOpen() the
    // points held stay as they are: live points wait, a clear still clears.
    void beginOpen(OpenedPoints &opened);
    // The room to take for an opened channel of this many points: live
    // points that follow it go into the room left over rather than moving the
    // whole channel into new memory at the first redraw. Room never touched
    // costs no memory.
    static qsizetype roomFor(qsizetype points)
    {
        return points + std::max<qsizetype>(points / 8, 1 << 16);
    }
    // Worker: sorts the file's points stably by time (NaN times last), puts
    // the points held at the open's beginning among them, the held ones first
    // at equal times, and summarises them, the measurement's sums included.
    // Looks at stop between steps of a few million points and gives up
    // (false, the points then of no use) once it says so.
    static bool prepare(OpenedPoints &opened, const std::function<bool()> &stop = {});
    // The open ends: the prepared points take the place of those held, with
    // no copy; after a clear meanwhile the file's points alone are merged.
    // Null: the open was cancelled, nothing changes.
    void endOpen(OpenedPoints *opened);
    // Empties every channel and gives the memory back.
    void clear();
    // What settle() brings up to date besides the points: nothing (before a
    // save, an open, cursor stepping), also the summaries (what each graph
    // does for its channel before a redraw), also the measurement's prefix
    // sums (before a measurement).
    enum class Settle { Points, Summaries, Sums };
    // Merges the waiting points into those held, where nothing holds these
    // as they are.
    void settle(Settle what = Settle::Points);

    qsizetype count(int c) const { return channel(c).count(); }
    qsizetype totalCount() const;
    // The latest time with a number over all channels.
    std::optional<double> lastKey() const;
    // The four channels' points held, for the writers: settle() first for
    // the waiting ones.
    ChannelSet views() const;
    // The four channels' points held with a time in [low, high].
    ChannelSet views(double low, double high) const;
    // The points held now, or those with a time in [low, high], for a writer
    // on another thread: settle() first for the waiting ones.
    ChannelSnapshot snapshot() const;
    ChannelSnapshot snapshot(double low, double high) const;
    // What the channels hold, for the memory guard.
    void addMemoryUse(RecordingMemory &use) const;

    // The trapezoid integral of U1 * I over I's held points [from, to). Where
    // U1 shares I's times it comes from prefix sums (settle(Settle::Sums)
    // first, or the points they lack are read one by one); elsewhere U1 is
    // interpolated at I's times.
    double energy(qsizetype from, qsizetype to) const;

private:
    friend class LodGraph;

    // As syncSums(), for U1 * I over the held points.
    void syncEnergy(qsizetype limit = std::numeric_limits<qsizetype>::max());
    ChannelSnapshot takeSnapshot(const QCPRange *range) const;

    std::array<std::shared_ptr<ChannelData>, ChannelCount> channels;
    // Prefix sums of U1 * I over the leading points where both channels have
    // the same times: energyPrefixes[b] holds the terms before bucket b.
    // Valid up to the first point either channel changed since.
    EnergySums energyPrefixes;
    quint64 clears = 0;
    qsizetype sameTimes = 0; // leading points whose times U1 and I share
};
