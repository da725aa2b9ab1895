#pragma once

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

#include "acquisition/acquisitionstate.h"
#include "mainwindow/channelstore.h"

class CycleAnalyzer;
class CycleWindow;
class EventListWindow;
class FileJobControl;
class LiveRun;
class LimitAlarmWindow;
class FileWork;
class MeasureWindow;
class PlotPanel;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QMessageBox;
class QMouseEvent;
class QTimer;
struct DataFileContents;
struct FileWriteResult;
struct LoadedFile;
class QIODevice;
class Ui_MainWindow;
struct CycleResult;
struct DataPoint;
struct LimitEvent;

// The one window: owns the form, the live run (the task, the channel store,
// the recording) and the plot panel that draws the store; shows what the run
// reports. Everything here runs on the GUI thread.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Takes one block of input volts per channel (U1, I, T, U2) that spans
    // elapsed milliseconds. GUI thread only; the card callback queues it here.
    void processBlock(const QVector<double> &u1, const QVector<double> &i, const QVector<double> &t,
                      const QVector<double> &u2, double elapsed);
    void processBlock(const SampleBlock &volts, double elapsed);

    void setupPlot(QCustomPlot *customPlot);
    void onPlotMousePress(QMouseEvent *event);
    void onPlotMouseMove(QMouseEvent *event);

    Ui_MainWindow *form() const { return ui; }
    QCPGraph *channelGraph(int channel) const;
    // The live run: the task, the settings in force, the recording.
    LiveRun &liveRun() const { return *run; }
    // The plot and what the user does on it.
    PlotPanel &plotPanel() const { return *panel; }
    // The four channels' points, which the graphs draw.
    ChannelStore &channelStore() const;
    // Whether acquisition runs, and the signal when that changes.
    const AcquisitionState &acquisitionState() const;
    // Open, save, export and the picture run there, one at a time.
    FileWork &fileWork() const { return *files; }
    // The cycle table and its fade.
    CycleWindow &cycleTable() const { return *cycleWindow; }
    // The markers, alarms and problems of the session.
    EventListWindow &eventList() const { return *eventWindow; }

signals:
    void updateData();

public slots:
    void onUpdateData();

private slots:
    void on_btn_start_collect_clicked();
    void on_btn_stop_collect_clicked();
    void on_checkBox_uv1_stateChanged(int arg1);
    void on_checkBox_ui_stateChanged(int arg1);
    void on_checkBox_temperature_stateChanged(int arg1);
    void on_checkBox_uv2_stateChanged(int arg1);
    void on_edit_maxtemp_textChanged(QString maxtemp);
    void on_edit_mintemp_textChanged(QString mintemp);
    void on_btn_clear_data_clicked();
    void on_btn_show_all_clicked();
    void on_btn_show_original_clicked();
    void on_btn_zoom_display_clicked(bool checked);
    void on_menu_exit_triggered();
    void on_menu_cop_www_address_triggered();
    void on_menu_save_triggered();
    void on_menu_close_data_triggered();
    void on_menu_open_data_triggered();
    void on_menu_export_triggered();
    void on_menu_save_picture_triggered();
    void on_menu_about_triggered();
    void on_actionLanguage_triggered();
    void on_edit_maxtemp_editingFinished();
    void on_edit_mintemp_editingFinished();
    void on_edit_sample_editingFinished();
    void on_edit_sample_textChanged(QString text);
    void on_menu_open_recordings_triggered();
    void on_menu_recent_aboutToShow();
    void on_menu_cursors_toggled(bool on);
    void on_menu_copy_measurements_triggered();
    void on_menu_zoom_to_cursors_triggered();
    void on_menu_add_marker_triggered();
    void showMarkers();
    void on_menu_marker_list_triggered();
    void on_menu_run_info_triggered();
    void on_menu_save_range_triggered();
    void on_menu_export_range_triggered();
    void on_menu_cycles_triggered();
    void on_menu_limits_triggered();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Why an edit's text is not in force.
    enum class Refusal {
        None,
        NotANumber,
        MinNotBelowMax,
        MaxNotAboveMin,
        RangeTooWide,
        BeyondPlot,
        NotASampleRate
    };

    void applyTemperatureLimits(QLineEdit *edited);
    void setRefusal(QLineEdit *edit, Refusal why, bool tellNow);
    QString refusalHint(QLineEdit *edit, Refusal why) const;
    void showRefusals();
    bool acquiring() const;
    // What the run reports (acquisitioncommands.cpp, memorywatch.cpp).
    void acquisitionChanged(bool running);
    void redrawDue();
    void pointsAdded();
    void taskEndedByCard(const QString &reason);
    void cardClockOff(double rate);
    void memoryRunsOut(double secondsLeft);
    void memoryStopped(qint64 budget);
    void updateRecordingStatus();
    void fitStatusFigures();
    QString pointCountText(const qsizetype (&counts)[4]) const;
    QString pointCountText() const;
    void showProblem(const QString &text);
    // A problem of the acquisition or the recording: shown, and kept in the
    // event list.
    void reportProblem(const QString &text);
    QString clockStatusText() const;
    QString memoryStatusText() const;
    QMessageBox *showNotice(const QString &text);
    void setUpRecording();
    QString recordingStatusText() const;
    void recordingFailed(const QString &dataFile, const QString &reason);
    void recordingRecovered(const QString &dataFile, qint64 points, bool endedAtExit,
                            const QString &exitReason);
    void recoveryFailed(const QString &dataFile, const QString &reason);
    void journalKept(const QString &keptPath);
    QString irregularLinesText(const DataFileContents &contents) const;
    void openDataFile(const QString &fileName);
    void showOpenedFile(const QString &fileName, LoadedFile &loaded);
    // Save and export of all points or of those between the cursors.
    void saveData(bool range);
    void exportData(bool range);
    bool refuseWhileFileWork();
    ChannelSnapshot snapshotToWrite(bool range, QString &countText) const;
    void writePoints(const QString &fileName, bool range, bool csv);
    void writeInBackground(const QString &fileName, std::function<QString()> what,
                           std::function<bool(QIODevice &, FileJobControl &)> content,
                           std::function<void(const FileWriteResult &, bool)> done);
    // The measurement table (measurecommands.cpp).
    void updateMeasurements();
    void placeMeasureWindow();
    void dropCopiedNotice();
    // The cycle analysis (cyclecommands.cpp).
    void setUpCycles();
    void analyseCycles();
    void analyseCyclesAgain();
    bool feedCyclesSince(CycleAnalyzer &analyzer, const std::array<qsizetype, 4> &counts,
                         const DataPoint &lastU1);
    void trackCycledPoints();
    bool livePointsFollow();
    void liveCyclesChanged();
    void showLiveCycles();
    void showCycleNotice();
    void clearCycles();
    void cyclesAfterOpen();
    void cyclesAtStop();
    void editCycleSettings();
    void exportCycles();
    // The limits and their alarms (limitcommands.cpp).
    void setUpLimits();
    void limitChanged(const LimitEvent &e);
    void acknowledgeAlarms();

    Ui_MainWindow *ui;
    std::unique_ptr<LiveRun> run;
    PlotPanel *panel = nullptr; // the window's child

    // Why each edit's text is not in force; the run holds the values in force.
    Refusal minTempRefusal;
    Refusal maxTempRefusal;
    Refusal sampleRefusal;
    // The hint each field last put in the status bar.
    QHash<const QLineEdit *, QString> hintShown;
    // Right of the status bar: recording or stopped, last time, points held.
    QLabel *recordingStatus;
    QStringList statusFigures; // its parts, the first never left out

    // The table of what lies between the measurement cursors.
    MeasureWindow *measureWindow = nullptr;
    bool measurePlaced = false; // the table was put beside the window once
    QString copiedNotice;       // the status message of the last copy
    std::unique_ptr<FileWork> files;

    // The markers, alarms and problems, a tool window put beside the window once.
    EventListWindow *eventWindow = nullptr;
    bool eventsPlaced = false;

    // The cycle table. The live run's analysis follows the points appended
    // at the end; where the points held change otherwise (an open, a new
    // setting, live points among those held), they are analysed again on the
    // file worker, or at the stop while acquiring.
    CycleWindow *cycleWindow = nullptr;
    bool cyclePlaced = false;
    bool cyclesAnalysing = false; // on the file worker, or waiting for it
    bool cyclesBehind = false;    // analysed again at the stop
    bool cyclesCancelled = false;
    quint64 cycleClears = 0;
    // The points of U1 the analysis has seen, and the time of the last: the
    // live points follow them when they keep these in place.
    qsizetype cycledCount = 0;
    double cycledLastKey = 0;

    // The alarms not yet acknowledged, and the sound repeated while they last.
    LimitAlarmWindow *alarmWindow = nullptr;
    QTimer *alarmSound = nullptr;
};

// Asks for the file to write; null if cancelled. A name typed without an
// extension gets the chosen filter's. filters and suffixes pair up.
QString askFileToWrite(QWidget *parent, const QString &caption, const QStringList &filters,
                       const QStringList &suffixes);
