#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "acquisition/acquisitionstate.h"
#include "acquisition/blockmath.h"
#include "acquisition/blockreceiver.h"
#include "acquisition/clockcheck.h"
#include "acquisition/cycleanalysis.h"
#include "acquisition/daqtask.h"
#include "acquisition/limitwatch.h"
#include "app/eventlog.h"
#include "datafiles/runnotes.h"
#include "mainwindow/channelstore.h"
#include "mainwindow/memoryguard.h"

class Recorder;

// The live run without a widget: the acquisition task and its state, the
// time base on the card's clock, the settings in force, the card clock check,
// the memory watch, the recording and the channel store. A block goes from
// the task (or processBlock) through the keep rule into the store and the
// recording; what happened goes out as signals, for the window to show.
// Created and used on the GUI thread; the task's callbacks reach it through
// its inbox.
class LiveRun : public QObject, public BlockReceiver
{
    Q_OBJECT

public:
    // Recordings go to folder, which keeps at most sizeLimit bytes of them.
    LiveRun(const QString &folder, qint64 sizeLimit, QObject *parent = nullptr);
    // Stops the task; the recording is complete on disk when this returns.
    ~LiveRun() override;

    // Starts acquisition; false (lastError() says why) if the card refused.
    bool start();
    // Stops acquisition: the recording becomes a complete data file.
    void stop();
    QString lastError() const { return daq.lastError; }
    bool running() const { return acquisition.running(); }
    const AcquisitionState &acquisitionState() const { return acquisition; }

    // Takes one block of input volts per channel (U1, I, T, U2) that spans
    // elapsed milliseconds: keeps every keepEvery()-th scan, scales it, and
    // hands it to the store and the recording.
    void processBlock(const SampleBlock &volts, double elapsed);
    // The next block starts the time base again at zero, in a recording of
    // its own; the points held stay.
    void startNewRecording();
    bool timeBaseRestartPending() const { return resetTimeBase; }
    // Empties the channels and starts a new recording, as the clear command does.
    void clear();
    // Recordings a crash left behind become data files; the recorder's
    // signals say how, so they are connected first.
    void recoverLeftovers();

    // The settings in force: every keepEvery-th scan is kept (1, 10, 100,
    // 1000), the temperature input maps -10..10 V linearly onto
    // [minTemp, maxTemp]. Changed limits are logged.
    int keepEvery() const { return keepInterval; }
    void setKeepEvery(int interval) { keepInterval = interval; }
    double minTemp() const { return temperatureMin; }
    double maxTemp() const { return temperatureMax; }
    void setTemperatureLimits(double minTemp, double maxTemp);

    // The cycles found in the kept points since the last clear.
    const CycleAnalyzer &cycles() const { return cycleAnalyzer; }
    // Adopts an analysis of the points held (done on a worker), to be fed on.
    void setCycles(CycleAnalyzer analyzer);
    // Settings for the analysis: starts it again, empty. The run
    // information's rated voltage (where the settings leave it automatic),
    // capacitance and ESR (the reference) complete those in force.
    void setCycleSettings(const CycleSettings &settings);
    const CycleSettings &chosenCycleSettings() const { return cycleChoice; }
    // The limits watched on every kept point; a change starts every channel
    // normal. Transitions are logged and signalled; a limit whose actions
    // include Stop stops acquisition when it goes into alarm.
    void setLimits(const LimitSettings &limits) { limitWatch.setLimits(limits); }
    const LimitWatch &limits() const { return limitWatch; }
    // The user saw the alarm on channel: logged.
    void acknowledgeLimit(int channel);

    // What the data held was and what happened during it: the run
    // information, the markers and the limit alarms. Each change goes to the
    // recording beside its data file. A clear keeps the run information and
    // drops the rest, as it drops the points.
    const RunNotes &notes() const { return runNotes; }
    void setRunInfo(const RunInfo &info);
    // Returns the new marker's index (a new marker goes in time order; a
    // changed one keeps its place).
    int addMarker(double time, const QString &text);
    void changeMarker(int index, const Marker &marker);
    void removeMarker(int index);
    // An opened file's notes join those held.
    void addNotes(const RunNotes &notes);

    ChannelStore &store() { return channels; }
    const ChannelStore &store() const { return channels; }
    Recorder &recorder() { return *recording; }
    const Recorder &recorder() const { return *recording; }
    EventLog &log() { return events; }
    DaqTask &task() { return daq; }

    // What the run holds in memory, for the memory guard; heldElsewhere
    // adds memory held on the run's behalf (a file being opened).
    RecordingMemory memoryUse() const;
    void setHeldElsewhere(std::function<qint64()> bytes) { heldElsewhere = std::move(bytes); }
    // Called when memory use jumps by other means (an opened file).
    void memoryOutlookChanged() { memoryGuard.outlookChanged(); }
    // How long memory lasts while acquiring: negative when not watched.
    double memorySecondsLeft() const;
    // The card's measured rate, once found off (told once per run).
    std::optional<double> clockOffRate() const;

    // BlockReceiver, on the GUI thread through the inbox.
    void blockArrived(const SampleBlock &lists, double elapsed, const CallbackRead &read) override;
    void taskEndedByCard(const QString &reason, bool currentTask) override;

signals:
    // A block's points are in the store and on their way to disk.
    void pointsAdded();
    void runningChanged(bool running);
    // Every redraw beat while running, after the checks below have run.
    void redrawDue();
    // The card's clock is off by more than the check allows; once per run.
    void clockOff(double measuredRate);
    // Memory runs out in secondsLeft at the current rate.
    void memoryWarning(double secondsLeft);
    // The guard stopped the run at budget bytes.
    void memoryStopped(qint64 budget);
    // The card ended the run with an error; the data stays.
    void cardEnded(const QString &reason);
    // A watched limit went into alarm or back to normal.
    void limitChanged(const LimitEvent &event);
    void notesChanged();
    // The recording started, was assembled or stopped being written.
    void recordingChanged();
    // The cycles changed: at most once per redraw beat while they grow, and
    // at once when the analysis is replaced or emptied.
    void cyclesChanged();
    // New run information changed the analysis's settings: it started again,
    // empty, and the points held want analysing again.
    void cycleSettingsChanged();

private:
    void runningChangedHere(bool running);
    void checkFigures();
    void beginMemoryWatch();
    void watchMemory();
    void watchCardClock();
    void checkLimits(const SampleBlock &kept);
    void notesEdited();
    bool cycleSettingsFollowInfo();

    AcquisitionState acquisition;
    EventLog events; // before daq: the task's destruction logs its stop
    DaqTask daq;
    ChannelStore channels;
    std::unique_ptr<Recorder> recording;
    CycleAnalyzer cycleAnalyzer;
    CycleSettings cycleChoice;
    int cyclesShown = 0; // complete cycles at the last cyclesChanged

    TimeBase timeBase{cardScanRate};
    bool resetTimeBase = false;
    int keepInterval = 10;
    double temperatureMin = 400;
    double temperatureMax = 3600;

    RunNotes runNotes;
    LimitWatch limitWatch;
    std::vector<LimitEvent> limitEvents;

    MemoryGuard memoryGuard;
    QElapsedTimer memoryClock;
    qint64 livePointsKept = 0; // per channel, acquired since start-up; the guard's rate
    std::function<qint64()> heldElsewhere;

    ClockCheck clockCheck{cardScanRate};
    QElapsedTimer clockWall;
    qint64 runScans = 0;
    bool clockReported = false;
};
