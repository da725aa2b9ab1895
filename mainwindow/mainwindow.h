#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

#include "acquisition/blockreceiver.h"
#include "acquisition/acquisitionstate.h"
#include "acquisition/clockcheck.h"
#include "acquisition/daqtask.h"
#include "app/eventlog.h"
#include "mainwindow/channelstore.h"
#include "mainwindow/memoryguard.h"

class FileJobControl;
class FileWork;
class MeasureWindow;
class PlotPanel;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QMessageBox;
class QMouseEvent;
class Recorder;
struct DataFileContents;
struct FileWriteResult;
struct LoadedFile;
class QIODevice;
class Ui_MainWindow;

// The one window: owns the form, the acquisition task, the channel store and
// the plot panel that draws it. Everything here
// runs on the GUI thread.
class MainWindow : public QMainWindow, public BlockReceiver
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
    // The plot and what the user does on it.
    PlotPanel &plotPanel() const { return *panel; }
    // The four channels' points, which the graphs draw.
    const ChannelStore &channelStore() const { return channels; }
    // The next block starts the time base again at zero, in a recording of
    // its own; the points held stay. Part of clearing the data.
    void startNewRecording();
    // Whether acquisition runs, and the signal when that changes.
    const AcquisitionState &acquisitionState() const { return acquisition; }
    ChannelStore &channelStore() { return channels; }
    // Open, save, export and the picture run there, one at a time.
    FileWork &fileWork() const { return *files; }

    // The card ended a task with an error (read error, overrun); the data
    // recorded stays. currentTask: it was the task the window is recording
    // with, which then returns to idle. GUI thread.
    void taskEndedByCard(const QString &reason, bool currentTask) override;

    // A block from the card: processed as processBlock does.
    void blockArrived(const SampleBlock &lists, double elapsed, const CallbackRead &read) override;

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
    void on_menu_save_range_triggered();
    void on_menu_export_range_triggered();

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
    bool acquiring() const { return acquisition.running(); }
    void acquisitionChanged(bool running);
    void redrawDue();
    void updateRecordingStatus();
    void fitStatusFigures();
    QString pointCountText(const qsizetype (&counts)[4]) const;
    QString pointCountText() const;
    void showProblem(const QString &text);
    // The memory guard of long runs (memorywatch.cpp).
    RecordingMemory recordingMemory() const;
    void beginMemoryWatch();
    void watchCardClock();
    QString clockStatusText() const;
    void watchMemory();
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

    Ui_MainWindow *ui;
    AcquisitionState acquisition;
    EventLog log; // before daq: the task's destruction logs its stop
    DaqTask daq;
    ChannelStore channels;
    PlotPanel *panel = nullptr; // the window's child
    bool resetTimeBase;

    // The settings in force, from the edits whose editing finished with an
    // accepted value; the block processing uses these, never the edits' text.
    double minTemp;
    double maxTemp;
    int keepEvery;
    Refusal minTempRefusal;
    Refusal maxTempRefusal;
    Refusal sampleRefusal;
    // The hint each field last put in the status bar.
    QHash<const QLineEdit *, QString> hintShown;
    // Right of the status bar: recording or stopped, last time, points held.
    QLabel *recordingStatus;
    QStringList statusFigures; // its parts, the first never left out
    // How long memory lasts while acquiring; stops the run before it runs out.
    MemoryGuard memoryGuard;
    QElapsedTimer memoryClock;
    qint64 livePointsKept = 0; // per channel, acquired since start-up; the guard's rate
    // Whether the card's clock keeps its rate on the computer's clock; told
    // once per run.
    ClockCheck clockCheck;
    QElapsedTimer clockWall;
    qint64 runScans = 0;
    bool clockReported = false;
    // Writes every live run to disk as it is recorded; one recording from
    // start-up or a clear until the next clear or Exit.
    std::unique_ptr<Recorder> recorder;

    // The table of what lies between the measurement cursors.
    MeasureWindow *measureWindow = nullptr;
    bool measurePlaced = false; // the table was put beside the window once
    QString copiedNotice;       // the status message of the last copy
    std::unique_ptr<FileWork> files;

    friend class MainWindowProbe; // test access to the private state
};
