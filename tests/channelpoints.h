#pragma once

#include <qcustomplot.h>

#include <initializer_list>

#include "mainwindow/channelstore.h"

// Points put into the store as an opened file puts them, on the channels given.
inline void mergePoints(ChannelStore &store, const QVector<QCPGraphData> &points,
                        std::initializer_list<int> channels = {0, 1, 2, 3})
{
    std::array<PointList, ChannelCount> lists;
    for (int c : channels)
        for (const QCPGraphData &p : points)
            lists[std::size_t(c)].push_back({p.key, p.value});
    store.merge(lists);
}

// The times of channel c, waiting points merged.
inline QVector<double> keysOf(const ChannelStore &store, int c)
{
    const ChannelData &channel = store.channel(c);
    channel.settle();
    QVector<double> keys;
    for (auto it = channel.points().constBegin(); it != channel.points().constEnd(); ++it)
        keys << it->key;
    return keys;
}
