#pragma once

#include <qcustomplot.h>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "datafiles/channeldata.h"

class LodGraph;
struct KeptSamples;
struct RecordingMemory;

// One channel's points in time order, NaN times last: the container its graph
// draws. Derived from the plot library's container for what that one keeps to
// itself, the room reserved and the vector to merge in place.
class ChannelPoints : public QCPGraphDataContainer
{
public:
    qsizetype capacity() const { return mData.capacity(); }
    const QCPGraphData *points() const { return mData.constData() + mPreallocSize; }

private:
    friend class ChannelData;
    QVector<QCPGraphData> &vector() { return mData; }
};

// One channel: its points, the level-of-detail summary of their values and
// the live points waiting to be merged. Only the store below changes it; the
// readers here merge the waiting points themselves where they need them. GUI
// thread only, like the plot.
class ChannelData
{
public:
    // Minimum and maximum of the values with a number; low > high for none.
    struct Extremes
    {
        double low;
        double high;
    };

    ChannelData();
    ChannelData(const ChannelData &) = delete;
    ChannelData &operator=(const ChannelData &) = delete;

    // The points held, shared with the channel's graph; waiting ones are not
    // among them until settle().
    const ChannelPoints &points() const { return *container; }
    QSharedPointer<QCPGraphDataContainer> sharedPoints() const { return container; }
    // Points held and waiting.
    qsizetype count() const { return container->size() + waiting.size(); }
    qsizetype waitingCount() const { return waiting.size(); }
    // Merges the waiting points into the points held.
    void settle() const;

    // The span of the waiting points' times (those with a value), and whether
    // one of them has no time; both without merging.
    std::optional<QCPRange> waitingKeys() const;
    bool waitingNanKey() const { return waitingHasNanKey; }

    // The extremes of the values of the held points [from, to), from the
    // summary: a few hundred reads whatever the span.
    Extremes extremes(int from, int to) const;
    // The point nearest in time to key, waiting points included, which stay
    // waiting: the earlier one where two are equally near; points without a
    // time never count.
    std::optional<QCPGraphData> nearestPoint(double key) const;
    // The last time with a number, waiting points included, which stay waiting.
    std::optional<double> lastKey() const;

    // Memory beside the points: the summary and the waiting points.
    std::size_t sideBytes() const;

private:
    friend class ChannelStore;

    void append(const QVector<double> &keys, const QVector<double> &values);
    void merge(PointList &points);
    void clear();
    void syncIndex() const;
    void invalidateIndexFrom(qsizetype position) const;

    QSharedPointer<ChannelPoints> container;
    // Settling and summarising happen in const readers, hence mutable.
    mutable std::vector<std::vector<Extremes>> levels;
    mutable qsizetype indexedCount = 0;
    mutable QVector<QCPGraphData> waiting; // in the order they came
    mutable QCPRange waitingSpan;
    mutable bool waitingHasKeys = false;
    mutable bool waitingHasNanKey = false;
    mutable double waitingLastKey = 0; // the latest time with a number
    mutable bool waitingHasKey = false;
    mutable bool waitingSorted = true; // in time order, as live points come
};

// The four channels' points (U1, I, T, U2) and their summaries: the one owner
// and the one writer. The graphs draw its containers; save, export, the
// readout and the memory guard read them here. GUI thread only.
class ChannelStore
{
public:
    ChannelStore();

    const ChannelData &channel(int c) const { return *channels[std::size_t(c)]; }
    // A graph on the plot's time and value axes that draws channel c. The plot owns it.
    LodGraph *addGraph(QCustomPlot *plot, int c);

    // Live points, in time order among those held: at equal times the points
    // held come first, then these in the order given; NaN times go last.
    // Points at or after the end are appended at once, the others wait and
    // are merged by the next reader that needs them.
    void append(const KeptSamples &kept);
    void append(int c, const QVector<double> &keys, const QVector<double> &values);
    // An opened file's points, by the same rule; sorts the lists stably by time.
    void merge(std::array<PointList, ChannelCount> &points);
    // Empties every channel and gives the memory back.
    void clear();

    qsizetype count(int c) const { return channel(c).count(); }
    qsizetype totalCount() const;
    // The latest time with a number over all channels.
    std::optional<double> lastKey() const;
    // The four channels for the writers, waiting points merged.
    ChannelSet views() const;
    // What the channels hold, for the memory guard.
    void addMemoryUse(RecordingMemory &use) const;

private:
    std::array<std::shared_ptr<ChannelData>, ChannelCount> channels;
};
