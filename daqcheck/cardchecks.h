#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <thread>
#include <vector>

#include "acquisition/blockmath.h"
#include "acquisition/blockreceiver.h"

// The figures of the card self-test, worked out from what the program's own
// task delivers. Free of the card library and of threads: the self-test
// feeds it on the GUI thread.

// One check's outcome: its name, whether it passed, and the figure measured
// (with the reason when it failed). A skipped check did not run because what
// it measures never happened; it neither passed nor failed.
struct CheckResult
{
    QString name;
    bool passed = false;
    QString figure;
    bool skipped = false;
};

// When a block was read and how many scans the program took from it.
struct BlockTiming
{
    int64_t readNs;
    int scans;
    bool capped; // the read filled the array: scans stayed behind in the buffer
};

struct RateFit
{
    bool valid = false;
    double scansPerSecond = 0;
    double seconds = 0; // from the first to the last read in the fit
    int64_t scans = 0;  // taken by the reads after the first
    int reads = 0;      // reads in the fit
};

// The card's scan rate on the computer's clock. A read takes every scan in
// the buffer, so the scans taken up to a read stand on a line over the read
// times, whenever the callbacks came; the slope of the least-squares line is
// the rate. Reads that filled the array left scans behind and are not
// points of the line (their scans still count). Needs three reads.
RateFit fitScanRate(const std::vector<BlockTiming> &blocks);

// Whether a library's error text can be read: something in it, a letter
// among it, no replacement character and no control character but line
// breaks and tabs.
bool readableText(const QString &text);

// Everything the self-test learns from the blocks of one run, block by block.
class BlockTally
{
public:
    // callerThread: the thread that started the task.
    BlockTally(std::thread::id callerThread, double expectedScansPerSecond);

    // One delivered block: the program's split and what its callback read.
    void add(const SampleBlock &lists, const CallbackRead &read);
    // The card ended the run with this reason.
    void ended(const QString &reason) { endReasons << reason; }

    CheckResult threadCheck() const;
    CheckResult readCountCheck() const;
    CheckResult rateCheck(double tolerance) const;
    CheckResult scanCheck() const;

    int blocks() const { return int(timings.size()); }
    const QStringList &cardEnded() const { return endReasons; }

private:
    std::thread::id callerThread;
    double expectedRate;
    std::vector<BlockTiming> timings;
    QStringList endReasons;

    // Threads.
    int onCallerThread = 0;
    std::vector<std::thread::id> threads;
    // Counts: the library's convention, and scans per read.
    int countOther = 0;
    QString firstCountProblem;
    int partialScans = 0;
    int readsOfSampleCount = 0;
    int minScans = 0;
    int maxScans = 0;
    uint32_t firstSampleCount = 0;
    bool sampleCountsDiffer = false;
    // Scans: announced by the callbacks, written by the library, taken by the program.
    int64_t announced = 0;
    int64_t written = 0;
    int64_t taken = 0;
    int64_t worstShortfall = 0;
    int64_t scansNotTaken = 0;
    // Keys through the program's block processing.
    TimeBase timeBase;
    int64_t keys = 0;
    int64_t wrongKeys = 0;
    QString firstWrongKey;
    double firstKey = 0;
    double lastKey = 0;
    int64_t badValues = 0;
    double largestVolts = 0;
};
