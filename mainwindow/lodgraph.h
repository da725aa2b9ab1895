#pragma once

#include <qcustomplot.h>

#include <memory>

class ChannelData;
class ChannelStore;

// A line graph whose redraw cost follows the plot's width, not the length of
// the recording. It draws one channel of the store, whose summary keeps the
// minimum and maximum value of every 64 points, and of every 8 such buckets
// again, level upon level. When more points fall on the screen than there
// are pixels, the pixel columns are found by binary search and each column's
// extremes come from the summary, so the graph draws exactly the clusters a
// plain QCPGraph with adaptive sampling would draw without reading the points
// inside them. Nothing is thinned. GUI thread only, like the plot.
//
// The channel's live points that wait to be merged are merged, and the
// summary brought up to date, before each replot of the plot it was added
// to. Its readers only read: the time and value ranges count the waiting
// points as if merged, drawing draws them after the others; selection and
// the point count see the points held.
class LodGraph : public QCPGraph
{
    Q_OBJECT

public:
    LodGraph(QCPAxis *keyAxis, QCPAxis *valueAxis, std::shared_ptr<const ChannelData> channel);
    // A graph on the plot's time and value axes that draws channel c of the
    // store, settling it before each replot. The plot owns it.
    static LodGraph *addTo(QCustomPlot *plot, ChannelStore &store, int c);

    double selectTest(const QPointF &pos, bool onlySelectable,
                      QVariant *details = nullptr) const override;
    QCPRange getKeyRange(bool &foundRange,
                         QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange &inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter *painter) override;
    void getOptimizedLineData(QVector<QCPGraphData> *lineData,
                              const QCPGraphDataContainer::const_iterator &begin,
                              const QCPGraphDataContainer::const_iterator &end) const override;

private:
    // Live points still waiting: between a block and the next replot, or
    // while file work holds the channel's points (an open, or a save sharing
    // a long channel). Drawn after the points held.
    void drawWaiting(QCPPainter *painter);

    std::shared_ptr<const ChannelData> source;
};
