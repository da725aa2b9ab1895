#pragma once

#include <QtGlobal>

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
