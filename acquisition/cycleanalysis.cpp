#include "acquisition/cycleanalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "datafiles/compensatedsum.h"
#include "datafiles/filejob.h"

// How the stream is read, in two stages over one buffer of recent points:
//
// The head classifies each point as it comes: current flowing or not
// (hysteresis on |I|), U1 rising, falling or flat (a least-squares slope over
// the last slopeWindow seconds, significant against its own scatter and
// against a share of the typical phase slope). Flowing and rising is a
// charge; falling, with or without current, a discharge (so a discharge whose
// current is not measured is found too, and the sign of the current never
// decides alone); flat is a hold after a charge, else a rest. A new kind
// becomes a phase once it has lasted the minimum phase length; its start is
// then moved back to where the current switched, or where U1 left its level.
//
// The tail takes each point once the head can no longer move a phase start
// before it (delay seconds behind), so every figure is summed in one pass
// over points whose phase is final.

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double slopeSignificance = 4;  // the slope in standard errors
constexpr double slopeShare = 0.02;      // of the typical phase slope: flat below
constexpr double currentShare = 0.05;    // of the largest |I|: the automatic threshold
constexpr double currentNoiseFactor = 6; // the threshold stays this far above the mean |dI|
constexpr double levelTolerance = 3;     // noise sigmas: U1 still at its level

// Least-squares line through (x, u), x relative to a chosen origin.
struct LineFit
{
    double n = 0, sx = 0, su = 0, sxx = 0, sxu = 0, suu = 0;

    void add(double x, double u)
    {
        n += 1;
        sx += x;
        su += u;
        sxx += x * x;
        sxu += x * u;
        suu += u * u;
    }
    void remove(double x, double u)
    {
        n -= 1;
        sx -= x;
        su -= u;
        sxx -= x * x;
        sxu -= x * u;
        suu -= u * u;
    }
};

enum Kind : uint8_t { None = 0, Rising = 1, Falling = 2, Flat = 3 };

enum NanFlag : uint8_t { NanU1Before = 1, NanI = 2, NanT = 4, NanU2 = 8 };

struct Sample
{
    double t, u, i, temp, u2;
    uint8_t kind;    // the head's reading of this point
    bool flowing;    // |I| above the threshold (hysteresis)
    uint8_t nanBits; // NanFlag
};

// A ring of samples, addressed by a running sequence number.
class SampleRing
{
public:
    qint64 frontSeq() const { return first; }
    qint64 endSeq() const { return first + qint64(count); }
    bool empty() const { return count == 0; }
    Sample &at(qint64 seq) { return buffer[size_t(seq) & mask]; }
    const Sample &at(qint64 seq) const { return buffer[size_t(seq) & mask]; }
    // The slot of a new sample at the end, for the caller to fill.
    Sample &push()
    {
        if (count == size)
            grow();
        return buffer[size_t(first + qint64(count++)) & mask];
    }
    void pop()
    {
        ++first;
        --count;
    }
    size_t capacity() const { return size; }

private:
    void grow()
    {
        std::vector<Sample> bigger(std::max<size_t>(64, buffer.size() * 2));
        const size_t biggerMask = bigger.size() - 1;
        for (size_t k = 0; k < count; ++k)
            bigger[size_t(first + qint64(k)) & biggerMask] = at(first + qint64(k));
        buffer = std::move(bigger);
        mask = biggerMask;
        size = buffer.size();
    }

    std::vector<Sample> buffer;
    size_t size = 0;
    size_t mask = 0;
    qint64 first = 0;
    size_t count = 0;
};

double lerp(double x0, double y0, double x1, double y1, double x)
{
    return x1 == x0 ? y1 : y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

PhaseKind phaseOf(Kind kind, PhaseKind previous)
{
    switch (kind) {
    case Rising: return PhaseKind::Charge;
    case Falling: return PhaseKind::Discharge;
    default:
        return previous == PhaseKind::Charge || previous == PhaseKind::Hold ? PhaseKind::Hold
                                                                            : PhaseKind::Rest;
    }
}

Kind classOf(PhaseKind kind)
{
    switch (kind) {
    case PhaseKind::Charge: return Rising;
    case PhaseKind::Discharge: return Falling;
    default: return Flat;
    }
}

// What one cycle sums up while its points go by.
struct CycleWork
{
    CycleResult result;
    bool cutAtStart = false;
    bool anyMove = false; // has a charge or a discharge

    double duration[4] = {0, 0, 0, 0};
    bool seen[4] = {false, false, false, false};
    bool cutPhase[4] = {false, false, false, false}; // a phase of this kind cut by the start

    CompensatedSum qIn, eIn, qOut, eOut, qChargeInner;
    bool flowIn = false, flowOut = false, nanIn = false, nanOut = false;
    qint64 chargePoints = 0, dischargePoints = 0;
    double uChargeFirst = notANumber, uChargeLast = notANumber, uDischargeLast = notANumber;

    // Constant-current window between U_a and U_b on the discharge.
    enum class Cross { NoRating, Waiting, Inside, Done, StartedLow, Cut } cross = Cross::NoRating;
    double ua = 0, ub = 0, t1 = 0, t2 = 0;
    CompensatedSum qWindow, eWindow;
    int windowPoints = 0;
    bool windowFlow = false, windowNan = false;

    // The IR drop at the first discharge's switch.
    enum class Drop { NotYet, Collecting, Done } drop = Drop::NotYet;
    Figure esr = Figure::none(Missing::NoSuchPhase);
    double switchTime = 0, uBefore = 0, iBefore = 0;
    bool beforeFromCharge = false;
    LineFit fit;
    CompensatedSum fitCurrent;
    bool fitFlow = false, fitNan = false;

    // The rebound after the last discharge.
    enum class Rebound { NotYet, Waiting, Done } rebound = Rebound::NotYet;
    Figure esrRebound = Figure::none(Missing::NoSuchPhase);
    double endTime = 0, uEnd = 0, iEnd = 0, uAt = 0, iAt = 0;
    bool endFlow = false, reboundNan = false, reboundReached = false;
    LineFit reboundFit; // U1 - uEnd about the rebound's time

    double tMin = std::numeric_limits<double>::infinity();
    double tMax = -std::numeric_limits<double>::infinity();
    double tSum = 0, u2Sum = 0; // means of a few thousand values: plain sums
    qint64 tCount = 0, u2Count = 0;
    bool tNan = false, u2Nan = false;

    double lastTime = 0;
};

} // namespace

struct CycleAnalyzer::State
{
    CycleSettings settings;

    // Head: thresholds and the slope.
    double largestCurrent = 0;
    double currentNoise = -1; // mean |dI| between neighbours, steps clipped
    double stepBlock = 0;
    int stepBlockCount = 0;
    double lastCurrent = notANumber;
    bool flowing = false;
    double pointSpacing = 0; // smoothed time between points
    double lastHeadTime = notANumber;
    bool nanGap = false;

    SampleRing ring;       // from a little history before tailSeq to the head
    qint64 tailSeq = 0;    // the next sample the tail takes
    qint64 slopeFront = 0; // first sample of the slope window
    LineFit window;
    double originT = 0, originU = 0;
    int sinceRebase = 0;
    double noiseVariance = -1; // U1's scatter about the local line
    unsigned noiseSamples = 0;
    Kind lastSlope = Flat;
    bool lastSteep = false;
    int sinceSlope = 0;
    double typicalSlope = 0; // largest mean slope of a charge or discharge so far

    PhaseKind headPhase = PhaseKind::Rest;
    bool headHasPhase = false;
    Kind candidate = None;
    double candidateStart = 0;
    qint64 candidateSeq = 0;
    std::vector<std::pair<qint64, PhaseKind>> boundaries; // phase starts the tail has not reached

    // Tail: the cycles.
    bool tailHasPrev = false;
    Sample prev{};
    bool phaseOpen = false;
    PhaseKind phase = PhaseKind::Rest;
    bool firstPhase = true;
    double plateauSum = 0;
    qint64 plateauCount = 0;
    double highestPlateau = 0;
    double phaseStartU = 0, phaseStartT = 0;
    bool phaseFlow = false;

    std::vector<CycleResult> done;
    int complete = 0;
    std::optional<CycleWork> work;
    std::optional<double> last;

    // Lengths that follow the point spacing, brought up to date now and then.
    double windowLength = 0, phaseLength = 0, delayLength = 0;
    int sinceRetune = 0;
    void retune()
    {
        sinceRetune = 0;
        windowLength = std::max(settings.minPhaseSeconds / 2, 4 * pointSpacing);
        phaseLength = std::max(settings.minPhaseSeconds, 1.5 * windowLength + pointSpacing);
        delayLength = phaseLength + 3 * windowLength + 4 * pointSpacing;
    }
    double slopeWindow() const { return windowLength; }
    double minPhase() const { return phaseLength; }
    double delay() const { return delayLength; }
    double threshold() const
    {
        if (settings.currentThreshold > 0)
            return settings.currentThreshold;
        return std::max(currentShare * largestCurrent,
                        currentNoiseFactor * std::max(0.0, currentNoise));
    }
    double rated() const
    {
        return settings.ratedVoltage > 0 ? settings.ratedVoltage : highestPlateau;
    }

    void add(double t, double u, double i, double temp, double u2);
    Kind classify(bool flowing);
    Kind combine(Kind slope, bool steep, bool flowing) const;
    void rebase();
    void restart();
    qint64 phaseStart(Kind kind) const;
    void take(const Sample &s);
    void beginPhase(PhaseKind kind, const Sample &s);
    void endPhase(double at);
    void closeCycle();
    void segment(const Sample &s);
    void finishDrop(CycleWork &w) const;
    void finishRebound(CycleWork &w) const;
    double levelBefore(double phaseBegan) const;
    CycleResult resultOf(const CycleWork &w, bool inProgress) const;
};

void CycleAnalyzer::State::add(double t, double u, double i, double temp, double u2)
{
    if (std::isnan(t) || std::isnan(u)) {
        nanGap = true;
        return;
    }
    if (t < lastHeadTime)
        restart();
    last = t;
    if (!std::isnan(lastHeadTime) && t > lastHeadTime) {
        const double dt = t - lastHeadTime;
        const bool first = pointSpacing == 0;
        pointSpacing = first ? dt : pointSpacing + (dt - pointSpacing) / 16;
        if (first || ++sinceRetune >= 64)
            retune();
    }
    lastHeadTime = t;

    uint8_t nanBits = nanGap ? NanU1Before : 0;
    nanGap = false;
    if (std::isnan(i)) {
        nanBits |= NanI;
    } else {
        largestCurrent = std::max(largestCurrent, std::abs(i));
        if (!std::isnan(lastCurrent)) {
            // In blocks of 32 steps, so that a switch of the current weighs little.
            stepBlock += std::abs(i - lastCurrent);
            if (++stepBlockCount == 32) {
                const double mean = stepBlock / 32;
                currentNoise =
                    currentNoise < 0
                        ? mean
                        : currentNoise + (std::min(mean, 3 * currentNoise) - currentNoise) / 16;
                stepBlock = 0;
                stepBlockCount = 0;
            }
        }
        lastCurrent = i;
        if (!flowing) {
            const double on = threshold();
            flowing = on > 0 && std::abs(i) >= on;
        } else {
            flowing = std::abs(i) >= 0.5 * threshold();
        }
    }
    if (std::isnan(temp))
        nanBits |= NanT;
    if (std::isnan(u2))
        nanBits |= NanU2;

    // The slope window: this point in, points older than the window out.
    if (window.n == 0) {
        originT = t;
        originU = u;
    }
    window.add(t - originT, u - originU);
    const double from = t - slopeWindow();
    while (slopeFront < ring.endSeq() && ring.at(slopeFront).t < from) {
        const Sample &o = ring.at(slopeFront);
        window.remove(o.t - originT, o.u - originU);
        ++slopeFront;
    }
    // Filled in place: a sample built aside and copied in stalls on its bytes.
    Sample &placed = ring.push();
    placed.t = t;
    placed.u = u;
    placed.i = i;
    placed.temp = temp;
    placed.u2 = u2;
    placed.flowing = flowing;
    placed.nanBits = nanBits;
    const qint64 seq = ring.endSeq() - 1;
    if (++sinceRebase >= 2048)
        rebase();
    const Kind kind = classify(flowing);
    ring.at(seq).kind = kind;

    // Phase changes: a new kind must last the minimum phase length.
    const Kind current = headHasPhase ? classOf(headPhase) : None;
    if (kind == current) {
        candidate = None;
    } else if (kind == candidate) {
        if (t - candidateStart >= minPhase()) {
            const qint64 start = headHasPhase ? phaseStart(kind) : tailSeq;
            headPhase = phaseOf(kind, headHasPhase ? headPhase : PhaseKind::Rest);
            headHasPhase = true;
            boundaries.emplace_back(start, headPhase);
            candidate = None;
        }
    } else {
        candidate = kind;
        candidateStart = t;
        candidateSeq = seq;
    }

    // The tail takes what no phase start can move before any more.
    const double keepFrom = t - delay();
    while (tailSeq < slopeFront && ring.at(tailSeq).t < keepFrom &&
           (candidate == None || tailSeq < candidateSeq)) {
        take(ring.at(tailSeq));
        ++tailSeq;
    }
    // Taken points stay for the level before a switch.
    const double historyFrom = prev.t - settings.fitLength - pointSpacing;
    while (ring.frontSeq() < tailSeq && ring.at(ring.frontSeq()).t < historyFrom)
        ring.pop();
}

// Time went back (a new time base): what is pending goes to the cycles as it
// stands, the cycle in progress ends cut, and the stream starts anew.
void CycleAnalyzer::State::restart()
{
    while (tailSeq < ring.endSeq()) {
        take(ring.at(tailSeq));
        ++tailSeq;
    }
    if (work && work->anyMove)
        done.push_back(resultOf(*work, true));
    work.reset();
    const State fresh;
    flowing = false;
    lastCurrent = notANumber;
    lastHeadTime = notANumber;
    nanGap = false;
    ring = SampleRing();
    tailSeq = 0;
    slopeFront = 0;
    window = {};
    sinceRebase = 0;
    headPhase = fresh.headPhase;
    headHasPhase = false;
    candidate = None;
    boundaries.clear();
    tailHasPrev = false;
    phaseOpen = false;
    firstPhase = true;
}

void CycleAnalyzer::State::rebase()
{
    sinceRebase = 0;
    window = {};
    if (slopeFront >= ring.endSeq())
        return;
    originT = ring.at(slopeFront).t;
    originU = ring.at(slopeFront).u;
    for (qint64 k = slopeFront; k < ring.endSeq(); ++k)
        window.add(ring.at(k).t - originT, ring.at(k).u - originU);
}

Kind CycleAnalyzer::State::classify(bool flowing)
{
    // Where the window holds many points, the slope is looked at every few
    // of them: it moves little from one to the next.
    const double n = window.n;
    if (++sinceSlope < std::min(8.0, n / 64))
        return combine(lastSlope, lastSteep, flowing);
    sinceSlope = 0;
    Kind slope = Flat;
    bool steep = false;
    if (n >= 3) {
        const double inverse = 1 / n;
        const double sxx = window.sxx - window.sx * window.sx * inverse;
        const double sxu = window.sxu - window.sx * window.su * inverse;
        const double suu = window.suu - window.su * window.su * inverse;
        if (sxx > 0) {
            // The squared residuals about the line, times sxx.
            const double residual = std::max(0.0, suu * sxx - sxu * sxu);
            if ((++noiseSamples & 3) == 0) {
                // U1's scatter about the line, outliers (a step inside) clipped.
                const double scatter = residual / (sxx * (n - 2));
                if (noiseVariance < 0)
                    noiseVariance = scatter;
                else
                    noiseVariance += (std::min(scatter, 4 * noiseVariance) - noiseVariance) / 128;
            }
            // The slope sxu / sxx against its standard error, and against the
            // floor that a drift without current stays under.
            if (sxu * sxu * (n - 2) > slopeSignificance * slopeSignificance * residual) {
                slope = sxu > 0 ? Rising : Falling;
                steep = std::abs(sxu) > slopeShare * typicalSlope * sxx;
            }
        }
    }
    lastSlope = slope;
    lastSteep = steep;
    return combine(slope, steep, flowing);
}

Kind CycleAnalyzer::State::combine(Kind slope, bool steep, bool flowing) const
{
    // Without current only a steep fall counts: a discharge whose current is
    // not measured, not the drift of a rest.
    if (!flowing)
        return slope == Falling && steep ? Falling : Flat;
    if (slope != Flat)
        return slope;
    // Current flows, U1 level: a hold after a charge, else a charge starting.
    const PhaseKind before = headHasPhase ? headPhase : PhaseKind::Rest;
    return before == PhaseKind::Charge || before == PhaseKind::Hold ? Flat : Rising;
}

// Where the phase of kind that the candidate started really begins: where
// the current switched, or where U1 left the level it stood at, within the
// slope window's lag before the candidate.
qint64 CycleAnalyzer::State::phaseStart(Kind kind) const
{
    const double from = candidateStart - 2 * slopeWindow() - 2 * pointSpacing;
    qint64 lo = candidateSeq;
    while (lo > tailSeq && ring.at(lo - 1).t >= from)
        --lo;
    const bool flowAtStart = ring.at(candidateSeq).flowing;
    const bool wantFlow = kind != Flat;
    if (flowAtStart == wantFlow) {
        qint64 b = candidateSeq;
        while (b > lo && ring.at(b - 1).flowing == wantFlow)
            --b;
        if (b > lo)
            return b;
    }
    const double tolerance = levelTolerance * std::sqrt(std::max(0.0, noiseVariance));
    double top = -std::numeric_limits<double>::infinity();
    double bottom = std::numeric_limits<double>::infinity();
    for (qint64 k = lo; k <= candidateSeq; ++k) {
        top = std::max(top, ring.at(k).u);
        bottom = std::min(bottom, ring.at(k).u);
    }
    if (kind == Falling || kind == Rising) {
        // The last point still at the level U1 leaves; the phase starts after it.
        for (qint64 k = candidateSeq; k >= lo; --k) {
            const double u = ring.at(k).u;
            if (kind == Falling ? u >= top - tolerance : u <= bottom + tolerance)
                return std::min(candidateSeq, k + 1);
        }
        return candidateSeq;
    }
    // Flat: the first point at the level U1 came to.
    if (headPhase == PhaseKind::Charge || headPhase == PhaseKind::Discharge) {
        const bool charge = headPhase == PhaseKind::Charge;
        for (qint64 k = lo; k <= candidateSeq; ++k) {
            const double u = ring.at(k).u;
            if (charge ? u >= top - tolerance : u <= bottom + tolerance)
                return k;
        }
    }
    return candidateSeq;
}

void CycleAnalyzer::State::take(const Sample &s)
{
    if (!boundaries.empty() && boundaries.front().first <= tailSeq) {
        const PhaseKind kind = boundaries.front().second;
        boundaries.erase(boundaries.begin());
        if (phaseOpen)
            endPhase(s.t);
        beginPhase(kind, s);
    }
    if (work)
        segment(s);
    if (phaseOpen) {
        if (phase == PhaseKind::Hold) {
            plateauSum += s.u;
            ++plateauCount;
        }
        phaseFlow = phaseFlow || s.flowing;
    }
    prev = s;
    tailHasPrev = true;
}

void CycleAnalyzer::State::beginPhase(PhaseKind kind, const Sample &s)
{
    const PhaseKind before = phase;
    const bool hadPhase = phaseOpen;
    const double phaseStartBefore = phaseStartT;
    phase = kind;
    phaseOpen = true;
    phaseStartU = s.u;
    phaseStartT = s.t;
    plateauSum = 0;
    plateauCount = 0;
    phaseFlow = false;
    const bool cut = firstPhase;
    firstPhase = false;

    const PhaseKind lead = settings.startWithDischarge ? PhaseKind::Discharge : PhaseKind::Charge;
    const bool moving = kind == PhaseKind::Charge || kind == PhaseKind::Discharge;
    if (kind == lead) {
        closeCycle();
        work.emplace();
        work->cutAtStart = cut;
    } else if (!work && moving) {
        work.emplace(); // the data starts inside a cycle
        work->cutAtStart = true;
    }
    if (!work)
        return;
    CycleWork &w = *work;
    if (w.result.phases.empty()) {
        w.result.number = int(done.size()) + 1;
        w.result.start = s.t;
    }
    w.result.phases.push_back({kind, s.t, s.t});
    w.seen[int(kind)] = true;
    w.cutPhase[int(kind)] = w.cutPhase[int(kind)] || cut;
    w.anyMove = w.anyMove || moving;

    if (kind == PhaseKind::Discharge) {
        w.rebound = CycleWork::Rebound::NotYet;
        if (w.cross == CycleWork::Cross::NoRating && rated() > 0) {
            w.ua = settings.upperFraction * rated();
            w.ub = settings.lowerFraction * rated();
            if (cut)
                w.cross = CycleWork::Cross::Cut;
            else if (tailHasPrev && prev.u < w.ua)
                w.cross = CycleWork::Cross::StartedLow;
            else
                w.cross = CycleWork::Cross::Waiting;
        }
        if (w.drop == CycleWork::Drop::NotYet) {
            if (cut || !tailHasPrev) {
                w.drop = CycleWork::Drop::Done;
                w.esr = Figure::none(Missing::PartialCycle);
            } else {
                w.drop = CycleWork::Drop::Collecting;
                // The current switched somewhere between the two points:
                // midway halves the extrapolation's error and centres it.
                w.switchTime = s.t > prev.t ? 0.5 * (prev.t + s.t) : prev.t;
                w.uBefore = levelBefore(hadPhase ? phaseStartBefore : prev.t);
                w.iBefore = prev.i;
                w.beforeFromCharge =
                    hadPhase && (before == PhaseKind::Charge || before == PhaseKind::Hold);
                w.fitNan = (prev.nanBits & NanI) != 0;
            }
        }
    } else if (kind == PhaseKind::Charge && w.rebound == CycleWork::Rebound::Waiting) {
        finishRebound(w);
    }
}

// U1 at the last point taken, from the line through the last fitLength
// seconds of its phase, so that the noise of one point does not enter a step.
double CycleAnalyzer::State::levelBefore(double phaseBegan) const
{
    const double from = std::max(phaseBegan, prev.t - settings.fitLength);
    LineFit f;
    for (qint64 k = tailSeq - 1; k >= ring.frontSeq() && ring.at(k).t >= from; --k)
        f.add(ring.at(k).t - prev.t, ring.at(k).u - prev.u);
    if (f.n < 3)
        return prev.u;
    const double mx = f.sx / f.n, mu = f.su / f.n;
    const double sxx = f.sxx - f.sx * mx;
    if (sxx <= 0)
        return prev.u + mu;
    const double slope = (f.sxu - f.sx * mu) / sxx;
    return prev.u + mu - slope * mx;
}

void CycleAnalyzer::State::endPhase(double at)
{
    const double length = prev.t - phaseStartT;
    if (phase == PhaseKind::Hold && plateauCount > 0)
        highestPlateau = std::max(highestPlateau, plateauSum / double(plateauCount));
    if ((phase == PhaseKind::Charge || phase == PhaseKind::Discharge) && length > 0)
        typicalSlope = std::max(typicalSlope, std::abs(prev.u - phaseStartU) / length);
    if (!work)
        return;
    CycleWork &w = *work;
    CyclePhase &p = w.result.phases.back();
    p.end = at;
    w.duration[int(phase)] += at - p.start;
    if (phase == PhaseKind::Charge) {
        w.uChargeLast = prev.u;
    } else if (phase == PhaseKind::Discharge) {
        w.uDischargeLast = prev.u;
        if (w.drop == CycleWork::Drop::Collecting)
            finishDrop(w);
        w.rebound = CycleWork::Rebound::Waiting;
        w.endTime = prev.t;
        w.uEnd = levelBefore(phaseStartT);
        w.iEnd = prev.i;
        w.endFlow = prev.flowing;
        w.reboundNan = (prev.nanBits & NanI) != 0;
        w.reboundReached = false;
        w.reboundFit = {};
    }
}

void CycleAnalyzer::State::closeCycle()
{
    if (!work)
        return;
    if (work->anyMove) {
        done.push_back(resultOf(*work, false));
        complete += done.back().partial ? 0 : 1;
    }
    work.reset();
}

void CycleAnalyzer::State::finishDrop(CycleWork &w) const
{
    w.drop = CycleWork::Drop::Done;
    const LineFit &f = w.fit;
    if (w.fitNan) {
        w.esr = Figure::none(Missing::NotANumber);
        return;
    }
    if (f.n < 3) {
        w.esr = Figure::none(Missing::TooFewPoints);
        return;
    }
    if (!w.fitFlow) {
        w.esr = Figure::none(Missing::NoCurrent);
        return;
    }
    const double mx = f.sx / f.n, mu = f.su / f.n;
    const double sxx = f.sxx - f.sx * mx;
    if (sxx <= 0) {
        w.esr = Figure::none(Missing::TooFewPoints);
        return;
    }
    const double slope = (f.sxu - f.sx * mu) / sxx;
    const double at = mu - slope * mx;
    // The step from the current before (charge direction) to the discharge's.
    const double step = std::abs(w.fitCurrent.value() / f.n) +
                        (w.beforeFromCharge ? std::abs(w.iBefore) : -std::abs(w.iBefore));
    w.result.method.switchTime = w.switchTime;
    w.result.method.fitFrom = w.switchTime + settings.fitDelay;
    w.result.method.fitTo = w.switchTime + settings.fitDelay + settings.fitLength;
    w.result.method.fitAt = at + w.uBefore;
    w.result.method.fitSlope = slope;
    w.result.method.uBefore = w.uBefore;
    if (step == 0) {
        w.esr = Figure::none(Missing::ZeroDivisor);
        return;
    }
    w.esr = Figure::of(-at / std::abs(step));
}

// One segment, from the previous point to s, in the phase s belongs to.
void CycleAnalyzer::State::segment(const Sample &s)
{
    CycleWork &w = *work;
    w.lastTime = s.t;
    if (!(s.nanBits & NanT)) {
        w.tMin = std::min(w.tMin, s.temp);
        w.tMax = std::max(w.tMax, s.temp);
        w.tSum += s.temp;
        ++w.tCount;
    } else {
        w.tNan = true;
    }
    if (!(s.nanBits & NanU2)) {
        w.u2Sum += s.u2;
        ++w.u2Count;
    } else {
        w.u2Nan = true;
    }
    if (!phaseOpen)
        return;
    const bool gap = (s.nanBits & (NanU1Before | NanI)) || (prev.nanBits & NanI);
    const bool within = tailHasPrev && s.t > prev.t;
    const double dt = within ? s.t - prev.t : 0;
    const double q = gap ? 0 : 0.5 * (std::abs(prev.i) + std::abs(s.i)) * dt;
    const double e = gap ? 0 : 0.5 * (std::abs(prev.u * prev.i) + std::abs(s.u * s.i)) * dt;
    const bool firstOfPhase = phaseStartT == s.t;

    if (phase == PhaseKind::Charge) {
        w.qIn.add(q);
        w.eIn.add(e);
        w.flowIn = w.flowIn || s.flowing;
        w.nanIn = w.nanIn || gap;
        ++w.chargePoints;
        if (std::isnan(w.uChargeFirst))
            w.uChargeFirst = s.u;
        if (!firstOfPhase)
            w.qChargeInner.add(q);
        w.uChargeLast = s.u;
    } else if (phase == PhaseKind::Hold && !firstOfPhase) {
        // The hold at constant voltage still charges: its charge and energy
        // go in, or the efficiencies would exceed 100 %. The step into it is
        // left out, as the step out of the discharge is.
        w.qIn.add(q);
        w.eIn.add(e);
        w.nanIn = w.nanIn || gap;
    } else if (phase == PhaseKind::Discharge) {
        w.qOut.add(q);
        w.eOut.add(e);
        w.flowOut = w.flowOut || s.flowing;
        w.nanOut = w.nanOut || gap;
        ++w.dischargePoints;
        w.uDischargeLast = s.u;

        // U_a and U_b, crossed downwards between two points.
        if (w.cross == CycleWork::Cross::Waiting && within && prev.u >= w.ua && s.u < w.ua) {
            w.t1 = lerp(prev.u, prev.t, s.u, s.t, w.ua);
            w.cross = CycleWork::Cross::Inside;
            w.windowNan = gap;
            const double i1 = lerp(prev.t, prev.i, s.t, s.i, w.t1);
            if (s.u < w.ub) { // both in one segment
                w.t2 = lerp(prev.u, prev.t, s.u, s.t, w.ub);
                const double i2 = lerp(prev.t, prev.i, s.t, s.i, w.t2);
                w.qWindow.add(0.5 * (std::abs(i1) + std::abs(i2)) * (w.t2 - w.t1));
                w.eWindow.add(0.5 * (std::abs(w.ua * i1) + std::abs(w.ub * i2)) * (w.t2 - w.t1));
                w.cross = CycleWork::Cross::Done;
            } else {
                w.qWindow.add(0.5 * (std::abs(i1) + std::abs(s.i)) * (s.t - w.t1));
                w.eWindow.add(0.5 * (std::abs(w.ua * i1) + std::abs(s.u * s.i)) * (s.t - w.t1));
                w.windowPoints = 1;
            }
            w.windowFlow = s.flowing;
        } else if (w.cross == CycleWork::Cross::Inside) {
            w.windowNan = w.windowNan || gap;
            w.windowFlow = w.windowFlow || s.flowing;
            if (s.u < w.ub && prev.u >= w.ub) {
                w.t2 = lerp(prev.u, prev.t, s.u, s.t, w.ub);
                const double i2 = lerp(prev.t, prev.i, s.t, s.i, w.t2);
                w.qWindow.add(0.5 * (std::abs(prev.i) + std::abs(i2)) * (w.t2 - prev.t));
                w.eWindow.add(0.5 * (std::abs(prev.u * prev.i) + std::abs(w.ub * i2)) *
                              (w.t2 - prev.t));
                w.cross = CycleWork::Cross::Done;
            } else {
                w.qWindow.add(q);
                w.eWindow.add(e);
                ++w.windowPoints;
            }
        }

        // The IR drop's fit window after the switch.
        if (w.drop == CycleWork::Drop::Collecting) {
            const double x = s.t - w.switchTime;
            if (x > settings.fitDelay + settings.fitLength) {
                finishDrop(w);
            } else if (x >= settings.fitDelay) {
                w.fit.add(x, s.u - w.uBefore);
                w.fitFlow = w.fitFlow || s.flowing;
                if (s.nanBits & (NanU1Before | NanI))
                    w.fitNan = true;
                else
                    w.fitCurrent.add(s.i);
            } else if (s.nanBits & NanU1Before) {
                w.fitNan = true;
            }
        }
    }

    // The rebound: U1 reboundDelay after the discharge's last point, from the
    // line through the points fitLength about that time.
    if (w.rebound == CycleWork::Rebound::Waiting && phase != PhaseKind::Discharge) {
        const double at = w.endTime + settings.reboundDelay, half = settings.fitLength / 2;
        w.reboundNan = w.reboundNan || gap;
        if (!w.reboundReached && s.t >= at && within) {
            w.reboundReached = true;
            w.uAt = lerp(prev.t, prev.u, s.t, s.u, at);
            w.iAt = lerp(prev.t, prev.i, s.t, s.i, at);
        }
        if (s.t >= at - half && s.t <= at + half)
            w.reboundFit.add(s.t - at, s.u - w.uEnd);
        if (s.t > at + half)
            finishRebound(w);
    }
}

void CycleAnalyzer::State::finishRebound(CycleWork &w) const
{
    w.rebound = CycleWork::Rebound::Done;
    const LineFit &f = w.reboundFit;
    double rise = w.uAt - w.uEnd;
    if (f.n >= 3) {
        const double mx = f.sx / f.n, mu = f.su / f.n;
        const double sxx = f.sxx - f.sx * mx;
        rise = sxx > 0 ? mu - (f.sxu - f.sx * mu) / sxx * mx : mu;
    }
    const double step = std::abs(w.iEnd) - std::abs(w.iAt);
    if (!w.reboundReached)
        w.esrRebound = Figure::none(Missing::NoSuchPhase);
    else if (w.reboundNan)
        w.esrRebound = Figure::none(Missing::NotANumber);
    else if (!w.endFlow)
        w.esrRebound = Figure::none(Missing::NoCurrent);
    else if (step == 0)
        w.esrRebound = Figure::none(Missing::ZeroDivisor);
    else
        w.esrRebound = Figure::of(rise / step);
}

CycleResult CycleAnalyzer::State::resultOf(const CycleWork &w, bool inProgress) const
{
    CycleResult r = w.result;
    r.partial = inProgress || w.cutAtStart;
    r.end = inProgress ? w.lastTime : (r.phases.empty() ? r.start : r.phases.back().end);
    if (inProgress && !r.phases.empty())
        r.phases.back().end = w.lastTime;
    const int running = inProgress && phaseOpen ? int(phase) : -1;

    const auto duration = [&](PhaseKind kind) {
        const int k = int(kind);
        if (w.cutPhase[k] || running == k)
            return Figure::none(Missing::PartialCycle);
        if (!w.seen[k])
            return Figure::none(inProgress ? Missing::PartialCycle : Missing::NoSuchPhase);
        return Figure::of(w.duration[k]);
    };
    r.chargeTime = duration(PhaseKind::Charge);
    r.holdTime = duration(PhaseKind::Hold);
    r.dischargeTime = duration(PhaseKind::Discharge);
    r.restTime = duration(PhaseKind::Rest);

    const auto sum = [&](PhaseKind kind, const CompensatedSum &s, bool flow, bool isNan,
                         qint64 points) {
        const int k = int(kind);
        if (w.cutPhase[k] || running == k)
            return Figure::none(Missing::PartialCycle);
        if (!w.seen[k])
            return Figure::none(inProgress ? Missing::PartialCycle : Missing::NoSuchPhase);
        if (isNan)
            return Figure::none(Missing::NotANumber);
        if (points < 2)
            return Figure::none(Missing::TooFewPoints);
        if (!flow)
            return Figure::none(Missing::NoCurrent);
        return Figure::of(s.value());
    };
    r.chargeIn = sum(PhaseKind::Charge, w.qIn, w.flowIn, w.nanIn, w.chargePoints);
    r.energyIn = sum(PhaseKind::Charge, w.eIn, w.flowIn, w.nanIn, w.chargePoints);
    r.chargeOut = sum(PhaseKind::Discharge, w.qOut, w.flowOut, w.nanOut, w.dischargePoints);
    r.energyOut = sum(PhaseKind::Discharge, w.eOut, w.flowOut, w.nanOut, w.dischargePoints);

    const auto level = [&](PhaseKind kind, double u) {
        const int k = int(kind);
        if (running == k)
            return Figure::none(Missing::PartialCycle);
        if (!w.seen[k])
            return Figure::none(inProgress ? Missing::PartialCycle : Missing::NoSuchPhase);
        return Figure::of(u);
    };
    r.u1EndCharge = level(PhaseKind::Charge, w.uChargeLast);
    r.u1EndDischarge = level(PhaseKind::Discharge, w.uDischargeLast);

    const auto ratio = [](const Figure &a, const Figure &b) {
        if (!a.value)
            return Figure::none(a.why);
        if (!b.value)
            return Figure::none(b.why);
        if (*b.value == 0)
            return Figure::none(Missing::ZeroDivisor);
        return Figure::of(100 * *a.value / *b.value);
    };
    r.coulombicEfficiency = ratio(r.chargeOut, r.chargeIn);
    r.energyEfficiency = ratio(r.energyOut, r.energyIn);

    // Capacitance from the charge: its charge over its voltage rise, both
    // between the charge's own first and last points.
    if (!r.chargeIn.value) {
        r.capacitanceCharge = Figure::none(r.chargeIn.why);
    } else {
        const double rise = w.uChargeLast - w.uChargeFirst;
        r.capacitanceCharge = rise == 0 ? Figure::none(Missing::ZeroDivisor)
                                        : Figure::of(w.qChargeInner.value() / rise);
    }

    // Constant-current and energy capacitance between U_a and U_b.
    r.method.ua = w.ua;
    r.method.ub = w.ub;
    Figure c = Figure::none(Missing::NoSuchPhase);
    switch (w.cross) {
    case CycleWork::Cross::NoRating:
        c = Figure::none(w.seen[int(PhaseKind::Discharge)] || !inProgress ? Missing::NoSuchPhase
                                                                          : Missing::PartialCycle);
        break;
    case CycleWork::Cross::Cut: c = Figure::none(Missing::PartialCycle); break;
    case CycleWork::Cross::StartedLow: c = Figure::none(Missing::NotReached); break;
    case CycleWork::Cross::Waiting:
    case CycleWork::Cross::Inside:
        if (w.cross == CycleWork::Cross::Inside)
            r.method.t1 = w.t1;
        c = Figure::none(inProgress && running == int(PhaseKind::Discharge) ? Missing::PartialCycle
                                                                            : Missing::NotReached);
        break;
    case CycleWork::Cross::Done:
        r.method.t1 = w.t1;
        r.method.t2 = w.t2;
        if (w.windowNan)
            c = Figure::none(Missing::NotANumber);
        else if (w.windowPoints < 2)
            c = Figure::none(Missing::TooFewPoints);
        else if (!w.windowFlow)
            c = Figure::none(Missing::NoCurrent);
        else if (w.ua == w.ub)
            c = Figure::none(Missing::ZeroDivisor);
        else
            c = Figure::of(1); // numbers below
        break;
    }
    if (c.value) {
        r.capacitance = Figure::of(w.qWindow.value() / (w.ua - w.ub));
        r.capacitanceEnergy = Figure::of(2 * w.eWindow.value() / (w.ua * w.ua - w.ub * w.ub));
    } else {
        r.capacitance = c;
        r.capacitanceEnergy = c;
    }

    if (w.drop == CycleWork::Drop::Collecting) {
        CycleWork copy = w;
        finishDrop(copy);
        const bool windowOver = !inProgress || running != int(PhaseKind::Discharge);
        r.esr = windowOver ? copy.esr : Figure::none(Missing::PartialCycle);
        const CycleMethod crossing = r.method;
        r.method = copy.result.method;
        r.method.ua = crossing.ua;
        r.method.ub = crossing.ub;
        r.method.t1 = crossing.t1;
        r.method.t2 = crossing.t2;
    } else {
        r.esr = w.drop == CycleWork::Drop::Done
                    ? w.esr
                    : Figure::none(inProgress ? Missing::PartialCycle : Missing::NoSuchPhase);
    }
    if (w.rebound == CycleWork::Rebound::Done) {
        r.esrRebound = w.esrRebound;
    } else if (w.rebound == CycleWork::Rebound::Waiting && w.reboundReached) {
        CycleWork copy = w;
        finishRebound(copy);
        r.esrRebound = inProgress ? Figure::none(Missing::PartialCycle) : copy.esrRebound;
    } else {
        r.esrRebound = Figure::none(inProgress ? Missing::PartialCycle : Missing::NoSuchPhase);
    }

    if (w.tNan)
        r.tMin = r.tMax = r.tMean = Figure::none(Missing::NotANumber);
    else if (w.tCount == 0)
        r.tMin = r.tMax = r.tMean = Figure::none(Missing::TooFewPoints);
    else {
        r.tMin = Figure::of(10 * w.tMin);
        r.tMax = Figure::of(10 * w.tMax);
        r.tMean = Figure::of(10 * w.tSum / double(w.tCount));
    }
    if (w.u2Nan)
        r.u2Mean = Figure::none(Missing::NotANumber);
    else if (w.u2Count == 0)
        r.u2Mean = Figure::none(Missing::TooFewPoints);
    else
        r.u2Mean = Figure::of(w.u2Sum / double(w.u2Count));
    r.capacitanceChange = r.esrChange = Figure::none(Missing::NoReference);
    return r;
}

namespace {

// The figures against the reference cycle, for all cycles at once.
void compare(std::vector<CycleResult> &cycles, const CycleSettings &settings)
{
    const CycleResult *reference = nullptr;
    for (const CycleResult &c : cycles) {
        if (settings.referenceCycle > 0 ? c.number == settings.referenceCycle : !c.partial) {
            reference = &c;
            break;
        }
    }
    if (reference && reference->partial)
        reference = nullptr;
    // The constant-current capacitance, or the charge's where the reference has none.
    const bool fromCharge = reference && !reference->capacitance.value;
    const auto capacitanceOf = [fromCharge](const CycleResult &c) {
        return fromCharge ? c.capacitanceCharge : c.capacitance;
    };
    // NaN: no reference figure (plain doubles: some compilers see an
    // optional copied into the lambda below as maybe uninitialised).
    const double none = std::numeric_limits<double>::quiet_NaN();
    double cRef = reference ? capacitanceOf(*reference).value.value_or(none) : none;
    double esrRef = reference ? reference->esr.value.value_or(none) : none;
    if (settings.referenceCapacitance > 0)
        cRef = settings.referenceCapacitance;
    if (settings.referenceEsr > 0)
        esrRef = settings.referenceEsr;
    // The sample's figures for both: no cycle is the reference.
    const bool nominal = settings.referenceCapacitance > 0 && settings.referenceEsr > 0;
    const int referenceNumber = reference && !nominal ? reference->number : 0;
    for (CycleResult &c : cycles) {
        c.reference = c.number == referenceNumber;
        if (c.partial) {
            c.capacitanceChange = c.esrChange = Figure::none(Missing::PartialCycle);
            c.endOfLife.reset();
            continue;
        }
        const auto change = [](const Figure &value, double ref) {
            if (std::isnan(ref))
                return Figure::none(Missing::NoReference);
            if (!value.value)
                return Figure::none(value.why);
            if (ref == 0)
                return Figure::none(Missing::ZeroDivisor);
            return Figure::of(100 * (*value.value - ref) / ref);
        };
        // Against the sample's capacitance, the cycle's constant-current
        // figure, or its charge's where that is missing.
        const Figure capacitance = settings.referenceCapacitance > 0
                                       ? (c.capacitance.value ? c.capacitance : c.capacitanceCharge)
                                       : capacitanceOf(c);
        c.capacitanceChange = change(capacitance, cRef);
        c.esrChange = change(c.esr, esrRef);
        std::optional<bool> end;
        if (c.capacitanceChange.value)
            end = *c.capacitanceChange.value < -settings.capacitanceFadeLimit;
        if (c.esr.value && esrRef > 0)
            end = end.value_or(false) || *c.esr.value > settings.esrRiseLimit * esrRef;
        c.endOfLife = end;
    }
}

} // namespace

bool CycleSettings::operator==(const CycleSettings &o) const
{
    return ratedVoltage == o.ratedVoltage && upperFraction == o.upperFraction &&
           lowerFraction == o.lowerFraction && currentThreshold == o.currentThreshold &&
           minPhaseSeconds == o.minPhaseSeconds && fitDelay == o.fitDelay &&
           fitLength == o.fitLength && reboundDelay == o.reboundDelay &&
           referenceCycle == o.referenceCycle && capacitanceFadeLimit == o.capacitanceFadeLimit &&
           esrRiseLimit == o.esrRiseLimit && startWithDischarge == o.startWithDischarge &&
           referenceCapacitance == o.referenceCapacitance && referenceEsr == o.referenceEsr;
}

CycleAnalyzer::CycleAnalyzer(const CycleSettings &settings) : state(std::make_shared<State>())
{
    state->settings = settings;
}

const CycleSettings &CycleAnalyzer::settings() const
{
    return state->settings;
}

void CycleAnalyzer::feed(const SampleBlock &kept)
{
    feed(kept.keys.constData(), kept.u1.constData(), kept.i.constData(), kept.t.constData(),
         kept.u2.constData(), kept.size());
}

void CycleAnalyzer::feed(const double *keys, const double *u1, const double *i, const double *t,
                         const double *u2, qsizetype count)
{
    if (count <= 0)
        return;
    if (state.use_count() > 1)
        state = std::make_shared<State>(*state);
    State &s = *state;
    for (qsizetype k = 0; k < count; ++k)
        s.add(keys[k], u1[k], i ? i[k] : notANumber, t ? t[k] : notANumber,
              u2 ? u2[k] : notANumber);
}

namespace {

constexpr qsizetype chunkSize = 65536;

// Points of a recording, all four channels at U1's times.
struct Chunk
{
    std::vector<double> keys, values[ChannelCount];
    qsizetype size = 0;
};

// Reads a recording chunk by chunk, I, T and U2 taken at U1's times: the
// point at the same index where the times agree, else linearly between the
// two around (the nearest end outside them).
class ChunkReader
{
public:
    explicit ChunkReader(const ChannelSet &channels) : channels(channels) {}

    void read(Chunk &chunk, qsizetype from, qsizetype count)
    {
        const ChannelView &times = channels[ChannelU1];
        chunk.size = count;
        chunk.keys.resize(size_t(count));
        for (std::vector<double> &v : chunk.values)
            v.resize(size_t(count));
        for (qsizetype k = 0; k < count; ++k) {
            const DataPoint p = times.at(from + k);
            chunk.keys[size_t(k)] = p.key;
            chunk.values[ChannelU1][size_t(k)] = p.value;
        }
        for (int c = ChannelI; c < ChannelCount; ++c) {
            const ChannelView &view = channels[c];
            const qsizetype size = view.size();
            qsizetype &j = cursor[c];
            for (qsizetype k = 0; k < count; ++k) {
                const double key = chunk.keys[size_t(k)];
                double v = notANumber;
                const qsizetype same = from + k;
                DataPoint here = same < size ? view.at(same) : DataPoint{notANumber, notANumber};
                if (here.key == key) {
                    j = same;
                    v = here.value;
                } else if (size > 0) {
                    while (j + 1 < size && view.at(j + 1).key <= key)
                        ++j;
                    here = view.at(j);
                    if (here.key >= key || j + 1 >= size) {
                        v = here.value;
                    } else {
                        const DataPoint next = view.at(j + 1);
                        v = lerp(here.key, here.value, next.key, next.value, key);
                    }
                }
                chunk.values[c][size_t(k)] = v;
            }
        }
    }

private:
    const ChannelSet &channels;
    qsizetype cursor[ChannelCount] = {0, 0, 0, 0}; // per channel, at or before the last time
};

} // namespace

bool CycleAnalyzer::feed(const ChannelSet &channels, FileJobControl *control)
{
    const qsizetype total = channels[ChannelU1].size();
    if (control)
        control->setTotal(total);
    ChunkReader reader(channels);
    Chunk current, next;
    reader.read(current, 0, std::min(chunkSize, total));
    for (qsizetype from = 0; from < total; from += chunkSize) {
        // A second thread reads the next chunk while this one is analysed.
        const qsizetype nextFrom = from + chunkSize;
        std::thread ahead;
        if (nextFrom < total)
            ahead = std::thread([&reader, &next, nextFrom, total] {
                reader.read(next, nextFrom, std::min(chunkSize, total - nextFrom));
            });
        feed(current.keys.data(), current.values[ChannelU1].data(), current.values[ChannelI].data(),
             current.values[ChannelT].data(), current.values[ChannelU2].data(), current.size);
        if (ahead.joinable())
            ahead.join();
        std::swap(current, next);
        if (control) {
            control->setHeldBytes(heldBytes());
            if (!control->advance(std::min(chunkSize, total - from)))
                return false;
        }
    }
    return true;
}

std::vector<CycleResult> CycleAnalyzer::cycles() const
{
    std::vector<CycleResult> all = state->done;
    if (state->work && state->work->anyMove)
        all.push_back(state->resultOf(*state->work, true));
    compare(all, state->settings);
    return all;
}

int CycleAnalyzer::completeCount() const
{
    return state->complete;
}

bool CycleAnalyzer::cycleInProgress() const
{
    return state->work && state->work->anyMove;
}

double CycleAnalyzer::ratedVoltage() const
{
    return state->rated();
}

double CycleAnalyzer::currentThreshold() const
{
    return state->threshold();
}

qint64 CycleAnalyzer::heldBytes() const
{
    const State &s = *state;
    qint64 bytes = qint64(sizeof(State) + s.ring.capacity() * sizeof(Sample) +
                          s.done.capacity() * sizeof(CycleResult) +
                          s.boundaries.capacity() * sizeof(s.boundaries[0]));
    for (const CycleResult &c : s.done)
        bytes += qint64(c.phases.capacity() * sizeof(CyclePhase));
    if (s.work)
        bytes += qint64(sizeof(CycleWork) + s.work->result.phases.capacity() * sizeof(CyclePhase));
    return bytes;
}

std::optional<double> CycleAnalyzer::lastKey() const
{
    return state->last;
}
