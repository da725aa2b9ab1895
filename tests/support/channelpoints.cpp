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

QVector<double> keysOf(ChannelStore &store, int c)
{
    store.settle();
    const ChannelView points = store.channel(c).view();
    QVector<double> keys;
    for (qsizetype k = 0; k < points.size(); ++k)
        keys << points.at(k).key;
    return keys;
}
