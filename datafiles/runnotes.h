#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// What a recording was and what happened during it, kept in a companion
// file beside its data file (the data file's own format stays as other
// programs read it): the run information, the markers and the limit alarms.
//
// The companion is UTF-8 text, one item per line (CR LF written, LF read):
//
//   KorvelDAQ notes 1
//   operator: Wang Li
//   sample: C-17
//   rated voltage: 250
//   capacitance: 1.5
//   esr: 0.02
//   notes: first line\nsecond line
//   marker: 12.5<TAB>opened the door
//   alarm: 14.25<TAB>U1<TAB>high<TAB>100<TAB>101.5<TAB>1765461723123
//
// Times are seconds on the data's time axis; numbers are written shortest
// and exact with a full stop, whatever the locale. Texts escape backslash,
// line breaks and tabs as \\, \n, \r and \t. An alarm line holds the time,
// the channel (U1, I, T, U2, P), the change (high, low, normal,
// acknowledged), the limit crossed, the value and the wall-clock time in ms
// since 1970. Lines of a later version or unknown keys are skipped.

struct RunInfo
{
    QString operatorName;
    QString sample;
    std::optional<double> ratedVoltage; // V
    std::optional<double> capacitance;  // F
    std::optional<double> esr;          // ohm
    QString notes;

    bool operator==(const RunInfo &o) const
    {
        return operatorName == o.operatorName && sample == o.sample &&
               ratedVoltage == o.ratedVoltage && capacitance == o.capacitance && esr == o.esr &&
               notes == o.notes;
    }
};

struct Marker
{
    double time = 0;
    QString text;

    bool operator==(const Marker &o) const { return time == o.time && text == o.text; }
};

struct AlarmRecord
{
    enum Change { High, Low, Normal, Acknowledged };
    double time = 0;
    int channel = 0; // U1, I, T, U2, then the power
    Change change = High;
    double limit = 0;
    double value = 0;
    qint64 wallMs = 0;

    bool operator==(const AlarmRecord &o) const
    {
        return time == o.time && channel == o.channel && change == o.change && limit == o.limit &&
               value == o.value && wallMs == o.wallMs;
    }
};

struct RunNotes
{
    RunInfo info;
    std::vector<Marker> markers;
    std::vector<AlarmRecord> alarms;

    bool empty() const { return info == RunInfo{} && markers.empty() && alarms.empty(); }
    // The markers and alarms with a time in [low, high], the same information.
    RunNotes within(double low, double high) const;
    bool operator==(const RunNotes &o) const
    {
        return info == o.info && markers == o.markers && alarms == o.alarms;
    }
};

// The companion of a data file: its name with ".notes" added.
QString notesPathFor(const QString &dataFile);

QByteArray writeRunNotes(const RunNotes &notes);

struct RunNotesRead
{
    RunNotes notes;
    bool recognised = false; // the first line names the format
    QStringList skipped;     // "line 7: ..." for each line not taken
};
RunNotesRead readRunNotes(const QByteArray &bytes);
