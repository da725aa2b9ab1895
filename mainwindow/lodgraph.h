#pragma once

#include <qcustomplot.h>

#include <cstddef>
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
class LodGraph : public QCPGraph
{
    Q_OBJECT

public:
    LodGraph(QCPAxis *keyAxis, QCPAxis *valueAxis);

    // The container changed other than by appending: rebuild at the next use.
    void markDataChanged();
    // Memory held by the summary, in bytes.
    std::size_t indexBytes() const;

    double selectTest(const QPointF &pos, bool onlySelectable,
                      QVariant *details = nullptr) const override;
    QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange &inKeyRange = QCPRange()) const override;

protected:
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
    bool probesMatch() const;
    void extendIndex() const;
    Extremes extremes(int from, int to) const;

    // Built lazily from const drawing code, hence mutable.
    mutable std::vector<std::vector<Extremes>> levels;
    mutable std::vector<Probe> probes;
    mutable const QCPGraphDataContainer *indexedContainer = nullptr;
    mutable int indexedCount = 0;
    mutable bool stale = true;
};

// Creates a LodGraph on the plot's xAxis and yAxis, named like
// QCustomPlot::addGraph names its graphs. The plot owns it.
QCPGraph *addChannelGraph(QCustomPlot *plot);

// Tells the graph's summary that its container changed other than by
// appending (after a clear or a merge). Does nothing for other graphs.
void markGraphDataChanged(QCPGraph *graph);
