#include "app/eventlog.h"

#include <QDateTime>
#include <QDir>
#include <locale>
#include <sstream>

#include "app/logfile.h"

namespace {

std::string utf8(const QString &text)
{
    return text.toUtf8().toStdString();
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 0);
}

} // namespace

EventLog::EventLog(Logs logs)
{
    openLogForAppend(errorLog, logPathBesideExecutable(QStringLiteral("error.txt")));
    if (logs == Logs::ErrorAndData)
        openLogForAppend(dataLog, logPathBesideExecutable(QStringLiteral("data.txt")));
}

EventLog::~EventLog()
{
    closeLog(dataLog);
    closeLog(errorLog);
}

void EventLog::cardError(const QString &errorText)
{
    writeLogLine(errorLog, cardErrorLine(errorText));
}

void EventLog::startFailed()
{
    writeLogLine(errorLog, startFailedLine());
}

void EventLog::taskStopped(const QDateTime &when)
{
    writeLogLine(errorLog, taskStoppedLine(when));
}

void EventLog::clockOff(double measuredRate, double nominalRate)
{
    writeLogLine(errorLog,
                 clockOffLine(QDateTime::currentMSecsSinceEpoch(), measuredRate, nominalRate));
}

void EventLog::memoryLimitReached(qint64 heldBytes, qint64 budgetBytes)
{
    writeLogLine(errorLog, memoryLimitLine(heldBytes, budgetBytes));
}

void EventLog::recordingProblem(RecordingProblem problem, const QString &file,
                                const QString &reason)
{
    writeLogLine(errorLog,
                 recordingProblemLine(QDateTime::currentMSecsSinceEpoch(), problem, file, reason));
}

void EventLog::limitChange(LimitChange change, int channel, double limit, double time, double value)
{
    writeLogLine(errorLog, limitChangeLine(QDateTime::currentMSecsSinceEpoch(), change, channel,
                                           limit, time, value));
}

void EventLog::temperatureLimitSet(TemperatureLimit limit, double value)
{
    writeLogLine(dataLog, temperatureLimitLine(limit, value));
}

void EventLog::dataCleared(const std::array<qint64, 4> &pointCounts)
{
    for (int c = 0; c < 4; ++c)
        writeLogLine(dataLog, pointCountLine(c, pointCounts[c]));
}

std::string EventLog::cardErrorLine(const QString &errorText)
{
    return utf8(QStringLiteral("ArtDAQ_ Error: %1 ").arg(errorText));
}

std::string EventLog::startFailedLine()
{
    return "start leave error  ";
}

std::string EventLog::taskStoppedLine(const QDateTime &when)
{
    return utf8(QString::number(when.toMSecsSinceEpoch()) +
                QStringLiteral("    stop collect data time\uFF1A ") +
                when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QStringLiteral("  "));
}

std::string EventLog::clockOffLine(qint64 nowMs, double measuredRate, double nominalRate)
{
    return utf8(QStringLiteral("%1    card clock off\uFF1A %2 scans/s, not %3  ")
                    .arg(nowMs)
                    .arg(measuredRate, 0, 'f', 1)
                    .arg(nominalRate, 0, 'f', 0));
}

std::string EventLog::memoryLimitLine(qint64 heldBytes, qint64 budgetBytes)
{
    return utf8(QStringLiteral("memory limit reached: the recording holds %1 MB, and its "
                               "next growth would pass the %2 MB it may use")
                    .arg(megabytes(heldBytes), megabytes(budgetBytes)));
}

// In the form of the stop line: milliseconds, what, where, why.
std::string EventLog::recordingProblemLine(qint64 nowMs, RecordingProblem problem,
                                           const QString &file, const QString &reason)
{
    const char16_t *what =
        problem == RecordingProblem::WriteError      ? u"    recording write error\uFF1A "
        : problem == RecordingProblem::RecoveryError ? u"    recording recovery error\uFF1A "
                                                     : u"    recording journal kept\uFF1A ";
    return utf8(QString::number(nowMs) + QString::fromUtf16(what) + QDir::toNativeSeparators(file) +
                QStringLiteral("  ") + reason + QStringLiteral("  "));
}

std::string EventLog::limitChangeLine(qint64 nowMs, LimitChange change, int channel, double limit,
                                      double time, double value)
{
    static const char *const names[5] = {"U1", "I", "T", "U2", "P"};
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << nowMs;
    switch (change) {
    case LimitChange::High:
        line << "    limit alarm\xEF\xBC\x9A " << names[channel] << " > " << limit;
        break;
    case LimitChange::Low:
        line << "    limit alarm\xEF\xBC\x9A " << names[channel] << " < " << limit;
        break;
    case LimitChange::Normal: line << "    limit normal\xEF\xBC\x9A " << names[channel]; break;
    case LimitChange::Acknowledged:
        line << "    limit acknowledged\xEF\xBC\x9A " << names[channel] << "  ";
        return line.str();
    }
    line << " at " << time << " s: " << value << "  ";
    return line.str();
}

std::string EventLog::temperatureLimitLine(TemperatureLimit limit, double value)
{
    // "%g" with six significant digits, never the system's decimal comma.
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << (limit == TemperatureLimit::Min ? " set the min temp: " : " set the max temp: ")
         << value;
    return line.str();
}

std::string EventLog::pointCountLine(int channel, qint64 count)
{
    const char *const names[4] = {"u1", "I", "T", "u2"};
    return std::string("  --------") + names[channel] + "  data count------   " +
           std::to_string(count);
}
