#include "mainwindow/lodgraph.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "mainwindow/channelstore.h"

namespace {

// Above this many points within the click tolerance the exact point scan of
// QCPGraph is replaced by the distance to the drawn line.
constexpr int exactSelectLimit = 2048;

// int(pixel) as QCPGraph computes it, kept defined for pixels outside int.
int truncatedPixel(double pixel)
{
    if (!(pixel > double(INT_MIN)))
        return INT_MIN;
    if (!(pixel < double(INT_MAX)))
        return INT_MAX;
    return int(pixel);
}

// The first point in [lo, hi) whose key is not below limit. Starts at guess
// and doubles its steps from there, so a good guess costs a few reads
// instead of a binary search through the whole buffer.
const QCPGraphData *seekKey(const QCPGraphData *lo, const QCPGraphData *hi, double limit,
                            const QCPGraphData *guess)
{
    const auto below = [](const QCPGraphData &p, double key) { return p.key < key; };
    guess = std::clamp(guess, lo, hi);
    std::ptrdiff_t step = 1;
    if (guess != hi && guess->key < limit) {
        const QCPGraphData *from = guess + 1; // everything before it is below limit
        for (;;) {
            const QCPGraphData *to = hi - from > step ? from + step : hi;
            if (to == hi || !(to->key < limit))
                return std::lower_bound(from, to, limit, below);
            from = to + 1;
            step *= 2;
        }
    }
    const QCPGraphData *to = guess; // nothing from here on is below limit
    for (;;) {
        const QCPGraphData *from = to - lo > step ? to - step : lo;
        if (from == lo || from->key < limit)
            return std::lower_bound(from, to, limit, below);
        to = from;
        step *= 2;
    }
}

} // namespace

LodGraph::LodGraph(QCPAxis *keyAxis, QCPAxis *valueAxis, std::shared_ptr<const ChannelData> channel)
    : QCPGraph(keyAxis, valueAxis), source(std::move(channel))
{
    setData(source->sharedPoints()); // shared, not copied
}

// The clusters of QCPGraph's adaptive sampling, column by column: a pixel
// column starts at the truncated pixel of its first point and takes every
// following point whose key lies below the next pixel. A column with several
// points becomes its minimum and maximum (plus its first and last value where
// the line comes from or goes to a distant point); a lone point stays as it is.
// Where a column's points are all NaN, or its first or last value is NaN, a
// NaN is put in so the line shows the gap, as it would between sparse points.
void LodGraph::getOptimizedLineData(QVector<QCPGraphData> *lineData,
                                    const QCPGraphDataContainer::const_iterator &begin,
                                    const QCPGraphDataContainer::const_iterator &end) const
{
    QCPAxis *keyAxis = mKeyAxis.data();
    if (!lineData || !keyAxis || !mValueAxis || begin == end || !mAdaptiveSampling ||
        keyAxis->scaleType() != QCPAxis::stLinear || keyAxis->pixelOrientation() != 1) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        return;
    }
    const double keyPixelSpan =
        qAbs(keyAxis->coordToPixel(begin->key) - keyAxis->coordToPixel((end - 1)->key));
    // Fewer than two points per pixel: every point is drawn.
    if (!(2 * keyPixelSpan + 2 < double(INT_MAX)) || int(end - begin) < int(2 * keyPixelSpan + 2)) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        return;
    }

    const QCPGraphData *data = mDataContainer->constBegin().operator->();
    const QCPGraphData *stop = end.operator->();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto columnStart = [keyAxis](double key) {
        return keyAxis->pixelToCoord(truncatedPixel(keyAxis->coordToPixel(key)));
    };

    const QCPGraphData *first = begin.operator->();
    // Points per key unit, to guess where the next column starts.
    const double density = double(stop - first - 1) / ((stop - 1)->key - first->key);
    double start = columnStart(first->key);
    const double epsilon = qAbs(start - keyAxis->pixelToCoord(keyAxis->coordToPixel(start) + 1.0));
    double lastEndKey = start;
    lineData->reserve(int(std::min(4 * keyPixelSpan + 8, double(end - begin))));
    for (;;) {
        const double limit = start + epsilon;
        const double ahead = (limit - first->key) * density;
        const QCPGraphData *guess =
            ahead > 1 && ahead < double(stop - first) ? first + std::ptrdiff_t(ahead) : first + 1;
        const QCPGraphData *next = seekKey(first + 1, stop, limit, guess);
        if (next - first >= 2) {
            const ChannelData::Extremes e = source->extremes(int(first - data), int(next - data));
            const double firstValue = first->value;
            const double lastValue = (next - 1)->value;
            if (lastEndKey < start - epsilon || std::isnan(firstValue))
                lineData->append(QCPGraphData(start + epsilon * 0.2, firstValue));
            lineData->append(QCPGraphData(start + epsilon * 0.25, e.low <= e.high ? e.low : nan));
            lineData->append(QCPGraphData(start + epsilon * 0.75, e.low <= e.high ? e.high : nan));
            if (next != stop && (next->key > start + epsilon * 2 || std::isnan(lastValue)))
                lineData->append(QCPGraphData(start + epsilon * 0.8, lastValue));
        } else {
            lineData->append(*first);
        }
        if (next == stop)
            break;
        lastEndKey = (next - 1)->key;
        first = next;
        start = columnStart(first->key);
    }
}

double LodGraph::selectTest(const QPointF &pos, bool onlySelectable, QVariant *details) const
{
    if ((onlySelectable && mSelectable == QCP::stNone) || mDataContainer->isEmpty())
        return -1;
    QCPAxis *keyAxis = mKeyAxis.data();
    if (!keyAxis || !mValueAxis)
        return -1;
    if (!keyAxis->axisRect()->rect().contains(pos.toPoint()) &&
        !mParentPlot->interactions().testFlag(QCP::iSelectPlottablesBeyondAxisRect))
        return -1;
    if (mLineStyle != lsLine || !mScatterStyle.isNone())
        return QCPGraph::selectTest(pos, onlySelectable, details);

    // QCPGraph measures the distance to every point within the tolerance,
    // which in a dense view is a large share of the recording. There the
    // drawn line passes through every column's extremes, so the distance to
    // it stands for the distance to the points.
    const double tolerance = mParentPlot->selectionTolerance();
    double keyMin, keyMax, ignored;
    pixelsToCoords(pos - QPointF(tolerance, tolerance), keyMin, ignored);
    pixelsToCoords(pos + QPointF(tolerance, tolerance), keyMax, ignored);
    if (keyMin > keyMax)
        std::swap(keyMin, keyMax);
    const auto lowest = mDataContainer->findBegin(keyMin, true);
    const auto highest = mDataContainer->findEnd(keyMax, true);
    if (highest - lowest <= exactSelectLimit)
        return QCPGraph::selectTest(pos, onlySelectable, details);

    QVector<QPointF> lines;
    getLines(&lines, QCPDataRange(0, dataCount()));
    if (lines.size() < 2)
        return QCPGraph::selectTest(pos, onlySelectable, details);
    const QCPVector2D p(pos);
    double minDistSqr = std::numeric_limits<double>::max();
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const double d = p.distanceSquaredToLine(lines.at(i), lines.at(i + 1));
        if (d < minDistSqr)
            minDistSqr = d;
    }
    if (details) {
        // The point nearest in time to the press.
        double key;
        pixelsToCoords(pos, key, ignored);
        auto it = mDataContainer->findBegin(key, false);
        if (it == mDataContainer->constEnd() ||
            (it != mDataContainer->constBegin() && key - (it - 1)->key < it->key - key))
            --it;
        const int index = int(it - mDataContainer->constBegin());
        details->setValue(QCPDataSelection(QCPDataRange(index, index + 1)));
    }
    return std::sqrt(minDistSqr);
}

// As QCPGraph gives it with the waiting points merged, without merging
// them: the held points' range, widened by the waiting points' span.
QCPRange LodGraph::getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain) const
{
    QCPRange range = QCPGraph::getKeyRange(foundRange, inSignDomain);
    const PointList &waiting = source->waitingPoints();
    if (inSignDomain != QCP::sdBoth) {
        for (const DataPoint &p : waiting) {
            if (std::isnan(p.value) || !(inSignDomain == QCP::sdPositive ? p.key > 0 : p.key < 0))
                continue;
            range = foundRange
                        ? QCPRange(std::min(range.lower, p.key), std::max(range.upper, p.key))
                        : QCPRange(p.key, p.key);
            foundRange = true;
        }
        return range;
    }
    // The first and last point with a value once merged: points without a
    // time go last, so one with a value makes the upper end NaN.
    const DataPoint *timeless = nullptr;
    for (std::size_t k = waiting.size(); source->waitingNanKey() && k > 0 && !timeless; --k)
        if (std::isnan(waiting[k - 1].key) && !std::isnan(waiting[k - 1].value))
            timeless = &waiting[k - 1];
    const std::optional<QCPRange> timed = source->waitingKeys();
    if (!timed && !timeless)
        return range;
    QCPRange merged;
    merged.lower = timed ? timed->lower : timeless->key;
    merged.upper = timed ? timed->upper : timeless->key;
    if (foundRange) {
        if (!std::isnan(range.lower))
            merged.lower = timed ? std::min(range.lower, merged.lower) : range.lower;
        if (std::isnan(range.upper) || !timed)
            merged.upper = range.upper;
        else
            merged.upper = std::max(range.upper, merged.upper);
    }
    if (timeless)
        merged.upper = timeless->key;
    foundRange = true;
    return merged;
}

// The held points' range, from the summary over the whole time axis, widened
// by the waiting points as if they were merged.
QCPRange LodGraph::getValueRange(bool &foundRange, QCP::SignDomain inSignDomain,
                                 const QCPRange &inKeyRange) const
{
    const bool anyKey = inKeyRange == QCPRange();
    ChannelData::Extremes e{std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity()};
    if (inSignDomain == QCP::sdBoth && anyKey) {
        e = source->extremes(0, mDataContainer->size());
    } else if (const QCPRange held = QCPGraph::getValueRange(foundRange, inSignDomain, inKeyRange);
               foundRange) {
        e = {held.lower, held.upper};
    }
    for (const DataPoint &p : source->waitingPoints()) {
        const bool inDomain = inSignDomain == QCP::sdBoth ||
                              (inSignDomain == QCP::sdPositive ? p.value > 0 : p.value < 0);
        if (std::isnan(p.value) || !inDomain ||
            (!anyKey && !(p.key >= inKeyRange.lower && p.key <= inKeyRange.upper)))
            continue;
        e.low = std::min(e.low, p.value);
        e.high = std::max(e.high, p.value);
    }
    foundRange = e.low <= e.high;
    return foundRange ? QCPRange(e.low, e.high) : QCPRange();
}

void LodGraph::draw(QCPPainter *painter)
{
    // Where more points fall on the screen than there are pixel columns, the
    // line is a band of short vertical strokes; smoothing their edges adds
    // little to the picture and triples the cost of drawing it.
    const bool smooth = mAntialiased;
    if (QCPAxis *keyAxis = mKeyAxis.data()) {
        const QCPRange view = keyAxis->range();
        const auto first = mDataContainer->findBegin(view.lower, false);
        const auto last = mDataContainer->findEnd(view.upper, false);
        mAntialiased = smooth && last - first <= 2 * keyAxis->axisRect()->width();
    }
    QCPGraph::draw(painter);
    mAntialiased = smooth;
    drawWaiting(painter);
}

// A line through the waiting points in view, joined to the last point held
// where they follow it; more than one point per pixel column becomes the
// column's first, lowest, highest and last value. NaN values break the line.
void LodGraph::drawWaiting(QCPPainter *painter)
{
    const PointList &waiting = source->waitingPoints();
    QCPAxis *keyAxis = mKeyAxis.data();
    if (waiting.empty() || !keyAxis || !mValueAxis || mLineStyle == lsNone ||
        mPen.style() == Qt::NoPen)
        return;
    PointList sorted;
    const DataPoint *begin = waiting.data();
    if (!source->waitingInOrder()) {
        sorted = waiting;
        std::stable_sort(sorted.begin(), sorted.end(), [](const DataPoint &a, const DataPoint &b) {
            return a.key < b.key || (!std::isnan(a.key) && std::isnan(b.key));
        });
        begin = sorted.data();
    }
    // NaN times come last and are never drawn.
    const DataPoint *end = std::partition_point(
        begin, begin + waiting.size(), [](const DataPoint &p) { return !std::isnan(p.key); });
    const QCPRange view = keyAxis->range();
    const auto below = [](const DataPoint &p, double key) { return p.key < key; };
    const DataPoint *from = std::lower_bound(begin, end, view.lower, below);
    const DataPoint *to = std::lower_bound(from, end, view.upper, below);
    if (from != begin)
        --from;
    if (to != end)
        ++to;
    if (from == to)
        return;

    QVector<QPointF> line;
    if (from == begin && !mDataContainer->isEmpty()) {
        const QCPGraphData &last = *(mDataContainer->constEnd() - 1);
        if (!std::isnan(last.key) && !std::isnan(last.value) && last.key <= begin->key)
            line.append(coordsToPixels(last.key, last.value));
    }
    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    const auto flush = [&] {
        if (line.size() > 1)
            painter->drawPolyline(line.constData(), int(line.size()));
        line.clear();
    };
    int column = INT_MIN;
    QPointF low, high, last;
    for (const DataPoint *p = from; p != to; ++p) {
        if (std::isnan(p->value)) {
            if (column != INT_MIN)
                line << low << high << last;
            column = INT_MIN;
            flush();
            continue;
        }
        const QPointF point = coordsToPixels(p->key, p->value);
        const int x = truncatedPixel(point.x());
        if (x == column) {
            if (point.y() < low.y())
                low = point;
            if (point.y() > high.y())
                high = point;
            last = point;
            continue;
        }
        if (column != INT_MIN)
            line << low << high << last;
        column = x;
        line << point;
        low = high = last = point;
    }
    if (column != INT_MIN)
        line << low << high << last;
    flush();
}

LodGraph *LodGraph::addTo(QCustomPlot *plot, ChannelStore &store, int c)
{
    if (!plot || !plot->xAxis || !plot->yAxis)
        return nullptr;
    auto *graph = new LodGraph(plot->xAxis, plot->yAxis, store.sharedChannel(c));
    graph->setName(QLatin1String("Graph ") + QString::number(plot->graphCount()));
    // Holds the channel, not the store: the plot may outlive the store.
    QObject::connect(plot, &QCustomPlot::beforeReplot, graph,
                     [channel = store.channels[std::size_t(c)]] { channel->settle(); });
    return graph;
}
