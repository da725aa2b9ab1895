#include "channelpoints.h"

void mergePoints(ChannelStore &store, const QVector<QCPGraphData> &points,
                 std::initializer_list<int> channels)
{
    std::array<PointList, ChannelCount> lists;
    for (int c : channels)
        for (const QCPGraphData &p : points)
            lists[std::size_t(c)].push_back({p.key, p.value});
    store.merge(lists);
}

QVector<double> keysOf(const ChannelStore &store, int c)
{
    const ChannelData &channel = store.channel(c);
    channel.settle();
    QVector<double> keys;
    for (auto it = channel.points().constBegin(); it != channel.points().constEnd(); ++it)
        keys << it->key;
    return keys;
}
