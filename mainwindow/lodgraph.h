#pragma once

#include <qcustomplot.h>

#include <cstddef>
#include <optional>
#include <vector>

// A line graph whose redraw cost follows the plot's width, not the length of
// the recording. It keeps the minimum and maximum value of every 64 points,
// and of every 8 such buckets again, level upon level. When more points fall
// on the screen than there are pixels, the pixel columns are found by binary
// search and each column's extremes come from the buckets, so the graph draws
// exactly the clusters a plain QCPGraph with adaptive sampling would draw
// without reading the points inside them. The data container keeps every
// point; nothing is thinned. GUI thread only, like the plot.
//
// Points appended at the end are summarised on the next redraw. Any other
// change of the container (clear, merge, replace) must be announced with
// markGraphDataChanged(); a shrunk or visibly rewritten container is also
// detected on its own.
//
// Live points that land before the last point held (inside an opened
// recording) wait in a side buffer and are merged in one pass when something
// reads the graph: drawing, the key and value ranges, selection and the point
// count do it themselves; code that uses data() directly calls
// settleGraphData() first.
class LodGraph : public QCPGraph
{
    Q_OBJECT

public:
    LodGraph(QCPAxis *keyAxis, QCPAxis *valueAxis);

    // The container changed other than by appending: rebuild at the next use.
    void markDataChanged();

    // Adds the points in time order among those held, as one addData call
    // per point does; at equal times the points already held come first,
    // then these in the order given (QCPGraph::addData would put a time equal
    // to a held one before the end ahead of it), and NaN times go last.
    // Points at or after the end are appended at once, the others wait in
    // the side buffer.
    void addPoints(const QVector<double> &keys, const QVector<double> &values);
    // Merges the waiting points into the container.
    void mergePending() const;
    int pendingCount() const { return int(pending.size()); }
    // Empties the graph, waiting points included, and gives the memory back.
    void clearData();
    // Memory held by the summary, in bytes.
    std::size_t indexBytes() const;
    // Memory held by the points waiting to be merged, in bytes.
    std::size_t pendingBytes() const;
    // The point whose time is nearest to key, waiting points included, which
    // stay waiting: a binary search in each, so a mouse move costs the same
    // at any length. The earlier point where two are equally near; points
    // without a time never count.
    std::optional<QCPGraphData> nearestPoint(double key) const;

    double selectTest(const QPointF &pos, bool onlySelectable,
                      QVariant *details = nullptr) const override;
    QCPRange getKeyRange(bool &foundRange,
                         QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange &inKeyRange = QCPRange()) const override;
    // The ways into the points by index: each merges the side buffer first.
    int dataCount() const override;
    int findBegin(double sortKey, bool expandedRange = true) const override;
    int findEnd(double sortKey, bool expandedRange = true) const override;
    QCPDataSelection selectTestRect(const QRectF &rect, bool onlySelectable) const override;

protected:
    void draw(QCPPainter *painter) override;
    void getOptimizedLineData(QVector<QCPGraphData> *lineData,
                              const QCPGraphDataContainer::const_iterator &begin,
                              const QCPGraphDataContainer::const_iterator &end) const override;

private:
    struct Extremes
    {
        double low;
        double high;
    };
    struct Probe
    {
        int position;
        QCPGraphData point;
    };

    void syncIndex() const;
    void invalidateIndexFrom(int position) const;
    bool probesMatch() const;
    void extendIndex() const;
    Extremes extremes(int from, int to) const;

    // Built lazily from const drawing code, hence mutable.
    mutable std::vector<std::vector<Extremes>> levels;
    mutable std::vector<Probe> probes;
    mutable const QCPGraphDataContainer *indexedContainer = nullptr;
    mutable int indexedCount = 0;
    mutable bool stale = true;

    // Points waiting to be merged, in the order they came, and the time span
    // of those with a value (what the key range counts).
    mutable QVector<QCPGraphData> pending;
    mutable QCPRange pendingKeys;
    mutable bool pendingHasKeys = false;
    mutable bool pendingNanKey = false;
    mutable bool pendingSorted = true; // in time order, as live points come
};

// Creates a LodGraph on the plot's xAxis and yAxis, named like
// QCustomPlot::addGraph names its graphs. The plot owns it.
QCPGraph *addChannelGraph(QCustomPlot *plot);

// Tells the graph's summary that its container changed other than by
// appending (after a clear or a merge). Does nothing for other graphs.
void markGraphDataChanged(QCPGraph *graph);

// Adds points to a channel graph as LodGraph::addPoints does; other graphs
// get one addData call per point.
void addChannelPoints(QCPGraph *graph, const QVector<double> &keys, const QVector<double> &values);

// Merges a channel graph's waiting points. Call it before using data()
// directly (reading or changing it). Does nothing for other graphs.
void settleGraphData(QCPGraph *graph);

// Empties the graph, waiting points included, and gives the memory back.
void clearGraphData(QCPGraph *graph);

// The points a graph's container has room for before it grows.
qsizetype graphCapacity(const QCPGraph *graph);
// Points the graph holds, waiting ones included, and the bytes beside its
// container (a channel graph's summary and waiting points).
qsizetype graphPoints(const QCPGraph *graph);
std::size_t graphSideBytes(const QCPGraph *graph);
// The point nearest in time to key, as LodGraph::nearestPoint finds it; for
// other graphs by a binary search of their container.
std::optional<QCPGraphData> nearestGraphPoint(const QCPGraph *graph, double key);
