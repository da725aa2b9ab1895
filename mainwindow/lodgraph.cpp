#include "mainwindow/lodgraph.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int baseShift = 6;  // 64 points per bucket of the lowest level
constexpr int levelShift = 3; // 8 buckets per bucket of the next level
constexpr int baseSize = 1 << baseShift;
constexpr int levelSize = 1 << levelShift;
constexpr int probeCount = 9; // points compared to spot a rewritten container
// Above this many points within the click tolerance the exact point scan of
// QCPGraph is replaced by the distance to the drawn line.
constexpr int exactSelectLimit = 2048;
// Waiting points are merged by the next reader, at the latest when they reach
// an eighth of the points held (or this many), so that merging costs a few
// moves per point even when nothing reads the graph.
constexpr int pendingMinimum = 1 << 14;

// Time order with NaN times after all others, as the open command sorts.
bool keyBefore(double a, double b)
{
    return a < b || (!std::isnan(a) && std::isnan(b));
}

bool pointBefore(const QCPGraphData &a, const QCPGraphData &b)
{
    return keyBefore(a.key, b.key);
}

bool samePoint(const QCPGraphData &a, const QCPGraphData &b)
{
    // Bitwise, so that NaN matches NaN.
    return std::memcmp(&a.key, &b.key, sizeof a.key) == 0 &&
           std::memcmp(&a.value, &b.value, sizeof a.value) == 0;
}

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

// Whether p lies nearer to key than best: nearer in time, or as near and
// earlier. Among points at the same time the one found first stays.
bool nearer(const QCPGraphData &p, const std::optional<QCPGraphData> &best, double key)
{
    if (!best)
        return true;
    const double d = std::abs(p.key - key), bestD = std::abs(best->key - key);
    return d < bestD || (d == bestD && p.key < best->key);
}

// The points around key in [begin, end), sorted by time with the points
// without a time last.
void nearestInSorted(const QCPGraphData *begin, const QCPGraphData *end, double key,
                     std::optional<QCPGraphData> &best)
{
    end =
        std::partition_point(begin, end, [](const QCPGraphData &p) { return !std::isnan(p.key); });
    const auto below = [](const QCPGraphData &p, double k) { return p.key < k; };
    const QCPGraphData *at = std::lower_bound(begin, end, key, below);
    if (at != begin) {
        const QCPGraphData *before = std::lower_bound(begin, at, (at - 1)->key, below);
        if (nearer(*before, best, key))
            best = *before;
    }
    if (at != end && nearer(*at, best, key))
        best = *at;
}

} // namespace

LodGraph::LodGraph(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPGraph(keyAxis, valueAxis) {}

void LodGraph::markDataChanged()
{
    stale = true;
    std::vector<std::vector<Extremes>>().swap(levels);
    probes.clear();
    indexedCount = 0;
}

void LodGraph::addPoints(const QVector<double> &keys, const QVector<double> &values)
{
    const qsizetype n = std::min(keys.size(), values.size());
    QCPGraphDataContainer *data = mDataContainer.data();
    qsizetype j = 0;
    if (pending.isEmpty()) {
        for (; j < n; ++j) {
            if (!data->isEmpty() && keyBefore(keys[j], (data->constEnd() - 1)->key))
                break;
            data->add(QCPGraphData(keys[j], values[j])); // appends
        }
    }
    for (; j < n; ++j) {
        if (!pending.isEmpty() && keyBefore(keys[j], pending.constLast().key))
            pendingSorted = false;
        pending.append(QCPGraphData(keys[j], values[j]));
        if (std::isnan(keys[j]))
            pendingNanKey = true;
        if (std::isnan(values[j]) || std::isnan(keys[j]))
            continue;
        if (!pendingHasKeys) {
            pendingKeys = QCPRange(keys[j], keys[j]);
            pendingHasKeys = true;
        } else {
            pendingKeys.lower = std::min(pendingKeys.lower, keys[j]);
            pendingKeys.upper = std::max(pendingKeys.upper, keys[j]);
        }
    }
    if (pending.size() >= std::max<qsizetype>(pendingMinimum, data->size() / 8))
        mergePending();
}

// One pass from the back: only the held points after the first new time
// move, each once, and the summary is rebuilt from there on.
void LodGraph::mergePending() const
{
    if (pending.isEmpty())
        return;
    if (!std::is_sorted(pending.cbegin(), pending.cend(), pointBefore))
        std::stable_sort(pending.begin(), pending.end(), pointBefore);
    QCPGraphDataContainer *data = mDataContainer.data();
    const int held = data->size();
    const int added = int(pending.size());
    // Held points up to the first new time, equal times included, stay put.
    const int from =
        int(std::upper_bound(data->constBegin(), data->constEnd(), pending.first(), pointBefore) -
            data->constBegin());
    // Room at the end: the container appends a point with a NaN time as it is.
    const QCPGraphData room(std::numeric_limits<double>::quiet_NaN(), 0.0);
    for (int k = 0; k < added; ++k)
        data->add(room);
    QCPGraphData *points = &*data->begin();
    // Held points after every new time only move up.
    const int to =
        int(std::upper_bound(points + from, points + held, pending.last(), pointBefore) - points);
    std::copy_backward(points + to, points + held, points + held + added);
    int h = to - 1;
    int w = to + added;
    for (int p = added - 1; p >= 0;) {
        if (h >= from && pointBefore(pending[p], points[h]))
            points[--w] = points[h--];
        else
            points[--w] = pending[p--];
    }
    pending.clear();
    pendingHasKeys = false;
    pendingNanKey = false;
    pendingSorted = true;
    invalidateIndexFrom(from);
}

void LodGraph::clearData()
{
    pending.clear();
    pending.squeeze();
    pendingHasKeys = false;
    pendingNanKey = false;
    pendingSorted = true;
    mDataContainer->clear();
    mDataContainer->squeeze(true, true);
    markDataChanged();
}

std::size_t LodGraph::indexBytes() const
{
    std::size_t bytes =
        levels.capacity() * sizeof(std::vector<Extremes>) + probes.capacity() * sizeof(Probe);
    for (const auto &level : levels)
        bytes += level.capacity() * sizeof(Extremes);
    return bytes;
}

std::size_t LodGraph::pendingBytes() const
{
    return std::size_t(pending.capacity()) * sizeof(QCPGraphData);
}

std::optional<QCPGraphData> LodGraph::nearestPoint(double key) const
{
    std::optional<QCPGraphData> best;
    if (std::isnan(key))
        return best;
    const QCPGraphData *data = mDataContainer->constBegin().operator->();
    nearestInSorted(data, data + mDataContainer->size(), key, best);
    if (pending.isEmpty())
        return best;
    if (pendingSorted) {
        nearestInSorted(pending.constData(), pending.constData() + pending.size(), key, best);
        return best;
    }
    // Out of order only where the time base went back; few, and merged soon.
    for (const QCPGraphData &p : pending) {
        if (!std::isnan(p.key) && nearer(p, best, key))
            best = p;
    }
    return best;
}

bool LodGraph::probesMatch() const
{
    const QCPGraphData *data = mDataContainer->constBegin().operator->();
    for (const Probe &probe : probes) {
        if (!samePoint(data[probe.position], probe.point))
            return false;
    }
    return true;
}

void LodGraph::syncIndex() const
{
    const QCPGraphDataContainer *container = mDataContainer.data();
    const int count = container->size();
    const bool appendedOnly =
        !stale && container == indexedContainer && count >= indexedCount && probesMatch();
    if (!appendedOnly) {
        levels.clear();
        probes.clear();
        indexedCount = 0;
        indexedContainer = container;
        stale = false;
    }
    if (count == indexedCount)
        return;
    indexedCount = count;
    extendIndex();

    const QCPGraphData *data = container->constBegin().operator->();
    probes.clear();
    for (int i = 0; i < probeCount; ++i) {
        const int position = int((long long)(count - 1) * i / (probeCount - 1));
        probes.push_back({position, data[position]});
    }
}

// The points from position on changed: the buckets that reach there are
// dropped and rebuilt at the next use, those before stay.
void LodGraph::invalidateIndexFrom(int position) const
{
    if (stale)
        return;
    std::size_t buckets = std::size_t(std::max(0, position)) >> baseShift;
    for (std::vector<Extremes> &level : levels) {
        if (level.size() > buckets)
            level.resize(buckets);
        buckets >>= levelShift;
    }
    indexedCount = std::min(indexedCount, position);
    probes.erase(std::remove_if(probes.begin(), probes.end(),
                                [position](const Probe &p) { return p.position >= position; }),
                 probes.end());
}

// Adds the buckets that became complete since the last call; an incomplete
// bucket at the end is left out and read point by point instead.
void LodGraph::extendIndex() const
{
    const QCPGraphData *data = mDataContainer->constBegin().operator->();
    if (levels.empty())
        levels.emplace_back();
    std::vector<Extremes> &base = levels[0];
    const std::size_t complete = std::size_t(indexedCount) >> baseShift;
    if (base.empty())
        base.reserve(complete); // a rebuild; appends grow the vector geometrically
    for (std::size_t b = base.size(); b < complete; ++b) {
        Extremes e{std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()};
        const QCPGraphData *p = data + (b << baseShift);
        for (int i = 0; i < baseSize; ++i) {
            // NaN fails both tests and so never counts.
            const double v = p[i].value;
            if (v < e.low)
                e.low = v;
            if (v > e.high)
                e.high = v;
        }
        base.push_back(e);
    }
    for (std::size_t level = 1; levels[level - 1].size() >= std::size_t(levelSize); ++level) {
        if (levels.size() == level)
            levels.emplace_back();
        const std::vector<Extremes> &below = levels[level - 1];
        std::vector<Extremes> &here = levels[level];
        const std::size_t completeHere = below.size() >> levelShift;
        for (std::size_t b = here.size(); b < completeHere; ++b) {
            Extremes e = below[b << levelShift];
            for (int i = 1; i < levelSize; ++i) {
                const Extremes &x = below[(b << levelShift) + i];
                e.low = std::min(e.low, x.low);
                e.high = std::max(e.high, x.high);
            }
            here.push_back(e);
        }
    }
}

// Minimum and maximum of the non-NaN values in [from, to); low > high when
// there is none. Reads at most a few hundred entries whatever the span.
LodGraph::Extremes LodGraph::extremes(int from, int to) const
{
    Extremes e{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    const QCPGraphData *data = mDataContainer->constBegin().operator->();
    auto scanPoints = [&](int a, int b) {
        for (int i = a; i < b; ++i) {
            const double v = data[i].value;
            if (v < e.low)
                e.low = v;
            if (v > e.high)
                e.high = v;
        }
    };
    auto scanBuckets = [&](const std::vector<Extremes> &level, std::size_t a, std::size_t b) {
        for (std::size_t i = a; i < b; ++i) {
            e.low = std::min(e.low, level[i].low);
            e.high = std::max(e.high, level[i].high);
        }
    };

    const int alignedFrom = (from + baseSize - 1) & ~(baseSize - 1);
    const int alignedTo = to & ~(baseSize - 1);
    if (levels.empty() || alignedFrom >= alignedTo) {
        scanPoints(from, to);
        return e;
    }
    scanPoints(from, alignedFrom);
    scanPoints(alignedTo, to);
    std::size_t lo = std::size_t(alignedFrom) >> baseShift;
    std::size_t hi = std::size_t(alignedTo) >> baseShift;
    for (std::size_t level = 0;; ++level) {
        const std::vector<Extremes> &buckets = levels[level];
        const std::size_t up = (lo + levelSize - 1) & ~std::size_t(levelSize - 1);
        const std::size_t down = hi & ~std::size_t(levelSize - 1);
        if (level + 1 == levels.size() || up >= down) {
            scanBuckets(buckets, lo, hi);
            return e;
        }
        scanBuckets(buckets, lo, up);
        scanBuckets(buckets, down, hi);
        lo = up >> levelShift;
        hi = down >> levelShift;
    }
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

    syncIndex();
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
            const Extremes e = extremes(int(first - data), int(next - data));
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
    mergePending();
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

QCPRange LodGraph::getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain) const
{
    // Fitting the time axis after every block must not merge: the waiting
    // points' span is known. NaN times and sign domains are left to QCPGraph.
    if (inSignDomain != QCP::sdBoth || pendingNanKey ||
        (!mDataContainer->isEmpty() && std::isnan((mDataContainer->constEnd() - 1)->key)))
        mergePending();
    QCPRange range = QCPGraph::getKeyRange(foundRange, inSignDomain);
    if (pending.isEmpty() || !pendingHasKeys)
        return range;
    if (!foundRange) {
        foundRange = true;
        return pendingKeys;
    }
    range.expand(pendingKeys);
    return range;
}

QCPRange LodGraph::getValueRange(bool &foundRange, QCP::SignDomain inSignDomain,
                                 const QCPRange &inKeyRange) const
{
    mergePending();
    if (inSignDomain != QCP::sdBoth || inKeyRange != QCPRange())
        return QCPGraph::getValueRange(foundRange, inSignDomain, inKeyRange);
    syncIndex();
    const Extremes e = extremes(0, mDataContainer->size());
    foundRange = e.low <= e.high;
    return foundRange ? QCPRange(e.low, e.high) : QCPRange();
}

int LodGraph::dataCount() const
{
    mergePending();
    return QCPGraph::dataCount();
}

int LodGraph::findBegin(double sortKey, bool expandedRange) const
{
    mergePending();
    return QCPGraph::findBegin(sortKey, expandedRange);
}

int LodGraph::findEnd(double sortKey, bool expandedRange) const
{
    mergePending();
    return QCPGraph::findEnd(sortKey, expandedRange);
}

QCPDataSelection LodGraph::selectTestRect(const QRectF &rect, bool onlySelectable) const
{
    mergePending();
    return QCPGraph::selectTestRect(rect, onlySelectable);
}

void LodGraph::draw(QCPPainter *painter)
{
    mergePending();
    QCPGraph::draw(painter);
}

QCPGraph *addChannelGraph(QCustomPlot *plot)
{
    if (!plot || !plot->xAxis || !plot->yAxis)
        return nullptr;
    auto *graph = new LodGraph(plot->xAxis, plot->yAxis); // registers itself with the plot
    graph->setName(QLatin1String("Graph ") + QString::number(plot->graphCount()));
    return graph;
}

void markGraphDataChanged(QCPGraph *graph)
{
    if (auto *lod = qobject_cast<LodGraph *>(graph))
        lod->markDataChanged();
}

void addChannelPoints(QCPGraph *graph, const QVector<double> &keys, const QVector<double> &values)
{
    if (!graph)
        return;
    if (auto *lod = qobject_cast<LodGraph *>(graph)) {
        lod->addPoints(keys, values);
        return;
    }
    const qsizetype n = std::min(keys.size(), values.size());
    for (qsizetype j = 0; j < n; ++j)
        graph->addData(keys[j], values[j]);
}

void settleGraphData(QCPGraph *graph)
{
    if (auto *lod = qobject_cast<LodGraph *>(graph))
        lod->mergePending();
}

void clearGraphData(QCPGraph *graph)
{
    if (auto *lod = qobject_cast<LodGraph *>(graph)) {
        lod->clearData();
    } else if (graph) {
        graph->data()->clear();
        graph->data()->squeeze(true, true);
    }
}

namespace {

// QCPDataContainer keeps its vector protected; a pointer to that member,
// formed in a class derived from it, reads it in any container.
struct ContainerAccess : QCPGraphDataContainer
{
    static QVector<QCPGraphData> QCPGraphDataContainer::*vector()
    {
        return &ContainerAccess::mData;
    }
};

} // namespace

qsizetype graphCapacity(const QCPGraph *graph)
{
    if (!graph)
        return 0;
    const QCPGraphDataContainer &data = *graph->data();
    return (data.*ContainerAccess::vector()).capacity();
}

qsizetype graphPoints(const QCPGraph *graph)
{
    if (!graph)
        return 0;
    const auto *lod = qobject_cast<const LodGraph *>(graph);
    return graph->data()->size() + (lod ? lod->pendingCount() : 0);
}

std::size_t graphSideBytes(const QCPGraph *graph)
{
    const auto *lod = qobject_cast<const LodGraph *>(graph);
    return lod ? lod->indexBytes() + lod->pendingBytes() : 0;
}

std::optional<QCPGraphData> nearestGraphPoint(const QCPGraph *graph, double key)
{
    if (auto *lod = qobject_cast<const LodGraph *>(graph))
        return lod->nearestPoint(key);
    std::optional<QCPGraphData> best;
    if (!graph || graph->data()->isEmpty() || std::isnan(key))
        return best;
    const QCPGraphData *data = graph->data()->constBegin().operator->();
    nearestInSorted(data, data + graph->data()->size(), key, best);
    return best;
}
