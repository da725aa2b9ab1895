// The cycle analysis on synthetic streams of known capacitance and ESR.

#include <QTest>
#include <algorithm>
#include <cmath>
#include <limits>

#include "acquisition/cycleanalysis.h"
#include "datafiles/filejob.h"

// A rig: rest at low, constant-current charge to top, hold, constant-current
// discharge to low (or an RC charge and discharge), as the store holds it.
struct Stream
{
    double c = 3, esr = 0.03, current = 200, top = 250, low = 50;
    double hold = 2, rest = 2;
    int dischargeSign = -1; // the sign the discharge current is measured with; 0: not
    double noise = 0;       // on U1 (V) and I (A), uniform +-noise
    double pointsPerSecond = 4000;
    double seconds = 35;
    double startAt = 0;        // s into the first cycle
    double nanFrom = -1;       // U1 and I are NaN over [nanFrom, nanFrom + 0.01]
    double dischargeShare = 1; // the discharge current, of the charge current
    double esrRise = 0;        // the ESR grows by this share of itself every cycle
    bool rc = false;           // the RC stand-in: tau 0.5 s, 2.6 s charge and discharge
    bool viaChannels = false;  // fed as a recording, T and U2 on a coarser grid
    bool twice = false;        // fed again from its first time, as after a new time base
    CycleSettings settings{};
};
Q_DECLARE_METATYPE(Stream)

// A figure expected: a value within a relative tolerance, or a reason.
struct Expect
{
    double value;
    Missing why = Missing::None;
    double tolerance = 0.005;
};
Q_DECLARE_METATYPE(Expect)

namespace {

const double quietNaN = std::numeric_limits<double>::quiet_NaN();

// RC stand-in: supply 8 V, 3.5 V current peak, scaled as the store does.
const double rcTau = 0.5, rcTime = 2.6, rcSupply = 8, rcPeak = 3.5;
double rcLow()
{
    const double a = std::exp(-rcTime / rcTau);
    return rcSupply * (1 - a) / (1 - a * a) * a;
}

struct Point
{
    double u, i;
};

Point pointAt(const Stream &s, double t)
{
    if (s.rc) {
        const double in = std::fmod(t, 2 * rcTime), low = rcLow();
        const double top = low * std::exp(rcTime / rcTau);
        if (in < rcTime) {
            const double u = rcSupply + (low - rcSupply) * std::exp(-in / rcTau);
            return {50 * u, 100 * rcPeak * (rcSupply - u) / (rcSupply - low)};
        }
        return {50 * top * std::exp(-(in - rcTime) / rcTau), 0};
    }
    const double ramp = s.c * (s.top - s.low) / s.current;
    const double period = s.rest + ramp + s.hold + ramp / s.dischargeShare;
    const double esr = s.esr * (1 + s.esrRise * std::floor(t / period));
    double in = std::fmod(t, period);
    if (in < s.rest)
        return {s.low, 0};
    in -= s.rest;
    if (in < ramp)
        return {s.low + s.current * in / s.c + s.current * esr, s.current};
    in -= ramp;
    if (in < s.hold)
        return {s.top, 0};
    in -= s.hold;
    const double i = s.current * s.dischargeShare;
    return {s.top - i * in / s.c - i * esr, s.dischargeSign * i};
}

// Deterministic uniform noise in [-1, 1].
double jitter(quint64 k)
{
    k = (k + 0x9E3779B97F4A7C15ULL) * 0xBF58476D1CE4E5B9ULL;
    k ^= k >> 31;
    return double(k >> 11) / double(1ULL << 52) - 1;
}

std::vector<CycleResult> analyse(const Stream &s)
{
    CycleAnalyzer analyzer(s.settings);
    const qsizetype n = qsizetype(s.seconds * s.pointsPerSecond);
    PointList channels[ChannelCount];
    std::vector<double> keys, values[ChannelCount];
    for (qsizetype k = 0; k < n; ++k) {
        const double t = s.startAt + double(k) / s.pointsPerSecond;
        Point p = pointAt(s, t);
        p.u += s.noise * jitter(2 * quint64(k));
        p.i += s.noise * jitter(2 * quint64(k) + 1);
        if (t >= s.nanFrom && t <= s.nanFrom + 0.01)
            p.u = p.i = quietNaN;
        const double v[ChannelCount] = {p.u, p.i, 2.5 + 0.01 * double(k % 2), 300};
        keys.push_back(t);
        for (int c = 0; c < ChannelCount; ++c) {
            values[c].push_back(v[c]);
            if (c < ChannelT || k % 3 == 0 || k + 1 == n)
                channels[c].push_back({t, v[c]});
        }
    }
    if (s.viaChannels) {
        const ChannelSet set = {channels[0], channels[1], channels[2], channels[3]};
        FileJobControl control;
        if (!analyzer.feed(set, &control))
            return {};
    } else {
        for (qsizetype from = 0; from < (s.twice ? 2 * n : n); from += 100) {
            const qsizetype at = from % n, m = std::min<qsizetype>(100, n - at);
            analyzer.feed(&keys[at], &values[0][at], &values[1][at], &values[2][at], &values[3][at],
                          m);
        }
    }
    return analyzer.cycles();
}

void check(const Figure &f, const Expect &e, const char *what)
{
    if (e.why != Missing::None) {
        QVERIFY2(!f.value && f.why == e.why, what);
        return;
    }
    QVERIFY2(f.value, qPrintable(QStringLiteral("%1 missing: %2").arg(what).arg(int(f.why))));
    QVERIFY2(std::abs(*f.value / e.value - 1) <= e.tolerance,
             qPrintable(QStringLiteral("%1 %2, expected %3").arg(what).arg(*f.value).arg(e.value)));
}

class CyclesTest : public QObject
{
    Q_OBJECT

private slots:
    // complete: cycles not cut by the data; the figures are those of the
    // first of them.
    void measuresCycles_data()
    {
        QTest::addColumn<Stream>("stream");
        QTest::addColumn<int>("complete");
        QTest::addColumn<Expect>("capacitance");
        QTest::addColumn<Expect>("esr");
        QTest::addColumn<Expect>("fromCharge");

        const Stream cc;
        QTest::newRow("discharge current negative")
            << cc << 3 << Expect{3} << Expect{0.03, Missing::None, 0.01} << Expect{3};
        Stream positive = cc;
        positive.dischargeSign = 1;
        positive.pointsPerSecond = 400;
        QTest::newRow("positive, every 10th")
            << positive << 3 << Expect{3} << Expect{0.03, Missing::None, 0.03} << Expect{3};
        Stream unmeasured = cc;
        unmeasured.dischargeSign = 0;
        unmeasured.startAt = 3.5; // inside the first charge
        QTest::newRow("discharge not measured, starts charging")
            << unmeasured << 2 << Expect{0, Missing::NoCurrent} << Expect{0, Missing::NoCurrent}
            << Expect{3};
        Stream noisy = cc;
        noisy.noise = 0.2;
        QTest::newRow("noise") << noisy << 3 << Expect{3} << Expect{0.03, Missing::None, 0.02}
                               << Expect{3, Missing::None, 0.01};
        Stream sparse = cc;
        sparse.pointsPerSecond = 4;
        sparse.hold = sparse.rest = 4;
        sparse.seconds = 60;
        QTest::newRow("4 points/s: crossings between points")
            << sparse << 3 << Expect{3} << Expect{0, Missing::TooFewPoints} << Expect{3};
        Stream shallow = cc;
        shallow.low = 120; // U_b is 100 V
        QTest::newRow("never reaches U_b") << shallow << 4 << Expect{0, Missing::NotReached}
                                           << Expect{0.03, Missing::None, 0.01} << Expect{3};
        Stream slow = positive;
        slow.dischargeShare = 0.01; // 2 A, 300 s
        slow.seconds = 620;
        slow.settings.currentThreshold = 1;
        QTest::newRow("discharge at 1 % of the charge current")
            << slow << 2 << Expect{3} << Expect{0.03, Missing::None, 0.03} << Expect{3};
        Stream dischargeFirst = cc;
        dischargeFirst.settings.startWithDischarge = true;
        QTest::newRow("cycles start with the discharge")
            << dischargeFirst << 2 << Expect{3} << Expect{0.03, Missing::None, 0.01} << Expect{3};
        Stream gap = cc;
        gap.nanFrom = 2 + 3 + 2 + 1; // a second into the first discharge
        QTest::newRow("NaN in the discharge") << gap << 3 << Expect{0, Missing::NotANumber}
                                              << Expect{0.03, Missing::None, 0.01} << Expect{3};
        Stream recording = positive;
        recording.viaChannels = true;
        QTest::newRow("recording, T and U2 on their own times")
            << recording << 3 << Expect{3} << Expect{0.03, Missing::None, 0.03} << Expect{3};
        Stream again = cc;
        again.twice = true;
        QTest::newRow("time base restarted")
            << again << 6 << Expect{3} << Expect{0.03, Missing::None, 0.01} << Expect{3};
        Stream flat = cc;
        flat.current = 0;
        flat.c = 1e300;
        QTest::newRow("flat signal")
            << flat << 0 << Expect{0, Missing::NoSuchPhase} << Expect{0, Missing::NoSuchPhase}
            << Expect{0, Missing::NoSuchPhase};
        Stream noiseOnly = flat;
        noiseOnly.noise = 0.2;
        QTest::newRow("noise only")
            << noiseOnly << 0 << Expect{0, Missing::NoSuchPhase} << Expect{0, Missing::NoSuchPhase}
            << Expect{0, Missing::NoSuchPhase};
        // The RC stand-in: Q = 100 peak tau (1 - a) over a rise of 50 (supply - low)
        // (1 - a) gives C = 2 peak tau / (supply - low) over any part of the charge.
        Stream rc;
        rc.rc = true;
        rc.pointsPerSecond = 400;
        rc.seconds = 30;
        rc.startAt = 1;
        QTest::newRow("RC stand-in")
            << rc << 4 << Expect{0, Missing::NoCurrent} << Expect{0, Missing::NoCurrent}
            << Expect{2 * rcPeak * rcTau / (rcSupply - rcLow()), Missing::None, 0.01};
    }
    void measuresCycles()
    {
        QFETCH(Stream, stream);
        QFETCH(int, complete);
        QFETCH(Expect, capacitance);
        QFETCH(Expect, esr);
        QFETCH(Expect, fromCharge);
        const std::vector<CycleResult> cycles = analyse(stream);
        std::vector<const CycleResult *> full;
        for (const CycleResult &c : cycles)
            if (!c.partial)
                full.push_back(&c);
        QCOMPARE(int(full.size()), complete);
        if (complete == 0) {
            QVERIFY(cycles.empty());
            return;
        }
        QVERIFY(cycles.back().partial); // the data ends inside a cycle
        const CycleResult &first = *full.front();
        QVERIFY(first.reference);
        check(first.capacitance, capacitance, "C");
        check(first.esr, esr, "ESR");
        check(first.capacitanceCharge, fromCharge, "C from the charge");
        if (stream.rc)
            return;
        // Phases to a few points, the IR drop back where the current switched.
        const double ramp = stream.c * (stream.top - stream.low) / stream.current;
        const double spacing = 3 / stream.pointsPerSecond;
        QVERIFY(std::abs(*first.chargeTime.value - ramp) <= spacing);
        QVERIFY(std::abs(*first.holdTime.value - stream.hold) <= spacing);
        QVERIFY(std::abs(*first.dischargeTime.value - ramp / stream.dischargeShare) <= spacing);
        if (first.esr.value) {
            const auto discharge =
                std::find_if(first.phases.begin(), first.phases.end(),
                             [](const CyclePhase &p) { return p.kind == PhaseKind::Discharge; });
            QVERIFY(std::abs(*first.method.switchTime - discharge->start) <= spacing);
            check(first.esrRebound, esr, "rebound");
        }
        if (stream.dischargeSign != 0 && stream.nanFrom < 0)
            check(first.coulombicEfficiency, {100}, "coulombic efficiency");
        check(first.tMean, {25.05, Missing::None, 1e-3}, "T");
    }

    // The ESR grows half its first value every cycle: 30, 45, 60 mOhm.
    // esrChange and capacitanceChange (%) of the last complete cycle (NaN: no
    // reference); the reference cycle's number (0: none); endOfLife -1 none,
    // 0 no, 1 yes.
    void comparesWithTheReference_data()
    {
        QTest::addColumn<Stream>("stream");
        QTest::addColumn<double>("esrChange");
        QTest::addColumn<double>("capacitanceChange");
        QTest::addColumn<int>("referenceNumber");
        QTest::addColumn<int>("endOfLife");
        Stream rising;
        rising.esrRise = 0.5;
        QTest::newRow("first full cycle") << rising << 100.0 << 0.0 << 1 << 0;
        rising.settings.esrRiseLimit = 1.5;
        QTest::newRow("ESR past 1.5 x") << rising << 100.0 << 0.0 << 1 << 1;
        rising.settings.referenceCycle = 2;
        QTest::newRow("reference cycle 2") << rising << 100 / 3.0 << 0.0 << 2 << 0;
        rising.settings.referenceCycle = 9;
        QTest::newRow("reference beyond the data") << rising << quietNaN << quietNaN << 0 << -1;
        rising.settings.referenceCapacitance = 3.75;
        rising.settings.referenceEsr = 0.02;
        QTest::newRow("the sample's own C and ESR") << rising << 200.0 << -20.0 << 0 << 1;
        rising.settings.referenceCycle = 0;
        rising.settings.referenceCapacitance = 0;
        QTest::newRow("the sample's ESR, a cycle's C") << rising << 200.0 << 0.0 << 1 << 1;
    }
    void comparesWithTheReference()
    {
        QFETCH(Stream, stream);
        QFETCH(double, esrChange);
        QFETCH(double, capacitanceChange);
        QFETCH(int, referenceNumber);
        QFETCH(int, endOfLife);
        const std::vector<CycleResult> cycles = analyse(stream);
        QCOMPARE(cycles.size(), size_t(4));
        const CycleResult &last = cycles[2];
        for (const CycleResult &c : cycles)
            QCOMPARE(c.reference, c.number == referenceNumber);
        QCOMPARE(last.endOfLife.value_or(false), endOfLife == 1);
        QCOMPARE(last.endOfLife.has_value(), endOfLife >= 0);
        if (std::isnan(esrChange)) {
            QCOMPARE(last.esrChange.why, Missing::NoReference);
            QCOMPARE(last.capacitanceChange.why, Missing::NoReference);
            return;
        }
        QVERIFY(std::abs(*last.esrChange.value - esrChange) < 1);
        QVERIFY(std::abs(*last.capacitanceChange.value - capacitanceChange) < 0.1);
        QCOMPARE(cycles[3].esrChange.why, Missing::PartialCycle);
    }
};

} // namespace

int runCycleTests(int argc, char **argv)
{
    CyclesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cycles.moc"
