#pragma once

#include <QString>
#include <array>
#include <fstream>
#include <string>

class QDateTime;

// The program's two logs beside the executable: error.txt (task stops, card
// errors, the card's clock, the memory limit, recording problems) and data.txt
// (setting edits, clearing the data). Every line is formatted here. GUI thread
// only: the card library's thread hands its entries over through the inbox.
class EventLog
{
public:
    enum class Logs { ErrorAndData, ErrorOnly };
    enum class RecordingProblem { WriteError, RecoveryError, JournalKept };
    enum class TemperatureLimit { Min, Max };
    // A watched limit's state changed: into an alarm past its high or low
    // limit, back to normal, or the user acknowledged the alarm.
    enum class LimitChange { High, Low, Normal, Acknowledged };

    explicit EventLog(Logs logs = Logs::ErrorAndData);
    ~EventLog();
    EventLog(const EventLog &) = delete;
    EventLog &operator=(const EventLog &) = delete;

    // error.txt
    void cardError(const QString &errorText);
    void startFailed();
    void taskStopped(const QDateTime &when);
    void clockOff(double measuredRate, double nominalRate);
    void memoryLimitReached(qint64 heldBytes, qint64 budgetBytes);
    void recordingProblem(RecordingProblem problem, const QString &file, const QString &reason);
    // channel: U1, I, T, U2, then the power U1 * I; limit is the one
    // crossed; time the point's time on the axis, value its value.
    void limitChange(LimitChange change, int channel, double limit, double time, double value);

    // data.txt
    void temperatureLimitSet(TemperatureLimit limit, double value);
    void dataCleared(const std::array<qint64, 4> &pointCounts);

    // The lines as written, without their CR LF; the times are given, not taken.
    static std::string cardErrorLine(const QString &errorText);
    static std::string startFailedLine();
    static std::string taskStoppedLine(const QDateTime &when);
    static std::string clockOffLine(qint64 nowMs, double measuredRate, double nominalRate);
    static std::string memoryLimitLine(qint64 heldBytes, qint64 budgetBytes);
    static std::string recordingProblemLine(qint64 nowMs, RecordingProblem problem,
                                            const QString &file, const QString &reason);
    static std::string limitChangeLine(qint64 nowMs, LimitChange change, int channel, double limit,
                                       double time, double value);
    static std::string temperatureLimitLine(TemperatureLimit limit, double value);
    static std::string pointCountLine(int channel, qint64 count);

private:
    std::ofstream errorLog;
    std::ofstream dataLog;
};
