#pragma once

#include <QVector>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <vector>

// One recorded point: time in seconds and the channel's value as held by its graph.
struct DataPoint
{
    double key = 0;
    double value = 0;
};

using PointList = std::vector<DataPoint>;

// The four channels, always in this order (files, graphs, CSV columns).
enum Channel : int { ChannelU1 = 0, ChannelI = 1, ChannelT = 2, ChannelU2 = 3 };
constexpr int ChannelCount = 4;

// One block of samples on its way from the card to the graphs and the
// recording. From the split: the four channels in input volts, no keys yet.
// After the keep rule: the kept samples, their keys in seconds and the values
// as the graphs hold them (scaled, below zero clamped), all of one length.
// The keys come last, so {u1, i, t, u2} is a block without keys.
struct SampleBlock
{
    QVector<double> u1;
    QVector<double> i;
    QVector<double> t;
    QVector<double> u2;
    QVector<double> keys = {}; // none before the keep rule

    // The points with a key and all four values (the shortest list decides).
    qsizetype size() const
    {
        return std::min({keys.size(), u1.size(), i.size(), t.size(), u2.size()});
    }
};

// Read-only access to one channel's points in time order, without copying them.
// The view does not own the points: whatever it refers to must outlive it.
class ChannelView
{
public:
    using PointAt = DataPoint (*)(const void *source, qsizetype index);

    ChannelView() = default;
    // Implicit, so a PointList can be passed wherever a view is expected.
    ChannelView(const PointList &points)
        : count(qsizetype(points.size())), source(points.data()), pointAt(&listPointAt)
    {
    }
    ChannelView(qsizetype count, const void *source, PointAt pointAt)
        : count(count), source(source), pointAt(pointAt)
    {
    }

    qsizetype size() const { return count; }
    DataPoint at(qsizetype index) const { return pointAt(source, index); }

private:
    static DataPoint listPointAt(const void *source, qsizetype index)
    {
        return static_cast<const DataPoint *>(source)[index];
    }

    qsizetype count = 0;
    const void *source = nullptr;
    PointAt pointAt = nullptr;
};

// U1, I, T, U2.
using ChannelSet = std::array<ChannelView, ChannelCount>;
