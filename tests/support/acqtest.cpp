#include "acqtest.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>

#include "app/logfile.h"
#include "artsim.h"

namespace acqtest {

QString errorLogPath()
{
    return logPathBesideExecutable(QStringLiteral("error.txt"));
}

QByteArray readErrorLog()
{
    QFile f(errorLogPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void truncateErrorLog()
{
    QFile f(errorLogPath());
    (void)f.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

QStringList errorLogLines()
{
    QStringList lines = QString::fromUtf8(readErrorLog()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList callLog()
{
    const int length = ArtSim_CallLog(nullptr, 0);
    QByteArray buffer(length + 1, '\0');
    ArtSim_CallLog(buffer.data(), buffer.size());
    buffer.truncate(length);
    return QString::fromUtf8(buffer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList callNames(const QStringList &log)
{
    QStringList names;
    for (const QString &line : log)
        names << line.left(line.indexOf(QLatin1Char('(')));
    return names;
}

QStringList callsOnClearedHandles(const QStringList &log)
{
    static const QRegularExpression handleArg(QStringLiteral("^(\\w+)\\((T\\d+|\\(invalid\\))"));
    QSet<QString> cleared;
    QStringList bad;
    for (const QString &line : log) {
        const QRegularExpressionMatch m = handleArg.match(line);
        if (!m.hasMatch() || m.captured(1) == QLatin1String("ArtDAQ_CreateTask"))
            continue;
        const QString handle = m.captured(2);
        // The log is written as calls return, so a start whose task a callback
        // ended (and cleared) before StartTask returned comes after the clear;
        // it succeeded, so the handle was valid when used.
        const bool startInFlight = m.captured(1) == QLatin1String("ArtDAQ_StartTask") &&
                                   line.endsWith(QLatin1String(" = 0"));
        if (handle == QLatin1String("(invalid)") ||
            line.endsWith(QStringLiteral(" = %1").arg(ARTSIM_ERR_INVALID_HANDLE)) ||
            (cleared.contains(handle) && !startInFlight))
            bad << line;
        if (m.captured(1) == QLatin1String("ArtDAQ_ClearTask"))
            cleared.insert(handle);
    }
    return bad;
}

QString describeBadCalls(const QStringList &log, const QStringList &bad)
{
    QString text;
    for (const QString &line : bad) {
        const QString handle = line.section(QLatin1Char('('), 1)
                                   .section(QLatin1Char(','), 0, 0)
                                   .section(QLatin1Char(')'), 0, 0);
        text += QStringLiteral("\n%1 after:").arg(line);
        for (const QString &earlier : log.mid(0, log.indexOf(line)))
            if (earlier.contains(handle) && !earlier.startsWith(QLatin1String("ArtDAQ_Read")))
                text += QStringLiteral("\n    ") + earlier;
    }
    return text;
}

void resetStandIn(double u1, double i, double t, double u2)
{
    ArtSim_Reset();
    ArtSim_SetManualClock(1);
    const double volts[4] = {u1, i, t, u2};
    ArtSim_SetConstantSignal(volts);
}

namespace {
QMutex captureMutex;
QStringList captured;
QtMessageHandler previousHandler = nullptr;

void captureHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        QMutexLocker lock(&captureMutex);
        captured << text;
    }
    if (previousHandler)
        previousHandler(type, context, text);
}
} // namespace

MessageCapture::MessageCapture()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
    previousHandler = qInstallMessageHandler(captureHandler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList MessageCapture::messages() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

} // namespace acqtest
