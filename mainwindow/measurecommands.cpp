// The Measure menu of MainWindow: the cursors A and B on the plot (the plot
// panel moves them) and the table of what lies between them.

#include "mainwindow/mainwindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputDialog>
#include <QScreen>
#include <qcustomplot.h>

#include "acquisition/liverun.h"
#include "mainwindow/eventlistwindow.h"
#include "mainwindow/measurewindow.h"
#include "mainwindow/plotpanel.h"
#include "mainwindow/runinfodlg.h"
#include "ui_mainwindow.h"

void MainWindow::on_menu_cursors_toggled(bool on)
{
    for (QAction *action : {ui->menu_copy_measurements, ui->menu_zoom_to_cursors,
                            ui->menu_save_range, ui->menu_export_range})
        action->setEnabled(on);
    if (!on) {
        dropCopiedNotice();
        measureWindow->hide();
    }
    panel->setCursorsShown(on); // the table's figures first: they decide its size
    if (on) {
        placeMeasureWindow();
        measureWindow->show();
    }
}

void MainWindow::on_menu_copy_measurements_triggered()
{
    updateMeasurements();
    QGuiApplication::clipboard()->setText(measureWindow->tabSeparated());
    copiedNotice = tr("测量结果已复制");
    ui->statusbar->showMessage(copiedNotice);
}

// The copy's message goes with the measurement it refers to: when the cursors
// go (a clear too) or the table is closed.
void MainWindow::dropCopiedNotice()
{
    if (!copiedNotice.isEmpty() && ui->statusbar->currentMessage() == copiedNotice)
        ui->statusbar->clearMessage();
    copiedNotice.clear();
}

void MainWindow::on_menu_zoom_to_cursors_triggered()
{
    panel->zoomToCursors();
}

void MainWindow::on_menu_save_range_triggered()
{
    saveData(true);
}

void MainWindow::on_menu_export_range_triggered()
{
    exportData(true);
}

// The table for the cursors' times and the channels shown; follows every
// redraw, and so the blocks arriving.
void MainWindow::updateMeasurements()
{
    if (!panel->cursorsShown())
        return;
    std::array<bool, ChannelCount> shown;
    for (int c = 0; c < ChannelCount; ++c)
        shown[std::size_t(c)] = channelGraph(c)->visible();
    measureWindow->setMeasurement(measure(channelStore(), panel->cursorTime(PlotCursors::A),
                                          panel->cursorTime(PlotCursors::B)),
                                  shown);
}

// Beside the window where the screen has room for it, so that it covers no
// curve; where the user moved it, it stays.
void MainWindow::placeMeasureWindow()
{
    if (measurePlaced)
        return;
    measurePlaced = true;
    const QRect frame = frameGeometry();
    const QRect room = screen() ? screen()->availableGeometry() : frame;
    const QSize size = measureWindow->size();
    QPoint at(frame.right() + 1, frame.top());
    if (at.x() + size.width() > room.right() + 1)
        at.setX(frame.left() - size.width());
    if (at.x() < room.left())
        at.setX(room.right() + 1 - size.width());
    measureWindow->move(at);
}

// A marker at the latest time while acquiring, else at cursor A (or the
// latest time held); its text is asked for at once, the time taken now.
void MainWindow::on_menu_add_marker_triggered()
{
    const double latest = run->store().lastKey().value_or(0);
    const double time =
        !run->running() && panel->cursorsShown() ? panel->cursorTime(PlotCursors::A) : latest;
    auto *ask = new QInputDialog(this);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setWindowTitle(tr("添加标记"));
    ask->setLabelText(tr("标记的文字（按 Enter 确认）："));
    connect(ask, &QInputDialog::textValueSelected, this,
            [this, time](const QString &text) { run->addMarker(time, text); });
    ask->open();
}

// The markers as the run holds them, on the plot.
void MainWindow::showMarkers()
{
    if (panel->markers().lineCount() == 0 && run->notes().markers.empty())
        return; // no redraw for nothing: it would merge the waiting points early
    panel->markers().setMarkers(run->notes().markers);
    ui->customPlot_VIT->replot(QCustomPlot::rpQueuedReplot);
}

// Right of the window, level with its bottom, where the screen has room;
// else left of it; else at the screen's right, over the plot rather than the
// controls. Where the user moved it, it stays.
void MainWindow::on_menu_marker_list_triggered()
{
    eventWindow->refill();
    if (!eventsPlaced) {
        eventsPlaced = true;
        const QRect frame = frameGeometry();
        const QRect room = screen() ? screen()->availableGeometry() : frame;
        const QSize size = eventWindow->frameGeometry().size();
        QPoint at(frame.right() + 1, std::max(room.top(), frame.bottom() + 1 - size.height()));
        if (at.x() + size.width() > room.right() + 1)
            at.setX(frame.left() - size.width());
        if (at.x() < room.left())
            at.setX(std::max(room.left(), room.right() + 1 - size.width()));
        eventWindow->move(at);
    }
    eventWindow->show();
    eventWindow->raise();
    eventWindow->activateWindow();
}

void MainWindow::on_menu_run_info_triggered()
{
    RunInfoDlg dialog(run->notes().info, this);
    if (dialog.exec() == QDialog::Accepted)
        run->setRunInfo(dialog.info());
}
