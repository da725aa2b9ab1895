#include "mainwindow/mainwindow.h"

#include <QDesktopServices>
#include <QLabel>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QResizeEvent>
#include <QUrl>

#include <cmath>

#include "acquisition/blockmath.h"
#include "app/aboutdlg.h"
#include "app/language.h"
#include "app/shell.h"
#include "mainwindow/cyclewindow.h"
#include "mainwindow/eventlistwindow.h"
#include "mainwindow/filework.h"
#include "mainwindow/limitalarmwindow.h"
#include "mainwindow/measurewindow.h"
#include "acquisition/liverun.h"
#include "mainwindow/plotpanel.h"
#include "datafiles/recorder.h"
#include "datafiles/recordings.h"
#include "mainwindow/statusbar.h"
#include "ui_mainwindow.h"

namespace {

// The plot keeps at least this width at the window's minimum size.
constexpr int kMinPlotWidth = 200;

// In the status bar and in a message that does not hold up the event loop,
// so blocks keep arriving while it is open.
QMessageBox *tellUser(QWidget *window, QStatusBar *statusBar, QMessageBox::Icon icon,
                      const QString &text)
{
    statusBar->showMessage(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    auto *box = new QMessageBox(icon, window->windowTitle(), QString(), QMessageBox::Ok, window);
    box->setTextFormat(Qt::PlainText); // file names and card texts are no markup
    box->setText(text);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse); // a path or an address to copy
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}

QPixmap channelIcon(const char *resource)
{
    return QPixmap(QString::fromLatin1(resource))
        .scaled(50, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui_MainWindow),
      run(std::make_unique<LiveRun>(recordingsFolder(), recordingsSizeLimit())),
      minTempRefusal(Refusal::None), maxTempRefusal(Refusal::None), sampleRefusal(Refusal::None),
      recordingStatus(nullptr)
{
    ui->setupUi(this);
    files = std::make_unique<FileWork>(this);
    run->setHeldElsewhere([this] { return files->heldBytes(); }); // a file being opened

    // Below this size the panel would be cut off; the menu and status bars
    // come on top through the window's layout. Margins as at the panel's left.
    const QRect panel = ui->groupBox->geometry();
    ui->centralwidget->setMinimumSize(ui->customPlot_VIT->x() + kMinPlotWidth + panel.left(),
                                      panel.bottom() + 1 + panel.left());

    auto *statusBar = new StatusBar(this);
    statusBar->setObjectName(ui->statusbar->objectName());
    QStatusBar *formBar = ui->statusbar;
    setStatusBar(statusBar); // in place of the form's, which goes now, not later
    delete formBar;
    ui->statusbar = statusBar;
    recordingStatus = new QLabel(ui->statusbar);
    recordingStatus->setObjectName(QStringLiteral("recordingStatus"));
    recordingStatus->setTextFormat(Qt::PlainText);
    ui->statusbar->addPermanentWidget(recordingStatus);

    ui->label_2->setPixmap(channelIcon(":/img/u1-01.png"));
    ui->label_3->setPixmap(channelIcon(":/img/I-01.png"));
    ui->label_4->setPixmap(channelIcon(":/img/t-01.png"));
    ui->label_5->setPixmap(channelIcon(":/img/u2-01.png"));

    // The values in force above.
    ui->edit_physical_channel->setText(QStringLiteral("Dev1/ai0:3"));
    ui->edit_sample->setText(QStringLiteral("100"));
    ui->edit_mintemp->setText(QStringLiteral("400"));
    ui->edit_maxtemp->setText(QStringLiteral("3600"));

    setupPlot(ui->customPlot_VIT);
    const LiveRun *live = run.get();
    connect(live, &LiveRun::runningChanged, this, &MainWindow::acquisitionChanged);
    connect(live, &LiveRun::redrawDue, this, &MainWindow::redrawDue);
    connect(live, &LiveRun::pointsAdded, this, &MainWindow::pointsAdded);
    connect(live, &LiveRun::cardEnded, this, &MainWindow::taskEndedByCard);
    connect(live, &LiveRun::clockOff, this, &MainWindow::cardClockOff);
    connect(live, &LiveRun::memoryWarning, this, &MainWindow::memoryRunsOut);
    connect(live, &LiveRun::memoryStopped, this, &MainWindow::memoryStopped);

    // Before the recording: the recovery at start-up may report problems.
    eventWindow = new EventListWindow(*run, this);
    connect(eventWindow, &EventListWindow::timeSelected, this->panel, &PlotPanel::centreOn);
    setUpRecording();
    setUpCycles();
    setUpLimits();
}

MainWindow::~MainWindow()
{
    // No block may reach the window while it is torn down.
    run->task().stop();
    files.reset(); // cancelled, its thread joined; its end reaches nobody
    run.reset();   // the recording is complete on disk before the window goes
    delete ui;
}

// The panel on the form's plot, and the window's side of it: the zoom
// button, the measurement table.
void MainWindow::setupPlot(QCustomPlot *customPlot)
{
    panel = new PlotPanel(customPlot, run->store(), this);
    connect(panel, &PlotPanel::zoomModeChanged, ui->btn_zoom_display, &QPushButton::setChecked);
    measureWindow = new MeasureWindow(this);
    connect(measureWindow, &MeasureWindow::closed, this, &MainWindow::dropCopiedNotice);
    connect(panel, &PlotPanel::cursorsMoved, this, &MainWindow::updateMeasurements);
    connect(run.get(), &LiveRun::notesChanged, this, &MainWindow::showMarkers);
    panel->markers().setMoved([this](int index, double time) {
        run->changeMarker(index, {time, run->notes().markers[std::size_t(index)].text});
    });
    // The figures follow the data too, which each redraw shows.
    connect(customPlot, &QCustomPlot::afterReplot, this, &MainWindow::updateMeasurements);
}

void MainWindow::onPlotMousePress(QMouseEvent *event)
{
    panel->onPlotMousePress(event);
}

void MainWindow::onPlotMouseMove(QMouseEvent *event)
{
    panel->onPlotMouseMove(event);
}

QCPGraph *MainWindow::channelGraph(int channel) const
{
    return panel->channelGraph(channel);
}

void MainWindow::on_btn_zoom_display_clicked(bool)
{
    panel->toggleZoomMode();
}

void MainWindow::onUpdateData() {}

ChannelStore &MainWindow::channelStore() const
{
    return run->store();
}

const AcquisitionState &MainWindow::acquisitionState() const
{
    return run->acquisitionState();
}

bool MainWindow::acquiring() const
{
    return run->running();
}

// Points held per channel: one figure when all four agree.
QString MainWindow::pointCountText(const qsizetype (&counts)[4]) const
{
    const QLocale locale;
    if (counts[0] == counts[1] && counts[0] == counts[2] && counts[0] == counts[3])
        return tr("每通道 %1 个点").arg(locale.toString(qint64(counts[0])));
    return tr("U1 %1、I %2、T %3、U2 %4 个点")
        .arg(locale.toString(qint64(counts[0])), locale.toString(qint64(counts[1])),
             locale.toString(qint64(counts[2])), locale.toString(qint64(counts[3])));
}

QString MainWindow::pointCountText() const
{
    qsizetype counts[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c)
        counts[c] = run->store().count(c);
    return pointCountText(counts);
}

// Recording or stopped, the latest time and the points held; empty while
// idle with no points. Follows the redraw timer, not each block.
void MainWindow::updateRecordingStatus()
{
    const bool recording = acquiring();
    const double lastKey = run->store().lastKey().value_or(0);
    if (!recording && run->store().totalCount() == 0) {
        statusFigures.clear();
        fitStatusFigures();
        return;
    }
    const QString time = QLocale().toString(lastKey, 'f', 3);
    statusFigures = {recording ? tr("正在采集  %1 s  %2").arg(time, pointCountText())
                               : tr("已停止  %1 s  %2").arg(time, pointCountText())};
    if (recording)
        statusFigures << clockStatusText() << memoryStatusText();
    statusFigures << recordingStatusText();
    fitStatusFigures();
}

// The figures take the room they need, never cut: the parts after the first
// give way, whole, where the window is too narrow; the tool tip holds them all.
void MainWindow::fitStatusFigures()
{
    if (statusFigures.isEmpty()) {
        recordingStatus->clear();
        recordingStatus->setToolTip(QString());
        return;
    }
    const QString all = statusFigures.join(QString());
    const QFontMetrics metrics(recordingStatus->font());
    const int room = width() - 40; // the bar's margins and its size grip
    QString shown = statusFigures.constFirst();
    for (int k = 1; k < statusFigures.size(); ++k) {
        if (metrics.horizontalAdvance(shown + statusFigures[k]) > room)
            break;
        shown += statusFigures[k];
    }
    recordingStatus->setText(shown);
    recordingStatus->setMinimumWidth(metrics.horizontalAdvance(shown) + 2);
    recordingStatus->setToolTip(shown != all ? all.trimmed() : QString());
}

void MainWindow::showProblem(const QString &text)
{
    tellUser(this, ui->statusbar, QMessageBox::Warning, text);
}

void MainWindow::reportProblem(const QString &text)
{
    eventWindow->addProblem(text);
    showProblem(text);
}

QMessageBox *MainWindow::showNotice(const QString &text)
{
    return tellUser(this, ui->statusbar, QMessageBox::Information, text);
}

void MainWindow::resizeEvent(QResizeEvent *)
{
    // The panel keeps its place; only the plot follows, never below zero.
    const QSize size = this->size();
    ui->customPlot_VIT->resize(qMax(0, size.width() - 190), qMax(0, size.height() - 80));
    fitStatusFigures();
}

// Open, save or export still running would end with the window: the user
// waits for it or cancels it first.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (files->busy()) {
        event->ignore();
        showProblem(tr("文件操作还在进行。请等它完成，或在进度窗口中取消它，再退出。"));
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::on_menu_exit_triggered()
{
    close();
}

void MainWindow::on_menu_cop_www_address_triggered()
{
    // Follows the system locale, not the interface language.
    const QString address = websiteAddress(QLocale());
    if (!QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode)))
        showProblem(tr("无法打开浏览器。公司网址：\n%1").arg(address));
}

void MainWindow::on_menu_about_triggered()
{
    AboutDlg dialog(this);
    dialog.exec();
}

// The form holds no field values, so retranslating keeps what the user typed.
void MainWindow::on_actionLanguage_triggered()
{
    setInterfaceLanguage(otherLanguage(interfaceLanguage()));
    ui->retranslateUi(this);
    measureWindow->retranslate();
    cycleWindow->retranslate();
    eventWindow->retranslate();
    alarmWindow->retranslate();
    showCycleNotice();
    panel->retranslate();
    ui->customPlot_VIT->replot();
    showRefusals();
    updateRecordingStatus();
}
