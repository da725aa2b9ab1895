// daqcheck: the card self-test. Runs the program's own acquisition task on
// whichever card library the build links, for a given time, and reports
// whether the library keeps the assumptions the program relies on, each with
// the figure measured. Exits with 1 when a check fails, 2 on a wrong command
// line.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>
#include <thread>

#include "acquisition/blockmath.h"
#include "acquisition/blockreceiver.h"
#include "acquisition/daqtask.h"
#include "acquisition/libraryread.h"
#include "app/eventlog.h"
#include "daqcheck/cardchecks.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

constexpr double kRateTolerance = 0.005;
constexpr qint64 kPromptMs = 500;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void report(const CheckResult &r)
{
    const char *verdict = r.skipped ? "SKIP  " : r.passed ? "PASS  " : "FAIL  ";
    out() << verdict << r.name.leftJustified(16) << r.figure << Qt::endl;
}

CheckResult skipped(CheckResult r, const QString &why)
{
    r.passed = false;
    r.skipped = true;
    r.figure = QStringLiteral("not checked: ") + why;
    return r;
}

// Receives the program's blocks on this (the GUI) thread, as the window does.
class CheckReceiver : public BlockReceiver
{
public:
    explicit CheckReceiver(BlockTally &tally) : tally(tally) {}

    void blockArrived(const SampleBlock &lists, double, const CallbackRead &read) override
    {
        tally.add(lists, read);
    }
    void taskEndedByCard(const QString &reason, bool) override
    {
        tally.ended(reason);
        QCoreApplication::quit(); // nothing more comes
    }

private:
    BlockTally &tally;
};

QString statusText(DaqStatus status)
{
    return QString::number(status);
}

// The library's text of the last error on this thread, as the program decodes it.
QString lastErrorText(QString *encoding = nullptr)
{
    const QByteArray text = lastLibraryErrorBytes();
    if (encoding) {
        const QByteArray local = localEightBitEncoding();
        *encoding =
            QByteArrayView(text).isValidUtf8()
                ? QStringLiteral("text in UTF-8")
                : QStringLiteral("text not in UTF-8, decoded in the local code page (%1)")
                      .arg(local.isEmpty() ? QStringLiteral("ANSI") : QString::fromLatin1(local));
    }
    return decodeLibraryText(text.constData());
}

CheckResult callCheck(const std::vector<DaqTask::LibraryCall> &startCalls, bool started,
                      const QString &startError, const BlockTally &tally,
                      const std::vector<DaqTask::LibraryCall> &stopCalls)
{
    CheckResult r{QStringLiteral("calls"), true, {}};
    QStringList failures;
    QStringList warnings;
    for (const auto *calls : {&startCalls, &stopCalls})
        for (const DaqTask::LibraryCall &call : *calls) {
            const QString line = QStringLiteral("%1 = %2").arg(QLatin1String(call.function),
                                                               statusText(call.status));
            if (call.status < 0)
                failures << line;
            else if (call.status > 0)
                warnings << line;
        }
    if (!started)
        failures << QStringLiteral("the start failed: %1").arg(startError);
    for (const QString &reason : tally.cardEnded())
        failures << QStringLiteral("the card ended the run: %1").arg(reason);
    if (started && tally.cardEnded().isEmpty() && stopCalls.size() != 2)
        failures << QStringLiteral("stop made no stop and clear calls");
    r.passed = failures.isEmpty();
    r.figure = QStringLiteral("%1 start calls, %2 reads, %3 stop calls")
                   .arg(startCalls.size())
                   .arg(tally.blocks())
                   .arg(stopCalls.size());
    if (r.passed)
        r.figure += QStringLiteral(": every status 0 or above");
    else
        r.figure += QStringLiteral(": ") + failures.join(QStringLiteral("; "));
    if (!warnings.isEmpty())
        r.figure += QStringLiteral(" (warnings: %1)").arg(warnings.join(QStringLiteral(", ")));
    return r;
}

CheckResult invalidChannelCheck()
{
    CheckResult r{QStringLiteral("invalid channel"), false, {}};
    const char *name = "NoDev/ai0";
    DaqTaskHandle task{};
    const DaqStatus created = ArtDAQ_CreateTask("", &task);
    if (created < 0) {
        r.figure = QStringLiteral("ArtDAQ_CreateTask = %1: %2").arg(created).arg(lastErrorText());
        return r;
    }
    const DaqStatus status =
        ArtDAQ_CreateAIVoltageChan(task, name, "", -1, -10.0, 10.0, 10348, nullptr);
    QString encoding;
    const QString text = lastErrorText(&encoding);
    ArtDAQ_ClearTask(task);
    r.passed = status < 0 && readableText(text);
    r.figure = QStringLiteral("ArtDAQ_CreateAIVoltageChan(\"%1\") = %2, %3: \"%4\"")
                   .arg(QLatin1String(name), statusText(status), encoding, text);
    if (status >= 0)
        r.figure += QStringLiteral(": not negative, so the program would take this failure for "
                                   "success");
    else if (!readableText(text))
        r.figure += QStringLiteral(": the text cannot be read");
    return r;
}

CheckResult clearedHandleCheck()
{
    CheckResult r{QStringLiteral("cleared handle"), false, {}};
    DaqTaskHandle task{};
    const DaqStatus created = ArtDAQ_CreateTask("", &task);
    if (created < 0) {
        r.figure = QStringLiteral("ArtDAQ_CreateTask = %1: %2").arg(created).arg(lastErrorText());
        return r;
    }
    ArtDAQ_ClearTask(task);
    // Should the library crash here, the line above the crash names this check.
    out() << "      (calling the library with a cleared handle)" << Qt::endl;
    const DaqStatus stop = ArtDAQ_StopTask(task);
    const DaqStatus clear = ArtDAQ_ClearTask(task);
    const QString text = lastErrorText();
    r.passed = stop < 0 && clear < 0;
    r.figure = QStringLiteral("ArtDAQ_StopTask = %1, ArtDAQ_ClearTask = %2, no crash; \"%3\"")
                   .arg(statusText(stop), statusText(clear), text);
    if (!r.passed)
        r.figure += QStringLiteral(": a call on a cleared handle reported success");
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    SetConsoleOutputCP(CP_UTF8);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("daqcheck"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks the card library against what KorvelDAQ relies on."));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(
        QStringList{QStringLiteral("s"), QStringLiteral("seconds")},
        QStringLiteral("How long to acquire (default 10)."), QStringLiteral("seconds"),
        QStringLiteral("10"));
    parser.addOption(secondsOption);
    // process() would ignore a stray word and exit with 1, the code of a
    // failed check, on an unknown option.
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        const QString error = parser.positionalArguments().isEmpty()
                                  ? parser.errorText()
                                  : QStringLiteral("Unexpected argument '%1'.")
                                        .arg(parser.positionalArguments().constFirst());
        QTextStream(stderr) << "daqcheck: " << error << "\n\n" << parser.helpText();
        return 2;
    }
    parser.process(app); // --help
    bool ok = false;
    const double seconds = parser.value(secondsOption).toDouble(&ok);
    if (!ok || !(seconds >= 0.5 && seconds <= 86400)) {
        QTextStream(stderr) << "daqcheck: --seconds takes a number from 0.5 to 86400\n";
        return 2;
    }

    out() << "KorvelDAQ card check: Dev1/ai0 to Dev1/ai3, " << cardScanRate
          << " scans/s, blocks of 100 scans, " << seconds << " s" << Qt::endl;
#ifdef KORVEL_DAQ_STANDIN
    out() << "Card library: the stand-in built with KorvelDAQ, not the card's own "
             "(on the rig, build with KORVEL_USE_VENDOR_DAQ=ON)"
          << Qt::endl;
#else
    out() << "Card library: the card's own Art_DAQ" << Qt::endl;
#endif

    // The program's own task, delivering here instead of to the window.
    BlockTally tally(std::this_thread::get_id(), cardScanRate);
    CheckReceiver receiver(tally);
    EventLog log(EventLog::Logs::ErrorOnly); // error.txt beside daqcheck, as the program's
    DaqTask daq;
    daq.owner = &receiver;
    daq.log = &log;

    const bool started = daq.start();
    const std::vector<DaqTask::LibraryCall> startCalls = daq.lastCalls;
    const QString startError = daq.lastError;
    if (started) {
        QTimer::singleShot(qRound(seconds * 1000), Qt::PreciseTimer, &app, &QCoreApplication::quit);
        app.exec();
    }
    daq.lastCalls.clear(); // what stop() calls, if it finds a task to end
    QElapsedTimer stopping;
    stopping.start();
    daq.stop();
    const qint64 stopMs = stopping.elapsed();
    const std::vector<DaqTask::LibraryCall> stopCalls = daq.lastCalls;
    // Blocks read before the stop are still queued here.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    QList<CheckResult> results;
    results << callCheck(startCalls, started, startError, tally, stopCalls);
    for (const CheckResult &r : {tally.threadCheck(), tally.readCountCheck(),
                                 tally.rateCheck(kRateTolerance), tally.scanCheck()})
        results << (started ? r : skipped(r, QStringLiteral("no task was started")));
    CheckResult stopCheck{QStringLiteral("stop and clear"), false, {}};
    if (!stopCalls.empty()) {
        stopCheck.passed = stopMs <= kPromptMs;
        stopCheck.figure = QStringLiteral("stop and clear returned after %1 ms (limit %2 ms)")
                               .arg(stopMs)
                               .arg(kPromptMs);
    } else {
        stopCheck = skipped(stopCheck, started ? QStringLiteral("the card ended the task itself")
                                               : QStringLiteral("no task was started"));
    }
    results << stopCheck;
    for (const CheckResult &r : results)
        report(r);

    // The library's error paths, after the run (a crash here still leaves the report above).
    const CheckResult invalid = invalidChannelCheck();
    report(invalid);
    const CheckResult cleared = clearedHandleCheck();
    report(cleared);
    results << invalid << cleared;

    QStringList failed;
    qsizetype skips = 0;
    for (const CheckResult &r : results) {
        if (r.skipped)
            ++skips;
        else if (!r.passed)
            failed << r.name;
    }
    if (failed.isEmpty() && skips == 0) {
        out() << "daqcheck: all " << results.size() << " checks passed" << Qt::endl;
    } else {
        out() << "daqcheck: " << failed.size() << " of " << results.size() << " checks failed";
        if (!failed.isEmpty())
            out() << ": " << failed.join(QStringLiteral(", "));
        if (skips > 0)
            out() << "; " << skips << " skipped";
        out() << Qt::endl;
    }
    // Checks are skipped only after a failed start or a run the card ended, both failures of
    // "calls": skips alone do not change the exit code.
    return failed.isEmpty() ? 0 : 1;
}
