// The File menu's save, open and export commands of MainWindow. The formats
// live in datafile.cpp and csvexport.cpp; here are the dialogs, the files and
// the graphs.

#include "mainwindow/mainwindow.h"

#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "mainwindow/lodgraph.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QFileDialog>
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
// target stays as it was and the temporary file is removed. Failures are
// silent, as every file command's are.
template <class Write> void writeAtomically(const QString &fileName, Write write)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return;
    WaitCursor wait;
    if (!write(file)) {
        file.cancelWriting();
        return;
    }
    file.commit();
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
    writeAtomically(fileName, [&](QIODevice &file) { return writeDataFile(file, channels); });
}

void MainWindow::on_menu_open_data_triggered()
{
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("打开Korvel数据文件"), ".", tr("数据文件(*.txt)"));
    if (fileName.isNull())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;

    QCustomPlot *plot = ui->customPlot_VIT;
    {
        WaitCursor wait;
        // Whatever was read before a line that ends reading stays.
        DataFileContents contents = readDataFile(file);
        file.close();
        QCPGraph *const graphs[ChannelCount] = {graphU1, graphI, graphT, graphU2};
        for (int c = 0; c < ChannelCount; ++c)
            mergeIntoGraph(graphs[c], contents.points[c]);
    }

    plot->xAxis->setRange(0, 1);
    plot->xAxis->rescale(true); // visible graphs only
    plot->yAxis->setRange(-50, 500);
    plot->replot();
}

void MainWindow::on_menu_export_triggered()
{
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("导出Korvel数据"), "", tr("数据文件 (*.csv)"));
    if (fileName.isNull())
        return;
    const ChannelSet channels = {viewOf(graphU1), viewOf(graphI), viewOf(graphT), viewOf(graphU2)};
    writeAtomically(fileName, [&](QIODevice &file) { return writeCsvFile(file, channels); });
}
