// The File menu's save, open and export commands of MainWindow. The formats
// live in datafile.cpp and csvexport.cpp; here are the dialogs, the files and
// the graphs.

#include "mainwindow/mainwindow.h"

#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "mainwindow/lodgraph.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStatusBar>
#include <QGuiApplication>
#include <QSaveFile>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

// The wait cursor while a file is written or read.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

ChannelView viewOf(QCPGraph *graph)
{
    settleGraphData(graph); // live points still waiting to be merged
    const QCPGraphDataContainer *data = graph->data().data();
    return ChannelView(data->size(), data, [](const void *source, qsizetype index) {
        const QCPGraphData &point =
            *(static_cast<const QCPGraphDataContainer *>(source)->constBegin() + index);
        return DataPoint{point.key, point.value};
    });
}

// Writes through a temporary file beside the target, which replaces the
// target only once everything is written and flushed; on any failure the
// target stays as it was and the temporary file is removed. Returns the
// system's reason for a failure, or an empty text.
template <class Write> QString writeAtomically(const QString &fileName, Write write)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    WaitCursor wait;
    if (!write(file)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

QString shownName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

// Time order with NaN times after all others, so that sorting stays defined.
bool keyBefore(double a, double b)
{
    return a < b || (!std::isnan(a) && std::isnan(b));
}

// Merges a section's points into the graph in one pass: the file's points
// sorted stably by time, then merged so that at equal times the points the
// graph already held come first and the file's follow in file order.
void mergeIntoGraph(QCPGraph *graph, PointList &points)
{
    if (points.empty())
        return;
    const auto byKey = [](const DataPoint &a, const DataPoint &b) {
        return keyBefore(a.key, b.key);
    };
    if (!std::is_sorted(points.begin(), points.end(), byKey))
        std::stable_sort(points.begin(), points.end(), byKey);

    settleGraphData(graph);
    QCPGraphDataContainer *data = graph->data().data();
    QVector<QCPGraphData> merged;
    merged.reserve(data->size() + qsizetype(points.size()));
    auto held = data->constBegin();
    const auto heldEnd = data->constEnd();
    for (const DataPoint &point : points) {
        while (held != heldEnd && !keyBefore(point.key, held->key))
            merged.append(*held++);
        merged.append(QCPGraphData(point.key, point.value));
    }
    for (; held != heldEnd; ++held)
        merged.append(*held);

    data->set(merged, true);
    markGraphDataChanged(graph);
}

} // namespace

void MainWindow::on_menu_save_triggered()
{
    const QString fileName = QFileDialog::getSaveFileName(this, tr("打开Korvel文本数据"), "",
                                                          tr("文本数据文件 (*.txt)"));
    if (fileName.isNull())
        return;
    const ChannelSet channels = {viewOf(graphU1), viewOf(graphI), viewOf(graphT), viewOf(graphU2)};
    const QString failure =
        writeAtomically(fileName, [&](QIODevice &file) { return writeDataFile(file, channels); });
    if (!failure.isEmpty())
        showProblem(tr("无法保存 %1：%2").arg(shownName(fileName), failure));
    else
        ui->statusbar->showMessage(
            tr("已保存 %1 到 %2").arg(pointCountText(), shownName(fileName)));
}

void MainWindow::on_menu_open_data_triggered()
{
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("打开Korvel数据文件"), ".", tr("数据文件(*.txt)"));
    if (fileName.isNull())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        showProblem(tr("无法打开 %1：%2").arg(shownName(fileName), file.errorString()));
        return;
    }

    QCustomPlot *plot = ui->customPlot_VIT;
    qsizetype read[ChannelCount];
    ReadStop stop;
    qint64 stopLine;
    QString readError;
    {
        WaitCursor wait;
        // Whatever was read before a line that ends reading stays.
        DataFileContents contents = readDataFile(file);
        if (contents.stop == ReadStop::ReadError)
            readError = file.errorString();
        file.close();
        stop = contents.stop;
        stopLine = contents.stopLine;
        QCPGraph *const graphs[ChannelCount] = {graphU1, graphI, graphT, graphU2};
        for (int c = 0; c < ChannelCount; ++c) {
            read[c] = qsizetype(contents.points[c].size());
            mergeIntoGraph(graphs[c], contents.points[c]);
        }
    }

    plot->xAxis->setRange(0, 1);
    plot->xAxis->rescale(true); // visible graphs only
    plot->yAxis->setRange(-50, 500);
    plot->replot();

    updateRecordingStatus();
    const QString readText = tr("已从 %2 读取 %1").arg(pointCountText(read), shownName(fileName));
    if (stop == ReadStop::EndOfData) {
        ui->statusbar->showMessage(readText);
        return;
    }
    const QString why = stop == ReadStop::UnknownLine ? tr("这一行不是段名，读取到此为止")
                        : stop == ReadStop::NoSection ? tr("第一个段名之前有数据行，读取到此为止")
                                                      : tr("读取出错（%1）").arg(readError);
    showProblem(tr("%1 第 %2 行：%3。\n%4，此前读取的点已保留。")
                    .arg(shownName(fileName), QLocale().toString(stopLine), why, readText));
}

void MainWindow::on_menu_export_triggered()
{
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("导出Korvel数据"), "", tr("数据文件 (*.csv)"));
    if (fileName.isNull())
        return;
    const ChannelSet channels = {viewOf(graphU1), viewOf(graphI), viewOf(graphT), viewOf(graphU2)};
    const QString failure =
        writeAtomically(fileName, [&](QIODevice &file) { return writeCsvFile(file, channels); });
    if (!failure.isEmpty())
        showProblem(tr("无法导出 %1：%2").arg(shownName(fileName), failure));
    else
        ui->statusbar->showMessage(
            tr("已导出 %1 到 %2").arg(pointCountText(), shownName(fileName)));
}
