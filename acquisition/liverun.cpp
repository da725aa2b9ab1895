#include "acquisition/liverun.h"

#include <QDateTime>

#include <algorithm>
#include <climits>

#include "datafiles/recorder.h"

namespace {

// What a channel's summary grows by per point: per 64 points 16 bytes of
// extremes and 56 of prefix sums (kept as the points come), the
// extremes' upper levels, a quarter of the 16 bytes of U1·I sums, and the
// vectors' room to grow.
constexpr double kIndexBytesPerPoint = 2.5;
// The plot counts a graph's points in an int.
constexpr qint64 kMaxGraphPoints = INT_MAX - (1 << 20);

} // namespace

LiveRun::LiveRun(const QString &folder, qint64 sizeLimit, QObject *parent)
    : QObject(parent), recording(std::make_unique<Recorder>(folder, sizeLimit))
{
    daq.owner = this;
    daq.log = &events;
    connect(&acquisition, &AcquisitionState::runningChanged, this, &LiveRun::runningChangedHere);
    connect(&acquisition, &AcquisitionState::redrawDue, this, &LiveRun::checkFigures);
    const auto changed = [this] { emit recordingChanged(); };
    connect(recording.get(), &Recorder::recordingStarted, this, changed);
    connect(recording.get(), &Recorder::recordingFailed, this, changed);
    connect(recording.get(), &Recorder::recordingAssembled, this, changed);
    // Logged here, before whoever shows them hears of them.
    connect(recording.get(), &Recorder::recordingFailed, this,
            [this](const QString &file, const QString &reason) {
                events.recordingProblem(EventLog::RecordingProblem::WriteError, file, reason);
            });
    connect(recording.get(), &Recorder::recoveryFailed, this,
            [this](const QString &file, const QString &reason) {
                events.recordingProblem(EventLog::RecordingProblem::RecoveryError, file, reason);
            });
    connect(recording.get(), &Recorder::notesFailed, this,
            [this](const QString &file, const QString &reason) {
                events.recordingProblem(EventLog::RecordingProblem::WriteError, file, reason);
            });
    connect(recording.get(), &Recorder::journalKept, this, [this](const QString &kept) {
        events.recordingProblem(EventLog::RecordingProblem::JournalKept, kept,
                                QStringLiteral("no readable point"));
    });
}

LiveRun::~LiveRun()
{
    // No block may arrive while the run is torn down.
    daq.stop();
    recording.reset(); // the recording is complete on disk before the run goes
}

bool LiveRun::start()
{
    // No block is processed before this returns: they come as queued calls.
    if (!daq.start())
        return false;
    acquisition.begin();
    return true;
}

void LiveRun::stop()
{
    daq.stop();
    acquisition.end();
}

void LiveRun::runningChangedHere(bool running)
{
    if (running) {
        beginMemoryWatch();
        clockCheck.restart();
        clockWall.start();
        runScans = 0;
        clockReported = false;
        recording->begin(QDateTime::currentDateTime()); // or goes on with the current one
    } else {
        recording->pause(); // the recording becomes a complete data file
    }
    emit runningChanged(running);
}

void LiveRun::checkFigures()
{
    watchMemory(); // may stop the run
    watchCardClock();
    if (cycleAnalyzer.completeCount() != cyclesShown || cycleAnalyzer.cycleInProgress()) {
        cyclesShown = cycleAnalyzer.completeCount();
        emit cyclesChanged();
    }
    emit redrawDue();
}

void LiveRun::blockArrived(const SampleBlock &lists, double elapsed, const CallbackRead &)
{
    if (running()) {
        runScans += lists.u1.size();
        clockCheck.addBlock(runScans, double(clockWall.nsecsElapsed()) / 1e9);
    }
    processBlock(lists, elapsed);
}

void LiveRun::taskEndedByCard(const QString &reason, bool currentTask)
{
    if (currentTask)
        acquisition.end();
    emit cardEnded(reason);
}

void LiveRun::processBlock(const SampleBlock &volts, double elapsed)
{
    // The wall-clock time of the block is not used: times come from counting
    // the card's scans, however late or bunched the blocks arrive.
    Q_UNUSED(elapsed);
    if (resetTimeBase) {
        resetTimeBase = false;
        timeBase.restart();
    }
    if (volts.u1.isEmpty())
        return;
    // The lists come from one split and have equal length; the shortest decides.
    SampleBlock kept = keepSamples(timeBase, volts, keepInterval,
                                   temperatureScale(temperatureMin, temperatureMax));
    livePointsKept += kept.keys.size();
    channels.append(kept);
    cycleAnalyzer.feed(kept);
    if (limitWatch.active())
        checkLimits(kept);
    // The recording gets the lists themselves; its writer puts them on disk.
    recording->add(std::move(kept));
    emit pointsAdded();
}

void LiveRun::checkLimits(const SampleBlock &kept)
{
    limitEvents.clear();
    limitWatch.check(kept, limitEvents);
    bool stopNow = false;
    for (const LimitEvent &e : limitEvents) {
        const Limit &limit = limitWatch.limits()[std::size_t(e.channel)];
        const auto change = e.kind == LimitEvent::High  ? EventLog::LimitChange::High
                            : e.kind == LimitEvent::Low ? EventLog::LimitChange::Low
                                                        : EventLog::LimitChange::Normal;
        const double crossed =
            e.kind == LimitEvent::Low ? limit.low.value_or(0) : limit.high.value_or(0);
        events.limitChange(change, e.channel, crossed, e.time, e.value);
        runNotes.alarms.push_back({e.time, e.channel, AlarmRecord::Change(e.kind), crossed, e.value,
                                   QDateTime::currentMSecsSinceEpoch()});
        if (e.kind != LimitEvent::Normal && (limit.actions & Limit::Mark)) {
            static const char *const names[LimitChannelCount] = {"U1", "I", "T", "U2", "P"};
            addMarker(e.time, QString::fromLatin1(names[e.channel]) +
                                  (e.kind == LimitEvent::High ? QStringLiteral(" > ")
                                                              : QStringLiteral(" < ")) +
                                  QString::number(crossed));
        }
        stopNow |= e.kind != LimitEvent::Normal && (limit.actions & Limit::Stop);
        emit limitChanged(e);
    }
    if (!limitEvents.empty())
        notesEdited();
    // After the block is in the store and the recording: a normal stop.
    if (stopNow)
        QMetaObject::invokeMethod(this, &LiveRun::stop, Qt::QueuedConnection);
}

void LiveRun::acknowledgeLimit(int channel)
{
    events.limitChange(EventLog::LimitChange::Acknowledged, channel, 0, 0, 0);
    const std::optional<double> time = channels.lastKey();
    runNotes.alarms.push_back({time.value_or(0), channel, AlarmRecord::Acknowledged, 0, 0,
                               QDateTime::currentMSecsSinceEpoch()});
    notesEdited();
}

void LiveRun::notesEdited()
{
    recording->setNotes(runNotes.empty() ? QByteArray() : writeRunNotes(runNotes));
    emit notesChanged();
}

void LiveRun::setRunInfo(const RunInfo &info)
{
    runNotes.info = info;
    notesEdited();
    if (cycleSettingsFollowInfo())
        emit cycleSettingsChanged();
}

int LiveRun::addMarker(double time, const QString &text)
{
    const auto at = std::upper_bound(runNotes.markers.begin(), runNotes.markers.end(), time,
                                     [](double t, const Marker &m) { return t < m.time; });
    const int index = int(at - runNotes.markers.begin());
    runNotes.markers.insert(at, {time, text});
    notesEdited();
    return index;
}

void LiveRun::changeMarker(int index, const Marker &marker)
{
    runNotes.markers[std::size_t(index)] = marker; // in place: a drag keeps its index
    notesEdited();
}

void LiveRun::removeMarker(int index)
{
    runNotes.markers.erase(runNotes.markers.begin() + index);
    notesEdited();
}

void LiveRun::addNotes(const RunNotes &notes)
{
    if (runNotes.info == RunInfo{})
        runNotes.info = notes.info;
    cycleSettingsFollowInfo(); // the open analyses the points held next
    for (const Marker &m : notes.markers)
        runNotes.markers.push_back(m);
    std::stable_sort(runNotes.markers.begin(), runNotes.markers.end(),
                     [](const Marker &a, const Marker &b) { return a.time < b.time; });
    runNotes.alarms.insert(runNotes.alarms.end(), notes.alarms.begin(), notes.alarms.end());
    notesEdited();
}

void LiveRun::startNewRecording()
{
    resetTimeBase = true;
    recording->finish();
}

void LiveRun::clear()
{
    startNewRecording();
    channels.clear(); // gives the memory of a long run back
    setCycles(CycleAnalyzer(cycleAnalyzer.settings()));
    limitWatch.reset();
    runNotes.markers.clear();
    runNotes.alarms.clear();
    notesEdited();
    events.dataCleared({channels.count(ChannelU1), channels.count(ChannelI),
                        channels.count(ChannelT), channels.count(ChannelU2)});
    memoryGuard.outlookChanged();
}

void LiveRun::setCycles(CycleAnalyzer analyzer)
{
    cycleAnalyzer = std::move(analyzer);
    cyclesShown = cycleAnalyzer.completeCount();
    emit cyclesChanged();
}

void LiveRun::setCycleSettings(const CycleSettings &settings)
{
    cycleChoice = settings;
    if (!cycleSettingsFollowInfo())
        setCycles(CycleAnalyzer(cycleAnalyzer.settings()));
}

// True when the settings in force changed (the analysis then starts again).
bool LiveRun::cycleSettingsFollowInfo()
{
    CycleSettings inForce = cycleChoice;
    const RunInfo &info = runNotes.info;
    if (inForce.ratedVoltage == 0 && info.ratedVoltage)
        inForce.ratedVoltage = *info.ratedVoltage;
    inForce.referenceCapacitance = info.capacitance.value_or(0);
    inForce.referenceEsr = info.esr.value_or(0);
    if (inForce == cycleAnalyzer.settings())
        return false;
    setCycles(CycleAnalyzer(inForce));
    return true;
}

void LiveRun::recoverLeftovers()
{
    recording->recoverLeftovers();
}

void LiveRun::setTemperatureLimits(double minTemp, double maxTemp)
{
    if (minTemp != temperatureMin) {
        temperatureMin = minTemp;
        events.temperatureLimitSet(EventLog::TemperatureLimit::Min, minTemp);
    }
    if (maxTemp != temperatureMax) {
        temperatureMax = maxTemp;
        events.temperatureLimitSet(EventLog::TemperatureLimit::Max, maxTemp);
    }
}

RecordingMemory LiveRun::memoryUse() const
{
    RecordingMemory use;
    use.pointBytes = sizeof(DataPoint);
    use.otherBytesPerPoint = kIndexBytesPerPoint;
    use.maxPoints = kMaxGraphPoints;
    channels.addMemoryUse(use);
    use.otherBytes += recording->queuedBytes(); // points the disk has not taken yet
    if (heldElsewhere)
        use.otherBytes += heldElsewhere();
    use.livePoints = livePointsKept;
    return use;
}

void LiveRun::beginMemoryWatch()
{
    const RecordingMemory use = memoryUse();
    qint64 budget = 0;
    if (const std::optional<qint64> limit = memoryLimitFromEnvironment()) {
        budget = *limit;
    } else if (const qint64 physical = physicalMemoryBytes(); physical > 0) {
        budget = defaultMemoryBudget(physical, processMemoryBytes(), use.heldBytes());
    } else {
        memoryGuard.end(); // the system does not say how much there is
        return;
    }
    if (!memoryClock.isValid())
        memoryClock.start();
    memoryGuard.begin(budget, use, memoryClock.elapsed(), cardScanRate / keepInterval);
}

// Warns once before memory runs out and stops the run, as the stop button
// does, before it would.
void LiveRun::watchMemory()
{
    if (!memoryGuard.active())
        return;
    const RecordingMemory use = memoryUse();
    switch (memoryGuard.update(use, memoryClock.elapsed())) {
    case MemoryGuard::Action::None: break;
    case MemoryGuard::Action::Warn: emit memoryWarning(memoryGuard.secondsLeft()); break;
    case MemoryGuard::Action::Stop:
        memoryGuard.end();
        events.memoryLimitReached(use.heldBytes(), memoryGuard.budget());
        stop();
        emit memoryStopped(memoryGuard.budget());
        break;
    }
}

double LiveRun::memorySecondsLeft() const
{
    return memoryGuard.active() ? memoryGuard.secondsLeft() : -1;
}

// The card's clock against the computer's: a card off by more than 1 % is
// told once per run. The times stay on the card's clock.
void LiveRun::watchCardClock()
{
    if (clockReported || !clockCheck.off() || !clockCheck.measuredRate())
        return;
    clockReported = true;
    const double rate = *clockCheck.measuredRate();
    events.clockOff(rate, cardScanRate);
    emit clockOff(rate);
}

std::optional<double> LiveRun::clockOffRate() const
{
    if (!clockReported)
        return std::nullopt;
    return clockCheck.measuredRate();
}
