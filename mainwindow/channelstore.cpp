#include "mainwindow/channelstore.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <type_traits>
#include <utility>

#include "acquisition/blockmath.h"
#include "mainwindow/memoryguard.h"

namespace {

// A prefix sum's ordinary part and its excess, and back.
void split(const WideSum &sum, CompensatedSum &ordinary, WideSum::Excess &excess)
{
    ordinary = sum.small;
    excess = sum.excess;
}

void split(const ChannelData::Totals &totals, ChannelData::OrdinaryTotals &ordinary,
           ChannelData::ExcessTotals &excess)
{
    ordinary = {totals.counted, totals.values.small, totals.squares.small, totals.area.small};
    excess = {totals.values.excess, totals.squares.excess, totals.area.excess};
}

bool none(const WideSum::Excess &excess)
{
    return excess.empty();
}

bool none(const ChannelData::ExcessTotals &excess)
{
    return excess.values.empty() && excess.squares.empty() && excess.area.empty();
}

WideSum join(const CompensatedSum &ordinary, const WideSum::Excess &excess)
{
    return WideSum{ordinary, excess};
}

ChannelData::Totals join(const ChannelData::OrdinaryTotals &ordinary,
                         const ChannelData::ExcessTotals &excess)
{
    return {ordinary.counted,
            {ordinary.values, excess.values},
            {ordinary.squares, excess.squares},
            {ordinary.area, excess.area}};
}

} // namespace

template <typename Full, typename Ordinary, typename Excess>
Full PrefixSums<Full, Ordinary, Excess>::operator[](std::size_t b) const
{
    return join(ordinary[b], excess.empty() ? Excess{} : excess[b]);
}

template <typename Full, typename Ordinary, typename Excess>
void PrefixSums<Full, Ordinary, Excess>::push_back(const Full &sums)
{
    Ordinary o;
    Excess e;
    split(sums, o, e);
    if (excess.empty() && !none(e))
        excess.resize(ordinary.size()); // the sums before had none
    ordinary.push_back(o);
    if (!excess.empty())
        excess.push_back(e);
}

template <typename Full, typename Ordinary, typename Excess>
void PrefixSums<Full, Ordinary, Excess>::truncate(std::size_t count)
{
    if (ordinary.size() > count)
        ordinary.resize(count);
    if (excess.size() > count)
        excess.resize(count);
}

namespace {

constexpr int baseShift = 6;  // 64 points per bucket of the lowest level
constexpr int levelShift = 3; // 8 buckets per bucket of the next level
constexpr int baseSize = 1 << baseShift;
constexpr int levelSize = 1 << levelShift;
// Waiting points are merged by the next reader, at the latest when they reach
// an eighth of the points held (or this many), so that merging costs a few
// moves per point even when nothing reads the channel.
constexpr qsizetype waitingMinimum = 1 << 14;

// WideSum: terms from largeTerm on go into its second sum times
// 2^-largeShift, which no number of them can overflow; so do the squares of
// values from largeRoot on. Below largeTerm, 2^63 terms cannot overflow.
constexpr double largeTerm = 0x1p900;
constexpr double largeRoot = 0x1p450;
// Times below this make with values below largeRoot no area term from largeTerm on.
constexpr double largeTime = 0x1p448;
// And U1 and I below this, no energy term.
constexpr double largePowerRoot = 0x1p225;
constexpr int largeShift = 1100;

// a * b * 2^-largeShift for finite factors whose product may overflow.
double scaledProduct(double a, double b)
{
    int ea = 0, eb = 0;
    const double ma = std::frexp(a, &ea), mb = std::frexp(b, &eb);
    return std::ldexp(ma * mb, ea + eb - largeShift);
}

// Time order with NaN times after all others, so that sorting stays defined.
bool keyBefore(double a, double b)
{
    return a < b || (!std::isnan(a) && std::isnan(b));
}

template <typename Point> bool pointBefore(const Point &a, const Point &b)
{
    return keyBefore(a.key, b.key);
}

// Merges the sorted points [added, added + n) into the sorted held points in
// one pass from the back: only the held points after the first new time
// move, each once. At equal times the held points stay first. Returns the
// first position that changed.
template <typename Point>
qsizetype mergeSorted(QVector<QCPGraphData> &held, const Point *added, qsizetype n)
{
    const qsizetype heldCount = held.size();
    const auto before = [](const auto &a, const auto &b) { return keyBefore(a.key, b.key); };
    // Held points up to the first new time, equal times included, stay put.
    const qsizetype from =
        std::upper_bound(held.cbegin(), held.cend(), added[0], before) - held.cbegin();
    held.resize(heldCount + n);
    QCPGraphData *points = held.data();
    // Held points after every new time only move up.
    const qsizetype to =
        std::upper_bound(points + from, points + heldCount, added[n - 1], before) - points;
    std::copy_backward(points + to, points + heldCount, points + heldCount + n);
    qsizetype h = to - 1;
    qsizetype w = to + n;
    for (qsizetype p = n - 1; p >= 0;) {
        if (h >= from && keyBefore(added[p].key, points[h].key)) {
            points[--w] = points[h--];
        } else {
            points[--w] = QCPGraphData(added[p].key, added[p].value);
            --p;
        }
    }
    return from;
}

// Whether p lies nearer to key than best: nearer in time, or as near and
// earlier. Among points at the same time the one found first stays.
template <typename Point>
bool nearer(const Point &p, const std::optional<DataPoint> &best, double key)
{
    if (!best)
        return true;
    const double d = std::abs(p.key - key), bestD = std::abs(best->key - key);
    return d < bestD || (d == bestD && p.key < best->key);
}

// The points around key in [begin, end), sorted by time with the points
// without a time last.
template <typename Point>
void nearestInSorted(const Point *begin, const Point *end, double key,
                     std::optional<DataPoint> &best)
{
    end = std::partition_point(begin, end, [](const Point &p) { return !std::isnan(p.key); });
    const auto below = [](const Point &p, double k) { return p.key < k; };
    const Point *at = std::lower_bound(begin, end, key, below);
    if (at != begin) {
        const Point *earlier = std::lower_bound(begin, at, (at - 1)->key, below);
        if (nearer(*earlier, best, key))
            best = DataPoint{earlier->key, earlier->value};
    }
    if (at != end && nearer(*at, best, key))
        best = DataPoint{at->key, at->value};
}

// The end of the points with a time: those without one sort last.
const QCPGraphData *timedEnd(const QCPGraphData *begin, const QCPGraphData *end)
{
    return std::partition_point(begin, end,
                                [](const QCPGraphData &p) { return !std::isnan(p.key); });
}

// The value at key between the timed points [begin, end), where at is the
// first not before key: linear between the two around it, the value of the
// first point at key itself, the nearest end's outside.
double interpolate(const QCPGraphData *begin, const QCPGraphData *end, const QCPGraphData *at,
                   double key)
{
    if (begin == end)
        return std::numeric_limits<double>::quiet_NaN();
    if (at == end)
        return (end - 1)->value;
    if (at == begin || at->key == key)
        return at->value;
    const QCPGraphData &before = *(at - 1);
    return before.value +
           (at->value - before.value) * ((key - before.key) / (at->key - before.key));
}

DataPoint viewPoint(const void *source, qsizetype index)
{
    const QCPGraphData &p = static_cast<const QCPGraphData *>(source)[index];
    return DataPoint{p.key, p.value};
}

// What point k adds to the totals; its area term joins it to point k - 1.
void addTerms(ChannelData::Totals &totals, const QCPGraphData *data, qsizetype k)
{
    const double v = data[k].value;
    if (std::isnan(v))
        return;
    ++totals.counted;
    totals.values.add(v);
    totals.squares.addSquare(v);
    if (k == 0)
        return;
    const QCPGraphData &p = data[k - 1];
    const double dt = data[k].key - p.key;
    if (!std::isnan(p.value) && !std::isnan(dt))
        totals.area.addProduct(dt, p.value * 0.5 + v * 0.5);
}

// The trapezoid of U1 * I between two points, (u0, i0) dt before (u1, i1);
// nothing where a value or the time has no number.
void addEnergy(WideSum &sum, double dt, double u0, double i0, double u1, double i1)
{
    if (std::isnan(dt) || std::isnan(u0) || std::isnan(i0) || std::isnan(u1) || std::isnan(i1))
        return;
    const double p0 = u0 * i0, p1 = u1 * i1;
    if (std::isfinite(p0) && std::isfinite(p1)) {
        sum.addProduct(dt, p0 * 0.5 + p1 * 0.5);
        return;
    }
    if (std::isfinite(u0) && std::isfinite(i0) && std::isfinite(u1) && std::isfinite(i1)) {
        // Finite values whose power overflows: scaled.
        sum.addScaled(dt * (scaledProduct(u0, i0) * 0.5 + scaledProduct(u1, i1) * 0.5));
        return;
    }
    sum.add(dt * (p0 * 0.5 + p1 * 0.5));
}

// The energy term of point k: the trapezoid of U1 * I from point k - 1.
void addEnergyTerm(WideSum &sum, const QCPGraphData *u, const QCPGraphData *i, qsizetype k)
{
    addEnergy(sum, i[k].key - i[k - 1].key, u[k - 1].value, i[k - 1].value, u[k].value, i[k].value);
}

// Extends the run of leading points where U1 and I share their times, and
// the energy prefix sums of the complete buckets within it.
void extendEnergy(EnergySums &prefixes, qsizetype &sameTimes, const QCPGraphData *u,
                  const QCPGraphData *i, qsizetype count)
{
    while (sameTimes < count && u[sameTimes].key == i[sameTimes].key)
        ++sameTimes;
    if (prefixes.empty())
        prefixes.push_back({});
    for (std::size_t b = prefixes.size() - 1; b < std::size_t(sameTimes >> baseShift); ++b) {
        WideSum sum = prefixes.back();
        const qsizetype first = std::max<qsizetype>(1, qsizetype(b << baseShift));
        const qsizetype end = qsizetype((b + 1) << baseShift);
        // As in ChannelData::extendSums: ordinary sizes go straight in.
        bool ordinary = true;
        for (qsizetype k = first - 1; k < end; ++k)
            ordinary &= std::abs(u[k].value) < largePowerRoot &&
                        std::abs(i[k].value) < largePowerRoot && std::abs(i[k].key) < largeTime;
        for (qsizetype k = first; k < end; ++k) {
            if (ordinary)
                sum.small.add((i[k].key - i[k - 1].key) * (u[k - 1].value * i[k - 1].value * 0.5 +
                                                           u[k].value * i[k].value * 0.5));
            else
                addEnergyTerm(sum, u, i, k);
        }
        prefixes.push_back(sum);
    }
}

void subtract(ChannelData::Totals &totals, const ChannelData::Totals &other)
{
    totals.counted -= other.counted;
    totals.values.subtract(other.values);
    totals.squares.subtract(other.squares);
    totals.area.subtract(other.area);
}

void add(ChannelData::Totals &totals, const ChannelData::Totals &other)
{
    totals.counted += other.counted;
    totals.values.add(other.values);
    totals.squares.add(other.squares);
    totals.area.add(other.area);
}

} // namespace

void WideSum::add(double x)
{
    if (std::abs(x) < largeTerm) {
        small.add(x);
    } else if (std::isfinite(x)) {
        excess.large.add(std::ldexp(x, -largeShift));
    } else {
        excess.above += !(x < 0); // NaN counts as both
        excess.below += !(x > 0);
    }
}

void WideSum::addSquare(double x)
{
    if (std::abs(x) < largeRoot) {
        small.add(x * x);
    } else if (std::isfinite(x)) {
        const double scaled = std::ldexp(x, -largeShift / 2);
        excess.large.add(scaled * scaled);
    } else {
        ++excess.above;
    }
}

void WideSum::addProduct(double a, double b)
{
    const double x = a * b;
    if (std::abs(x) < largeTerm)
        small.add(x);
    else if (std::isfinite(x) || !std::isfinite(a) || !std::isfinite(b))
        add(x);
    else
        excess.large.add(scaledProduct(a, b));
}

void WideSum::addScaled(double x)
{
    if (std::isfinite(x))
        excess.large.add(x);
    else
        add(x);
}

void WideSum::add(const WideSum &other)
{
    small.add(other.small);
    excess.large.add(other.excess.large);
    excess.above += other.excess.above;
    excess.below += other.excess.below;
}

void WideSum::subtract(const WideSum &other)
{
    small.subtract(other.small);
    excess.large.subtract(other.excess.large);
    excess.above -= other.excess.above;
    excess.below -= other.excess.below;
}

double WideSum::value(double divisor) const
{
    if (excess.above > 0 || excess.below > 0) {
        if (excess.above > 0 && excess.below > 0)
            return std::numeric_limits<double>::quiet_NaN();
        return excess.above > 0 ? std::numeric_limits<double>::infinity()
                                : -std::numeric_limits<double>::infinity();
    }
    const double l = excess.large.value();
    if (l == 0)
        return small.value() / divisor;
    return std::ldexp(l / divisor + std::ldexp(small.value() / divisor, -largeShift), largeShift);
}

double WideSum::root(double divisor) const
{
    if (excess.above > 0)
        return std::numeric_limits<double>::infinity();
    const double l = excess.large.value();
    if (l == 0) {
        const double meanSquare = small.value() / divisor;
        return meanSquare < 0 ? 0.0 : std::sqrt(meanSquare); // a rounding below 0
    }
    return std::ldexp(std::sqrt(l / divisor + std::ldexp(small.value() / divisor, -largeShift)),
                      largeShift / 2);
}

ChannelData::ChannelData() : container(QSharedPointer<ChannelPoints>::create()) {}

void ChannelData::append(const QVector<double> &keys, const QVector<double> &values)
{
    const qsizetype n = std::min(keys.size(), values.size());
    QVector<QCPGraphData> &held = container->vector();
    qsizetype j = 0;
    if (waiting.empty() && !this->held()) {
        for (; j < n; ++j) {
            if (!held.isEmpty() && keyBefore(keys[j], held.constLast().key))
                break;
            held.append(QCPGraphData(keys[j], values[j]));
        }
    }
    for (; j < n; ++j) {
        if (!waiting.empty() && keyBefore(keys[j], waiting.back().key))
            waitingSorted = false;
        waiting.push_back({keys[j], values[j]});
        if (std::isnan(keys[j])) {
            waitingHasNanKey = true;
            continue;
        }
        waitingLastKey = waitingHasKey ? std::max(waitingLastKey, keys[j]) : keys[j];
        waitingHasKey = true;
        if (std::isnan(values[j]))
            continue;
        if (!waitingHasKeys) {
            waitingSpan = QCPRange(keys[j], keys[j]);
            waitingHasKeys = true;
        } else {
            waitingSpan.lower = std::min(waitingSpan.lower, keys[j]);
            waitingSpan.upper = std::max(waitingSpan.upper, keys[j]);
        }
    }
    if (qsizetype(waiting.size()) >= std::max(waitingMinimum, held.size() / 8))
        mergeWaiting();
}

bool ChannelData::held() const
{
    return pinned || (container->shared() && container->size() > copyWhileSharedLimit);
}

void ChannelData::settle()
{
    mergeWaiting();
    syncIndex();
}

void ChannelData::mergeWaiting()
{
    if (waiting.empty() || held())
        return;
    if (!waitingSorted)
        std::stable_sort(waiting.begin(), waiting.end(), pointBefore<DataPoint>);
    invalidateIndexFrom(
        mergeSorted(container->vector(), waiting.data(), qsizetype(waiting.size())));
    waiting.clear();
    waitingHasKeys = false;
    waitingHasNanKey = false;
    waitingHasKey = false;
    waitingSorted = true;
}

void ChannelData::merge(PointList &points)
{
    if (points.empty())
        return;
    mergeWaiting();
    if (!std::is_sorted(points.begin(), points.end(), pointBefore<DataPoint>))
        std::stable_sort(points.begin(), points.end(), pointBefore<DataPoint>);
    invalidateIndexFrom(mergeSorted(container->vector(), points.data(), qsizetype(points.size())));
}

void ChannelData::merge(QVector<QCPGraphData> &points, Levels &summary, Sums &sums)
{
    if (points.isEmpty())
        return;
    if (container->isEmpty()) {
        replace(points, summary, sums);
        return;
    }
    mergeWaiting();
    invalidateIndexFrom(mergeSorted(container->vector(), points.constData(), points.size()));
}

void ChannelData::replace(QVector<QCPGraphData> &points, Levels &summary, Sums &sums)
{
    container->clear(); // no room kept in front
    container->vector().swap(points);
    invalidateIndexFrom(0);
    if (!summary.empty()) {
        levels.swap(summary);
        indexedCount = container->size();
    }
    if (!sums.empty())
        prefixes.swap(sums);
}

void ChannelData::clear()
{
    PointList().swap(waiting);
    waitingHasKeys = false;
    waitingHasNanKey = false;
    waitingHasKey = false;
    waitingSorted = true;
    container->clear();
    container->squeeze(true, true);
    std::vector<std::vector<Extremes>>().swap(levels);
    prefixes.release();
    indexedCount = 0;
    changedFrom = 0;
}

std::optional<QCPRange> ChannelData::waitingKeys() const
{
    if (!waitingHasKeys)
        return std::nullopt;
    return waitingSpan;
}

ChannelView ChannelData::view() const
{
    return ChannelView(container->size(), container->points(), viewPoint);
}

std::optional<DataPoint> ChannelData::nearestPoint(double key) const
{
    std::optional<DataPoint> best;
    if (std::isnan(key))
        return best;
    const QCPGraphData *held = container->points();
    nearestInSorted(held, held + container->size(), key, best);
    if (waiting.empty())
        return best;
    if (waitingSorted) {
        nearestInSorted(waiting.data(), waiting.data() + waiting.size(), key, best);
        return best;
    }
    // Out of order only where the time base went back; few, and merged soon.
    for (const DataPoint &p : waiting) {
        if (!std::isnan(p.key) && nearer(p, best, key))
            best = p;
    }
    return best;
}

std::optional<double> ChannelData::lastKey() const
{
    std::optional<double> last;
    if (waitingHasKey)
        last = waitingLastKey;
    // Times that are no number sort last (opened files); skip them.
    const QCPGraphData *held = container->points();
    for (qsizetype k = container->size(); k > 0; --k) {
        if (!std::isnan(held[k - 1].key)) {
            if (!last || held[k - 1].key > *last)
                last = held[k - 1].key;
            break;
        }
    }
    return last;
}

std::size_t ChannelData::sideBytes() const
{
    std::size_t bytes =
        levels.capacity() * sizeof(std::vector<Extremes>) + waiting.capacity() * sizeof(DataPoint);
    for (const auto &level : levels)
        bytes += level.capacity() * sizeof(Extremes);
    return bytes + prefixes.bytes();
}

// The points from position on changed: the buckets that reach there are
// dropped and rebuilt at the next use, those before stay.
void ChannelData::invalidateIndexFrom(qsizetype position)
{
    std::size_t buckets = std::size_t(std::max<qsizetype>(0, position)) >> baseShift;
    prefixes.truncate(buckets + 1);
    changedFrom = std::min(changedFrom, position);
    for (std::vector<Extremes> &level : levels) {
        if (level.size() > buckets)
            level.resize(buckets);
        buckets >>= levelShift;
    }
    indexedCount = std::min(indexedCount, position);
}

// Adds the buckets that became complete since the last call; an incomplete
// bucket at the end is left out and read point by point instead.
void ChannelData::syncIndex()
{
    const qsizetype count = container->size();
    if (indexedCount == count)
        return;
    indexedCount = count;
    extendLevels(levels, container->points(), count);
}

void ChannelData::extendLevels(std::vector<std::vector<Extremes>> &levels, const QCPGraphData *data,
                               qsizetype count)
{
    if (levels.empty())
        levels.emplace_back();
    std::vector<Extremes> &base = levels[0];
    const std::size_t complete = std::size_t(count) >> baseShift;
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

ChannelData::Extremes ChannelData::extremes(int from, int to) const
{
    Extremes e{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    const QCPGraphData *data = container->points();
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
    // Points after the summary's last bucket are read one by one.
    const int summarised = levels.empty() ? 0 : int(levels[0].size()) << baseShift;
    const int alignedTo = std::min(to & ~(baseSize - 1), summarised);
    if (alignedFrom >= alignedTo) {
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

void ChannelData::syncSums(qsizetype limit)
{
    const qsizetype summed = qsizetype(std::max<std::size_t>(prefixes.size(), 1) - 1) << baseShift;
    if (container->size() - summed <= limit)
        extendSums(prefixes, container->points(), container->size());
}

void ChannelData::extendSums(Sums &prefixes, const QCPGraphData *data, qsizetype count)
{
    const std::size_t complete = std::size_t(count) >> baseShift;
    if (prefixes.empty()) {
        prefixes.reserve(complete + 1);
        prefixes.push_back({});
    }
    for (std::size_t b = prefixes.size() - 1; b < complete; ++b) {
        Totals totals = prefixes.back();
        const qsizetype first = qsizetype(b << baseShift), end = first + baseSize;
        // Values and times of ordinary size, as nearly always: no term is
        // large, infinite or without a number, so each goes straight into
        // the ordinary sums, as WideSum would put it.
        bool ordinary = true;
        for (qsizetype k = first; k < end; ++k)
            ordinary &= std::abs(data[k].value) < largeRoot && std::abs(data[k].key) < largeTime;
        if (!ordinary) {
            for (qsizetype k = first; k < end; ++k)
                addTerms(totals, data, k);
        } else {
            addTerms(totals, data, first); // joined to the bucket before
            totals.counted += baseSize - 1;
            for (qsizetype k = first + 1; k < end; ++k) {
                const double v = data[k].value, p = data[k - 1].value;
                totals.values.small.add(v);
                totals.squares.small.add(v * v);
                totals.area.small.add((data[k].key - data[k - 1].key) * (p * 0.5 + v * 0.5));
            }
        }
        prefixes.push_back(totals);
    }
}

ChannelData::Totals ChannelData::termTotals(qsizetype from, qsizetype to) const
{
    Totals totals;
    const QCPGraphData *data = container->points();
    const qsizetype alignedFrom = (from + baseSize - 1) & ~qsizetype(baseSize - 1);
    // Points after the last prefix sum are read one by one.
    const qsizetype summed = qsizetype(std::max<std::size_t>(prefixes.size(), 1) - 1) << baseShift;
    const qsizetype alignedTo = std::min(to & ~qsizetype(baseSize - 1), summed);
    if (alignedFrom >= alignedTo) {
        for (qsizetype k = from; k < to; ++k)
            addTerms(totals, data, k);
        return totals;
    }
    for (qsizetype k = from; k < alignedFrom; ++k)
        addTerms(totals, data, k);
    add(totals, prefixes[std::size_t(alignedTo >> baseShift)]);
    subtract(totals, prefixes[std::size_t(alignedFrom >> baseShift)]);
    for (qsizetype k = alignedTo; k < to; ++k)
        addTerms(totals, data, k);
    return totals;
}

ChannelData::Totals ChannelData::totals(qsizetype from, qsizetype to) const
{
    from = std::max<qsizetype>(from, 0);
    to = std::min<qsizetype>(to, container->size());
    if (from >= to)
        return {};
    Totals totals = termTotals(from, to);
    totals.area = termTotals(from + 1, to).area; // the pairs inside the run only
    return totals;
}

std::pair<qsizetype, qsizetype> ChannelData::span(double low, double high) const
{
    const QCPGraphData *begin = container->points();
    const QCPGraphData *end = timedEnd(begin, begin + container->size());
    if (!(low <= high))
        return {0, 0};
    const QCPGraphData *first =
        std::partition_point(begin, end, [low](const QCPGraphData &p) { return p.key < low; });
    const QCPGraphData *last =
        std::partition_point(first, end, [high](const QCPGraphData &p) { return p.key <= high; });
    return {first - begin, last - begin};
}

double ChannelData::valueAt(double key) const
{
    if (std::isnan(key))
        return key;
    const QCPGraphData *begin = container->points();
    const QCPGraphData *end = timedEnd(begin, begin + container->size());
    const QCPGraphData *at =
        std::partition_point(begin, end, [key](const QCPGraphData &p) { return p.key < key; });
    return interpolate(begin, end, at, key);
}

qsizetype ChannelData::takeChangedFrom()
{
    const qsizetype from = changedFrom;
    changedFrom = std::numeric_limits<qsizetype>::max();
    return from;
}

ChannelStore::ChannelStore()
{
    for (auto &c : channels)
        c = std::make_shared<ChannelData>();
}

void ChannelStore::append(const SampleBlock &kept)
{
    const QVector<double> *values[ChannelCount] = {&kept.u1, &kept.i, &kept.t, &kept.u2};
    for (int c = 0; c < ChannelCount; ++c)
        append(c, kept.keys, *values[c]);
}

void ChannelStore::append(int c, const QVector<double> &keys, const QVector<double> &values)
{
    ChannelData &data = *channels[std::size_t(c)];
    data.append(keys, values);
    // The measurement's sums follow the live points at the cost of the block,
    // so that no measurement has to build them at once.
    const qsizetype limit = 4 * keys.size() + 2 * waitingMinimum;
    data.syncSums(limit);
    if (c == ChannelU1 || c == ChannelI)
        syncEnergy(limit);
}

void ChannelStore::merge(std::array<PointList, ChannelCount> &points)
{
    for (int c = 0; c < ChannelCount; ++c)
        channels[std::size_t(c)]->merge(points[std::size_t(c)]);
}

void ChannelStore::beginOpen(OpenedPoints &opened)
{
    settle();
    opened.held = snapshot();
    opened.clears = clears;
    for (auto &c : channels)
        c->pinned = true;
}

void ChannelStore::endOpen(OpenedPoints *opened)
{
    for (auto &c : channels)
        c->pinned = false;
    if (!opened)
        return;
    const std::array<int, 2> powerChannels{ChannelU1, ChannelI};
    std::array<const QCPGraphData *, 2> prepared{};
    for (std::size_t k = 0; k < 2; ++k)
        prepared[k] = opened->points[std::size_t(powerChannels[k])].constData();
    const bool sameClears = opened->clears == clears;
    for (std::size_t c = 0; c < ChannelCount; ++c) {
        QVector<QCPGraphData> &points = opened->points[c];
        const qsizetype heldCount = opened->held.count(int(c));
        if (heldCount > 0 && opened->clears == clears) {
            if (!points.isEmpty())
                channels[c]->replace(points, opened->summaries[c], opened->sums[c]);
            continue;
        }
        if (heldCount > 0) { // cleared meanwhile: the points held then go again
            const QCPGraphData *held = opened->held.vectors[c].constData() + opened->held.firsts[c];
            const auto same = [](const QCPGraphData &a, const QCPGraphData &b) {
                return std::memcmp(&a, &b, sizeof a) == 0;
            };
            // They come first among equal times, so each is the first match.
            qsizetype kept = 0, k = 0;
            for (const QCPGraphData &p : std::as_const(points)) {
                if (k < heldCount && same(p, held[k]))
                    ++k;
                else
                    points[kept++] = p;
            }
            points.resize(kept);
            opened->summaries[c].clear();
            opened->sums[c].release();
        }
        channels[c]->merge(points, opened->summaries[c], opened->sums[c]);
    }
    // Where U1 and I are now the prepared points, so are their energy sums.
    bool takenOver = sameClears;
    for (std::size_t k = 0; k < 2; ++k) {
        const ChannelPoints &points = *channels[std::size_t(powerChannels[k])]->container;
        takenOver = takenOver && (points.isEmpty() || points.points() == prepared[k]);
    }
    if (takenOver) {
        channels[ChannelU1]->takeChangedFrom();
        channels[ChannelI]->takeChangedFrom();
        energyPrefixes.swap(opened->energy);
        sameTimes = opened->sameTimes;
    }
    opened->held = {};
}

static_assert(sizeof(QCPGraphData) == sizeof(DataPoint) &&
                  std::is_trivially_copyable_v<QCPGraphData>,
              "points are written in place as DataPoint and counted at its size");

void *OpenedPoints::unwritten(int c, qsizetype count, qsizetype room)
{
    // The plot's point type is plain data (Q_PRIMITIVE_TYPE): raw room will do.
    auto [header, data] = QTypedArrayData<QCPGraphData>::allocate(room);
    Q_CHECK_PTR(header);
    QVector<QCPGraphData> &vector = points[std::size_t(c)];
    vector = QVector<QCPGraphData>(QArrayDataPointer<QCPGraphData>(header, data, count));
    return vector.data();
}

bool ChannelStore::prepare(OpenedPoints &opened, const std::function<bool()> &stop)
{
    std::atomic<bool> stopped{false};
    const auto toStop = [&] {
        if (!stopped.load(std::memory_order_relaxed) && stop && stop())
            stopped.store(true, std::memory_order_relaxed);
        return stopped.load(std::memory_order_relaxed);
    };
    // Summary and sums a slice at a time: each call adds what the slice completes.
    constexpr qsizetype slice = qsizetype(1) << 21;
    const auto prepareChannel = [&opened, &toStop](std::size_t c) {
        QVector<QCPGraphData> &points = opened.points[c];
        if (!std::is_sorted(points.cbegin(), points.cend(), pointBefore<QCPGraphData>))
            std::stable_sort(points.begin(), points.end(), pointBefore<QCPGraphData>);
        const qsizetype heldCount = opened.held.count(int(c));
        if (heldCount > 0 && !points.isEmpty()) {
            // From the back: a file point goes after a held one at the same time.
            const QCPGraphData *held = opened.held.vectors[c].constData() + opened.held.firsts[c];
            qsizetype f = points.size() - 1;
            points.resize(points.size() + heldCount);
            QCPGraphData *out = points.data();
            for (qsizetype k = heldCount - 1, w = points.size(); k >= 0;) {
                if (f >= 0 && !keyBefore(out[f].key, held[k].key))
                    out[--w] = out[f--];
                else
                    out[--w] = held[k--];
            }
        }
        opened.summaries[c].clear();
        opened.sums[c].release();
        for (qsizetype end = 0; end < points.size() && !toStop();) {
            end = std::min(points.size(), end + slice);
            ChannelData::extendLevels(opened.summaries[c], points.constData(), end);
            ChannelData::extendSums(opened.sums[c], points.constData(), end);
        }
    };
    // The channels on as many cores as there are: each is a few passes over
    // its points.
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t c; (c = next++) < ChannelCount;)
            prepareChannel(c);
    };
    std::vector<std::thread> helpers;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned k = 1; k < std::min<unsigned>(cores, ChannelCount); ++k)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
    const QVector<QCPGraphData> &u = opened.points[ChannelU1], &i = opened.points[ChannelI];
    opened.energy.release();
    opened.sameTimes = 0;
    const qsizetype shared = std::min(u.size(), i.size());
    for (qsizetype end = 0; end < shared && !toStop();) {
        end = std::min(shared, end + slice);
        extendEnergy(opened.energy, opened.sameTimes, u.constData(), i.constData(), end);
    }
    return !toStop();
}

void ChannelStore::clear()
{
    ++clears;
    for (auto &c : channels)
        c->clear();
    energyPrefixes.release();
    sameTimes = 0;
}

void ChannelStore::settle(Settle what)
{
    for (auto &c : channels) {
        c->mergeWaiting();
        if (what != Settle::Points)
            c->syncIndex();
        if (what == Settle::Sums)
            c->syncSums();
    }
    if (what == Settle::Sums)
        syncEnergy();
}

// Follows the points U1 and I hold: drops the sums from where either changed,
// extends the run of shared times and adds the buckets complete within it.
void ChannelStore::syncEnergy(qsizetype limit)
{
    ChannelData &u = *channels[ChannelU1];
    ChannelData &i = *channels[ChannelI];
    sameTimes = std::min({sameTimes, u.takeChangedFrom(), i.takeChangedFrom()});
    const std::size_t valid = std::size_t(sameTimes >> baseShift) + 1;
    energyPrefixes.truncate(valid);
    const qsizetype n = std::min(u.container->size(), i.container->size());
    const qsizetype summed = qsizetype(std::max<std::size_t>(energyPrefixes.size(), 1) - 1)
                             << baseShift;
    if (n - summed <= limit)
        extendEnergy(energyPrefixes, sameTimes, u.container->points(), i.container->points(), n);
}

double ChannelStore::energy(qsizetype from, qsizetype to) const
{
    const ChannelData &u = channel(ChannelU1);
    const ChannelData &i = channel(ChannelI);
    const QCPGraphData *up = u.container->points();
    const QCPGraphData *ip = i.container->points();
    from = std::max<qsizetype>(from, 0);
    to = std::min<qsizetype>(to, i.container->size());
    WideSum sum;
    if (from >= to)
        return 0;
    // The sums hold up to the first point either channel changed since they
    // were last brought up to date; the run of shared times may go on.
    const qsizetype valid = std::min({sameTimes, u.changedFrom, i.changedFrom});
    const qsizetype n = std::min(u.container->size(), i.container->size());
    qsizetype same = std::min(valid, n);
    while (same < to && same < n && up[same].key == ip[same].key)
        ++same;
    if (to <= same) {
        // Terms from + 1 .. to - 1: the pairs inside the run.
        const qsizetype first = from + 1;
        const qsizetype alignedFrom = (first + baseSize - 1) & ~qsizetype(baseSize - 1);
        const qsizetype covered =
            energyPrefixes.empty()
                ? 0
                : std::min(qsizetype(energyPrefixes.size()) - 1, valid >> baseShift) << baseShift;
        const qsizetype alignedTo = std::min(to & ~qsizetype(baseSize - 1), covered);
        if (alignedFrom >= alignedTo) {
            for (qsizetype k = first; k < to; ++k)
                addEnergyTerm(sum, up, ip, k);
            return sum.value();
        }
        for (qsizetype k = first; k < alignedFrom; ++k)
            addEnergyTerm(sum, up, ip, k);
        sum.add(energyPrefixes[std::size_t(alignedTo >> baseShift)]);
        sum.subtract(energyPrefixes[std::size_t(alignedFrom >> baseShift)]);
        for (qsizetype k = alignedTo; k < to; ++k)
            addEnergyTerm(sum, up, ip, k);
        return sum.value();
    }
    // Different times (an opened file): U1 interpolated at each of I's times,
    // walking both channels once.
    const QCPGraphData *uEnd = timedEnd(up, up + u.container->size());
    const QCPGraphData *at = std::partition_point(
        up, uEnd, [key = ip[from].key](const QCPGraphData &p) { return p.key < key; });
    double lastKey = 0, lastU = 0, lastI = 0;
    for (qsizetype k = from; k < to; ++k) {
        const double key = ip[k].key;
        while (at != uEnd && at->key < key)
            ++at;
        const double voltage = interpolate(up, uEnd, at, key);
        if (k > from)
            addEnergy(sum, key - lastKey, lastU, lastI, voltage, ip[k].value);
        lastKey = key;
        lastU = voltage;
        lastI = ip[k].value;
    }
    return sum.value();
}

qsizetype ChannelStore::totalCount() const
{
    qsizetype total = 0;
    for (const auto &c : channels)
        total += c->count();
    return total;
}

std::optional<double> ChannelStore::lastKey() const
{
    std::optional<double> last;
    for (const auto &c : channels) {
        if (const std::optional<double> key = c->lastKey(); key && (!last || *key > *last))
            last = key;
    }
    return last;
}

ChannelSet ChannelStore::views() const
{
    ChannelSet set;
    for (int c = 0; c < ChannelCount; ++c) {
        set[std::size_t(c)] = channel(c).view();
    }
    return set;
}

ChannelSet ChannelStore::views(double low, double high) const
{
    ChannelSet set;
    for (int c = 0; c < ChannelCount; ++c) {
        const ChannelData &data = channel(c);
        const auto [first, end] = data.span(low, high);
        set[std::size_t(c)] = ChannelView(end - first, data.container->points() + first, viewPoint);
    }
    return set;
}

ChannelSet ChannelSnapshot::views() const
{
    ChannelSet set;
    for (std::size_t c = 0; c < ChannelCount; ++c)
        set[c] = ChannelView(ends[c] - firsts[c], vectors[c].constData() + firsts[c], viewPoint);
    return set;
}

ChannelSnapshot ChannelStore::snapshot() const
{
    return takeSnapshot(nullptr);
}

ChannelSnapshot ChannelStore::snapshot(double low, double high) const
{
    const QCPRange range(low, high);
    return takeSnapshot(&range);
}

ChannelSnapshot ChannelStore::takeSnapshot(const QCPRange *range) const
{
    ChannelSnapshot shot;
    for (std::size_t c = 0; c < ChannelCount; ++c) {
        const ChannelData &data = *channels[c];
        const auto [first, end] = range
                                      ? data.span(range->lower, range->upper)
                                      : std::pair<qsizetype, qsizetype>(0, data.container->size());
        ChannelPoints &points = *data.container;
        shot.vectors[c] = points.vector();
        shot.firsts[c] = points.offset() + first;
        shot.ends[c] = points.offset() + end;
    }
    return shot;
}

void ChannelStore::addMemoryUse(RecordingMemory &use) const
{
    for (const auto &c : channels) {
        use.containers.push_back({c->count(), c->capacity()});
        use.otherBytes += qint64(c->sideBytes());
    }
    use.otherBytes += qint64(energyPrefixes.bytes());
}
