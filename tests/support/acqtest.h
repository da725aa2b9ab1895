#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "acquisition/liverun.h"
#include "datafiles/recordings.h"

// The program's error log and the stand-in card library's call log, as the
// acquisition tests read them.

namespace acqtest {

// The logs beside the test executable.
QString errorLogPath();
QByteArray readErrorLog();
void truncateErrorLog();
QStringList errorLogLines(); // split at CR LF; the final empty remainder dropped

// The stand-in's call log since its last reset, one entry per call.
QStringList callLog();
// Function names only, e.g. "ArtDAQ_StartTask".
QStringList callNames(const QStringList &log);
// Calls that name a task handle after that handle was cleared (or that clear
// it twice), and calls the library rejected as made on an invalid handle.
QStringList callsOnClearedHandles(const QStringList &log);
// The bad calls, each with the lines of its handle before it.
QString describeBadCalls(const QStringList &log, const QStringList &bad);

// Puts the stand-in on its manual clock with a constant signal (volts per input).
void resetStandIn(double u1 = 1.0, double i = 0.5, double t = 5.0, double u2 = 2.0);

// Captures debug messages (from any thread) while alive.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    QStringList messages() const;
};

// A live run as the window owns one, recording into the usual folder.
class Run : public LiveRun
{
public:
    Run() : LiveRun(recordingsFolder(), recordingsSizeLimit()) {}
};

} // namespace acqtest

// Fails the current test, listing the offending calls with the log before them.
#define verifyNoCallOnClearedHandle()                                                              \
    do {                                                                                           \
        const QStringList log_ = acqtest::callLog();                                               \
        const QStringList bad_ = acqtest::callsOnClearedHandles(log_);                             \
        QVERIFY2(bad_.isEmpty(), qPrintable(acqtest::describeBadCalls(log_, bad_)));               \
    } while (false)

// A live key compared bit for bit with the time of the given scan of the
// card's 4000 scans/s clock (QCOMPARE forgives the last digits of doubles).
#define verifyKeyOfScan(key, scan)                                                                 \
    QVERIFY2((key) == double(scan) / 4000.0,                                                       \
             qPrintable(QStringLiteral("key %1, expected scan %2 at 4000/s")                       \
                            .arg(double(key), 0, 'g', 17)                                          \
                            .arg(qint64(scan))))
