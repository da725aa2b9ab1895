#include "daqcheck/cardchecks.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

#include "acquisition/libraryread.h"

namespace {

constexpr int kChannels = 4;
// The inputs are set to +-10 V; a card reads a little past that when the input saturates.
constexpr double kLargestVolts = 10.5;

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString percent(double fraction)
{
    return QStringLiteral("%1%2 %").arg(fraction >= 0 ? QStringLiteral("+") : QString(),
                                        number(100.0 * fraction, 3));
}

} // namespace

RateFit fitScanRate(const std::vector<BlockTiming> &blocks)
{
    // Points (seconds since the first read, scans taken up to and with the read).
    std::vector<std::pair<double, double>> points;
    int64_t cumulative = 0;
    const int64_t origin = blocks.empty() ? 0 : blocks.front().readNs;
    for (const BlockTiming &b : blocks) {
        cumulative += b.scans;
        if (!b.capped)
            points.emplace_back(double(b.readNs - origin) * 1e-9, double(cumulative));
    }
    RateFit fit;
    if (points.size() < 3)
        return fit;
    double meanT = 0, meanS = 0;
    for (const auto &[t, s] : points) {
        meanT += t;
        meanS += s;
    }
    meanT /= double(points.size());
    meanS /= double(points.size());
    double stt = 0, sts = 0;
    for (const auto &[t, s] : points) {
        stt += (t - meanT) * (t - meanT);
        sts += (t - meanT) * (s - meanS);
    }
    if (!(stt > 0))
        return fit;
    fit.valid = true;
    fit.scansPerSecond = sts / stt;
    fit.seconds = points.back().first - points.front().first;
    fit.scans = int64_t(points.back().second - points.front().second);
    fit.reads = int(points.size());
    return fit;
}

bool readableText(const QString &text)
{
    bool letter = false;
    for (const QChar c : text) {
        if (c == QChar::ReplacementCharacter)
            return false;
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n') &&
            c != QLatin1Char('\r') && c != QLatin1Char('\t'))
            return false;
        letter = letter || c.isLetter();
    }
    return letter;
}

BlockTally::BlockTally(std::thread::id callerThread, double expectedScansPerSecond)
    : callerThread(callerThread), expectedRate(expectedScansPerSecond),
      timeBase(expectedScansPerSecond)
{
}

void BlockTally::add(const SampleBlock &lists, const CallbackRead &read)
{
    const int scans = int(lists.u1.size());
    timings.push_back({read.readNs, scans, read.valuesWritten >= read.capacity});

    if (read.callbackThread == callerThread)
        ++onCallerThread;
    if (std::find(threads.begin(), threads.end(), read.callbackThread) == threads.end())
        threads.push_back(read.callbackThread);

    // The program's convention: the count is the number of values written.
    const ReadCount count =
        checkReadCount(read.storedCount, read.valuesWritten, kChannels, read.sampleCount);
    if (!count.problem.isEmpty()) {
        ++countOther;
        if (firstCountProblem.isEmpty())
            firstCountProblem = count.problem;
    }
    if (read.valuesWritten % kChannels != 0)
        ++partialScans;
    const int writtenScans = (read.valuesWritten + kChannels - 1) / kChannels;
    if (timings.size() == 1) {
        minScans = maxScans = writtenScans;
        firstSampleCount = read.sampleCount;
    }
    minScans = std::min(minScans, writtenScans);
    maxScans = std::max(maxScans, writtenScans);
    if (writtenScans == int(read.sampleCount))
        ++readsOfSampleCount;
    sampleCountsDiffer = sampleCountsDiffer || read.sampleCount != firstSampleCount;

    // Each callback announces sampleCount new scans, and each read takes all
    // that are in: the scans read keep up with the scans announced.
    announced += read.sampleCount;
    written += writtenScans;
    taken += scans;
    worstShortfall = std::max(worstShortfall, announced - written);
    scansNotTaken += std::max(0, writtenScans - scans);

    // Every scan through the program's block processing, keeping all.
    const int64_t before = int64_t(timeBase.scans());
    const SampleBlock kept = keepSamples(timeBase, lists, 1, temperatureScale(400, 3600));
    for (qsizetype j = 0; j < kept.keys.size(); ++j) {
        const int64_t scan = before + j + 1;
        const double key = kept.keys[j];
        if (key != double(scan) / expectedRate ||
            (keys > 0 && std::abs((key - lastKey) - 1.0 / expectedRate) > 1e-9)) {
            if (firstWrongKey.isEmpty())
                firstWrongKey = QStringLiteral("scan %1 at %2 s").arg(scan).arg(key, 0, 'g', 17);
            ++wrongKeys;
        }
        if (keys == 0)
            firstKey = key;
        lastKey = key;
        ++keys;
    }
    if (kept.keys.size() != scans)
        wrongKeys += std::abs(scans - int(kept.keys.size()));
    for (const QVector<double> *list : {&lists.u1, &lists.i, &lists.t, &lists.u2})
        for (const double v : *list) {
            if (!std::isfinite(v) || std::abs(v) > kLargestVolts)
                ++badValues;
            else
                largestVolts = std::max(largestVolts, std::abs(v));
        }
}

CheckResult BlockTally::threadCheck() const
{
    CheckResult r{QStringLiteral("callback thread"), false, {}};
    if (timings.empty()) {
        r.figure = QStringLiteral("no callback read anything");
        return r;
    }
    const int total = blocks();
    r.passed = onCallerThread == 0;
    r.figure =
        QStringLiteral("%1 callbacks on %2 thread(s), %3 on the thread that started the task")
            .arg(total)
            .arg(threads.size())
            .arg(onCallerThread);
    if (!r.passed)
        r.figure += QStringLiteral(": the program expects them on a thread of the library's");
    return r;
}

CheckResult BlockTally::readCountCheck() const
{
    CheckResult r{QStringLiteral("read count"), false, {}};
    if (timings.empty()) {
        r.figure = QStringLiteral("no callback read anything");
        return r;
    }
    const int total = blocks();
    r.passed = countOther == 0 && partialScans == 0 && !sampleCountsDiffer;
    r.figure = QStringLiteral("count = values written in %1 of %2 reads; %3 of %2 reads took the "
                              "callback's %4 scans (%5 values), the others %6 to %7 scans")
                   .arg(total - countOther)
                   .arg(total)
                   .arg(readsOfSampleCount)
                   .arg(firstSampleCount)
                   .arg(firstSampleCount * kChannels)
                   .arg(minScans)
                   .arg(maxScans);
    if (countOther > 0)
        r.figure += QStringLiteral("; the library counts otherwise: ") + firstCountProblem;
    if (partialScans > 0)
        r.figure += QStringLiteral("; %1 reads ended inside a scan").arg(partialScans);
    if (sampleCountsDiffer)
        r.figure += QStringLiteral("; the callbacks' sample counts differ");
    return r;
}

CheckResult BlockTally::rateCheck(double tolerance) const
{
    CheckResult r{QStringLiteral("scan rate"), false, {}};
    const RateFit fit = fitScanRate(timings);
    if (!fit.valid) {
        r.figure = QStringLiteral("too few reads to measure (%1)").arg(blocks());
        return r;
    }
    const double off = fit.scansPerSecond / expectedRate - 1.0;
    r.passed = std::abs(off) <= tolerance;
    r.figure = QStringLiteral("%1 scans/s over %2 s (%3 scans in %4 reads), %5 from %6 (limit "
                              "%7 %)")
                   .arg(number(fit.scansPerSecond, 1), number(fit.seconds, 2))
                   .arg(fit.scans)
                   .arg(fit.reads)
                   .arg(percent(off), number(expectedRate, 0), number(100 * tolerance, 1));
    if (!r.passed)
        r.figure += QStringLiteral(": the card's clock is not at the rate the program's time "
                                   "axis counts with");
    return r;
}

CheckResult BlockTally::scanCheck() const
{
    CheckResult r{QStringLiteral("scans"), false, {}};
    if (timings.empty()) {
        r.figure = QStringLiteral("no callback read anything");
        return r;
    }
    QStringList faults;
    // A driver may announce a block a little before its last scans can be
    // read; those come with the next read. Less than a block behind at the
    // end is that, not a loss.
    const int64_t behind = announced - written;
    if (behind >= int64_t(firstSampleCount))
        faults << QStringLiteral("the library delivered %1 scans fewer than its callbacks "
                                 "announced")
                      .arg(behind);
    if (scansNotTaken > 0)
        faults << QStringLiteral("%1 scans the library wrote did not reach the program")
                      .arg(scansNotTaken);
    if (wrongKeys > 0)
        faults << QStringLiteral("%1 keys off the 0.25 ms steps, first %2")
                      .arg(wrongKeys)
                      .arg(firstWrongKey);
    if (badValues > 0)
        faults << QStringLiteral("%1 values not a number or beyond %2 V")
                      .arg(badValues)
                      .arg(kLargestVolts);
    if (!endReasons.isEmpty())
        faults << QStringLiteral("the card ended the run early");
    r.passed = faults.isEmpty();
    const QString lag =
        worstShortfall > 0
            ? QStringLiteral(" (reads up to %1 scans behind at times)").arg(worstShortfall)
            : QString();
    r.figure = QStringLiteral("%1 scans in %2 blocks, %3 announced%8; keys %4 to %5 s in steps of "
                              "%6 ms; inputs up to %7 V")
                   .arg(taken)
                   .arg(blocks())
                   .arg(announced)
                   .arg(number(firstKey, 5), number(lastKey, 5), number(1000.0 / expectedRate, 2),
                        number(largestVolts, 3), lag);
    if (!faults.isEmpty())
        r.figure += QStringLiteral(": ") + faults.join(QStringLiteral("; "));
    return r;
}
