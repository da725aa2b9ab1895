// The Measure menu's cycle analysis on MainWindow: the table window, the
// method drawn on the plot for the selected cycle, the settings, and the
// analysis of the points held on the file worker where the live run's own
// analysis cannot follow them.

#include "mainwindow/mainwindow.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTableWidget>
#include <cmath>

#include "acquisition/cycleanalysis.h"
#include "acquisition/liverun.h"
#include "datafiles/filejob.h"
#include "datafiles/safefile.h"
#include "mainwindow/cyclesettingsdlg.h"
#include "mainwindow/cyclewindow.h"
#include "mainwindow/filework.h"
#include "mainwindow/plotpanel.h"
#include "ui_mainwindow.h"

namespace {

bool samePoint(const DataPoint &a, const DataPoint &b)
{
    const auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    return same(a.key, b.key) && same(a.value, b.value);
}

} // namespace

void MainWindow::setUpCycles()
{
    cycleWindow = new CycleWindow(this);
    run->setCycleSettings(savedCycleSettings());
    connect(run.get(), &LiveRun::cyclesChanged, this, &MainWindow::liveCyclesChanged);
    connect(run.get(), &LiveRun::cycleSettingsChanged, this, [this] {
        cyclesAnalysing = true; // the emptied live analysis is not shown meanwhile
        analyseCycles();
    });
    connect(cycleWindow, &CycleWindow::cycleSelected, this,
            [this](const CycleResult *cycle, bool zoom) { panel->showCycle(cycle, zoom); });
    connect(cycleWindow, &CycleWindow::closed, this,
            [this] { cycleWindow->table()->clearSelection(); });
    connect(cycleWindow, &CycleWindow::settingsRequested, this, &MainWindow::editCycleSettings);
    connect(cycleWindow, &CycleWindow::exportRequested, this, &MainWindow::exportCycles);
    connect(cycleWindow, &CycleWindow::copied, this,
            [this] { ui->statusbar->showMessage(tr("循环表已复制"), 5000); });
    // An analysis that waited for other file work starts when that ends.
    connect(files.get(), &FileWork::finished, this, [this] {
        if (cyclesAnalysing && !files->busy())
            analyseCycles();
    });
}

void MainWindow::on_menu_cycles_triggered()
{
    showLiveCycles();
    if (!cyclePlaced) {
        // Below the window where the screen has room, else over its lower part.
        cyclePlaced = true;
        const QRect frame = frameGeometry();
        const QRect room = screen() ? screen()->availableGeometry() : frame;
        const QSize size = cycleWindow->frameGeometry().size();
        QPoint at(frame.left(), frame.bottom() + 1);
        if (at.y() + size.height() > room.bottom() + 1)
            at.setY(std::max(room.top(), room.bottom() + 1 - size.height()));
        at.setX(std::clamp(at.x(), room.left(),
                           std::max(room.left(), room.right() + 1 - size.width())));
        cycleWindow->move(at);
    }
    cycleWindow->show();
    cycleWindow->raise();
    cycleWindow->activateWindow();
}

void MainWindow::showLiveCycles()
{
    if (cyclesAnalysing || cyclesBehind)
        return;
    const CycleAnalyzer &live = run->cycles();
    cycleWindow->setCycles(live.cycles(), live.settings());
    showCycleNotice();
}

void MainWindow::showCycleNotice()
{
    cycleWindow->setNotice(
        cyclesAnalysing   ? tr("正在分析已有的点，完成后表格随之更新。")
        : cyclesBehind    ? tr("新采集的点落在已有的点之间，实时分析无法跟随：停止采集后，表格将按全部"
                                  "点重新分析。")
        : cyclesCancelled ? tr("分析已取消：表格不含此前已有的点。在“设置…”中按“确定”可重新分析。")
                          : QString());
}

// The live analysis cannot follow the points held: they are analysed again
// now, or at the stop while acquiring.
void MainWindow::analyseCyclesAgain()
{
    if (acquiring()) {
        cyclesBehind = true;
        showCycleNotice();
    } else {
        analyseCycles();
    }
}

// Once per redraw beat while cycles change.
void MainWindow::liveCyclesChanged()
{
    if (cyclesAnalysing || cyclesBehind)
        return;
    if (!livePointsFollow()) {
        analyseCyclesAgain();
        return;
    }
    if (cycleWindow->isVisible())
        showLiveCycles();
}

// Whether U1's points seen by the analysis are still in place with the new
// ones after them; remembers the points held now.
bool MainWindow::livePointsFollow()
{
    const ChannelData &u1 = run->store().channel(ChannelU1);
    const ChannelView held = u1.view();
    if (held.size() < cycledCount ||
        (cycledCount > 0 && !(held.at(cycledCount - 1).key == cycledLastKey)))
        return false;
    if (held.size() > 0) {
        const double last = held.at(held.size() - 1).key;
        const std::optional<QCPRange> waiting = u1.waitingKeys();
        if (waiting && waiting->lower < last)
            return false;
    }
    trackCycledPoints();
    return true;
}

void MainWindow::trackCycledPoints()
{
    const ChannelView held = run->store().channel(ChannelU1).view();
    cycledCount = held.size();
    cycledLastKey = cycledCount > 0 ? held.at(cycledCount - 1).key : 0;
}

// The points held analysed on the file worker with the settings in force;
// then the analysis takes in the points that came meanwhile and replaces the
// live run's. Waits for other file work.
void MainWindow::analyseCycles()
{
    cyclesAnalysing = true;
    cyclesBehind = false;
    cyclesCancelled = false;
    showCycleNotice();
    if (files->busy())
        return; // FileWork::finished starts it
    ChannelStore &store = run->store();
    store.settle();
    const CycleSettings settings = run->cycles().settings();
    if (store.totalCount() == 0) {
        cyclesAnalysing = false;
        trackCycledPoints();
        run->setCycles(CycleAnalyzer(settings));
        showLiveCycles();
        return;
    }
    auto shot = std::make_shared<ChannelSnapshot>(store.snapshot());
    auto analyzer = std::make_shared<CycleAnalyzer>(settings);
    const quint64 clears = cycleClears;
    files->start(
        [] { return tr("正在分析循环"); },
        [shot, analyzer](FileJobControl &control) { analyzer->feed(shot->views(), &control); },
        [this, shot, analyzer, clears](bool cancelled) mutable {
            std::array<qsizetype, ChannelCount> counts{};
            for (int c = 0; c < ChannelCount; ++c)
                counts[std::size_t(c)] = shot->count(c);
            const ChannelSet views = shot->views();
            const DataPoint last = counts[0] > 0 ? views[ChannelU1].at(counts[0] - 1) : DataPoint{};
            shot.reset(); // the store may change its points in place again
            if (clears != cycleClears)
                return; // cleared meanwhile: the live analysis started again
            cyclesAnalysing = false;
            if (cancelled) {
                cyclesCancelled = true;
                trackCycledPoints();
                showLiveCycles();
                return;
            }
            if (!feedCyclesSince(*analyzer, counts, last)) {
                // The points changed otherwise: again, or at the stop.
                analyseCyclesAgain();
                return;
            }
            trackCycledPoints(); // before the run says its cycles changed
            run->setCycles(std::move(*analyzer));
            showLiveCycles();
        });
}

// Feeds analyzer the points the store took after the snapshot of counts
// points per channel, U1's last being lastU1; false where the store changed
// otherwise than by points appended at the end on one time grid.
bool MainWindow::feedCyclesSince(CycleAnalyzer &analyzer, const std::array<qsizetype, 4> &counts,
                                 const DataPoint &lastU1)
{
    ChannelStore &store = run->store();
    store.settle();
    const ChannelSet now = store.views();
    qsizetype added = -1;
    for (int c = 0; c < ChannelCount; ++c) {
        const qsizetype n = now[std::size_t(c)].size() - counts[std::size_t(c)];
        if (store.channel(c).waitingCount() > 0 || n < 0 || (added >= 0 && n != added))
            return false;
        added = n;
    }
    if (counts[0] > 0 && !samePoint(now[ChannelU1].at(counts[0] - 1), lastU1))
        return false;
    if (added == 0)
        return true;
    std::array<std::vector<double>, ChannelCount> values;
    std::vector<double> keys(std::size_t(added), 0.0);
    for (int c = 0; c < ChannelCount; ++c) {
        std::vector<double> &v = values[std::size_t(c)];
        v.resize(std::size_t(added));
        for (qsizetype k = 0; k < added; ++k) {
            const DataPoint p = now[std::size_t(c)].at(counts[std::size_t(c)] + k);
            if (c == ChannelU1)
                keys[std::size_t(k)] = p.key;
            else if (!(p.key == keys[std::size_t(k)]))
                return false;
            v[std::size_t(k)] = p.value;
        }
    }
    analyzer.feed(keys.data(), values[ChannelU1].data(), values[ChannelI].data(),
                  values[ChannelT].data(), values[ChannelU2].data(), added);
    return true;
}

// The run emptied its analysis with its points; one under way is dropped.
void MainWindow::clearCycles()
{
    ++cycleClears;
    cyclesAnalysing = cyclesBehind = cyclesCancelled = false;
    cycledCount = 0;
    cycledLastKey = 0;
    cycleWindow->setCycles({}, run->cycles().settings());
    panel->showCycle(nullptr, false);
    showCycleNotice();
}

// After an open: the points held now, analysed; while acquiring, live points
// were merged among the file's, so at the stop.
void MainWindow::cyclesAfterOpen()
{
    if (acquiring()) {
        cyclesBehind = true;
        showCycleNotice();
        return;
    }
    analyseCycles();
}

void MainWindow::cyclesAtStop()
{
    if (cyclesBehind)
        analyseCycles();
}

void MainWindow::editCycleSettings()
{
    const CycleAnalyzer &live = run->cycles();
    CycleSettingsDlg dialog(run->chosenCycleSettings(), live.ratedVoltage(),
                            live.currentThreshold(), cycleWindow);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const CycleSettings chosen = dialog.settings();
    saveCycleSettings(chosen);
    if (chosen == run->chosenCycleSettings() && !cyclesCancelled)
        return;
    cyclesAnalysing = true; // the emptied live analysis is not shown meanwhile
    run->setCycleSettings(chosen);
    analyseCycles();
}

// The table as CSV in UTF-8 with a byte order mark, so that a spreadsheet
// reads the units' signs; written like every other file.
void MainWindow::exportCycles()
{
    if (refuseWhileFileWork())
        return;
    const QString fileName = askFileToWrite(cycleWindow, tr("导出循环分析"),
                                            {tr("数据文件 (*.csv)")}, {QStringLiteral("csv")});
    if (fileName.isNull())
        return;
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + cycleWindow->commaSeparated().toUtf8();
    const QString name = QFileInfo(fileName).fileName();
    const QString shown = QDir::toNativeSeparators(fileName);
    writeInBackground(
        fileName, [name] { return tr("正在导出 %1").arg(name); },
        [bytes](QIODevice &file, FileJobControl &control) {
            control.setTotal(bytes.size());
            return writeFully(file, bytes.constData(), bytes.size()) &&
                   control.advance(bytes.size());
        },
        [this, shown](const FileWriteResult &result, bool cancelled) {
            if (result.ok)
                ui->statusbar->showMessage(tr("已将循环表导出到 %1").arg(shown));
            else if (cancelled)
                ui->statusbar->showMessage(tr("已取消导出，%1 未改动").arg(shown));
            else
                showProblem(tr("无法导出 %1：%2").arg(shown, result.error));
        });
}
