// The File menu's save, open and export commands of MainWindow, and the
// Measure menu's save and export of the range between the cursors. The formats
// live in datafile.cpp and csvexport.cpp; here are the dialogs, the files and
// the graphs.

#include "mainwindow/mainwindow.h"

#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "datafiles/safefile.h"
#include "mainwindow/plotcursors.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStatusBar>
#include <QTemporaryDir>
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

// Writes through the shared safe writer, with the wait cursor. Returns the
// system's reason for a failure, or an empty text.
QString writeAtomically(const QString &fileName, const std::function<bool(QIODevice &)> &write)
{
    WaitCursor wait;
    return writeFileSafely(fileName, write).error;
}

// The name with ".suffix" added where it has no extension of its own.
QString withSuffix(const QString &fileName, const QString &suffix)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName.endsWith(QLatin1Char('.')) ? fileName + suffix
                                               : fileName + QLatin1Char('.') + suffix;
}

// Asks for the file to write; null if cancelled. A name typed without an
// extension gets the chosen filter's, before the dialog asks whether to
// replace an existing file of that name. filters and suffixes pair up.
QString askFileToWrite(QWidget *parent, const QString &caption, const QStringList &filters,
                       const QStringList &suffixes)
{
    QFileDialog dialog(parent, caption, QString(), filters.join(QStringLiteral(";;")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffixes.value(0));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, filters, suffixes](const QString &filter) {
                         dialog.setDefaultSuffix(suffixes.value(qMax(0, filters.indexOf(filter))));
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    // The dialog of the desktop may leave the name as typed.
    return withSuffix(dialog.selectedFiles().constFirst(), dialog.defaultSuffix());
}

// The plot at its size as the library draws it into a PNG or PDF file, read
// back; empty if it could not be drawn.
QByteArray plotPicture(QCustomPlot *plot, bool pdf)
{
    const QTemporaryDir folder;
    if (!folder.isValid())
        return {};
    const QString path =
        folder.filePath(pdf ? QStringLiteral("plot.pdf") : QStringLiteral("plot.png"));
    if (!(pdf ? plot->savePdf(path) : plot->savePng(path)))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString shownName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

} // namespace

void MainWindow::on_menu_save_triggered()
{
    saveData(false);
}

// Every point held, or those between the measurement cursors; the counts
// for the status bar.
ChannelSet MainWindow::viewsToWrite(bool range, QString &countText) const
{
    if (!range) {
        countText = pointCountText();
        return channels.views();
    }
    const ChannelSet views =
        channels.views(std::min(cursors->time(PlotCursors::A), cursors->time(PlotCursors::B)),
                       std::max(cursors->time(PlotCursors::A), cursors->time(PlotCursors::B)));
    qsizetype counts[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c)
        counts[c] = views[std::size_t(c)].size();
    countText = pointCountText(counts);
    return views;
}

void MainWindow::saveData(bool range)
{
    const QString fileName = askFileToWrite(this, tr("保存Korvel文本数据"),
                                            {tr("文本数据文件 (*.txt)")}, {QStringLiteral("txt")});
    if (fileName.isNull())
        return;
    QString counts;
    const ChannelSet views = viewsToWrite(range, counts);
    const QString failure =
        writeAtomically(fileName, [&](QIODevice &file) { return writeDataFile(file, views); });
    if (!failure.isEmpty())
        showProblem(tr("无法保存 %1：%2").arg(shownName(fileName), failure));
    else
        ui->statusbar->showMessage(tr("已保存 %1 到 %2").arg(counts, shownName(fileName)));
}

void MainWindow::on_menu_open_data_triggered()
{
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("打开Korvel数据文件"), ".", tr("数据文件(*.txt)"));
    if (!fileName.isNull())
        openDataFile(fileName);
}

// Merges the file's points into the channels and shows them all.
void MainWindow::openDataFile(const QString &fileName)
{
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
    QString irregular;
    {
        WaitCursor wait;
        // Whatever was read before a line that ends reading stays.
        DataFileContents contents = readDataFile(file);
        if (contents.stop == ReadStop::ReadError)
            readError = file.errorString();
        file.close();
        stop = contents.stop;
        stopLine = contents.stopLine;
        irregular = irregularLinesText(contents);
        for (int c = 0; c < ChannelCount; ++c)
            read[c] = qsizetype(contents.points[c].size());
        channels.merge(contents.points);
    }

    plot->xAxis->setRange(0, 1);
    plot->xAxis->rescale(true); // visible graphs only
    plot->yAxis->setRange(-50, 500);
    setFollowing(true);
    plot->replot();

    memoryGuard.outlookChanged();
    updateRecordingStatus();
    const QString readText = tr("已从 %2 读取 %1").arg(pointCountText(read), shownName(fileName));
    if (stop == ReadStop::EndOfData && irregular.isEmpty()) {
        ui->statusbar->showMessage(readText);
        return;
    }
    if (stop == ReadStop::EndOfData) {
        showProblem(tr("%1：%2\n%3。").arg(shownName(fileName), irregular, readText));
        return;
    }
    const QString why = stop == ReadStop::UnknownLine ? tr("这一行不是段名，读取到此为止")
                        : stop == ReadStop::NoSection ? tr("第一个段名之前有数据行，读取到此为止")
                                                      : tr("读取出错（%1）").arg(readError);
    QString text = tr("%1 第 %2 行：%3。\n%4，此前读取的点已保留。")
                       .arg(shownName(fileName), QLocale().toString(stopLine), why, readText);
    if (!irregular.isEmpty())
        text += QLatin1Char('\n') + irregular;
    showProblem(text);
}

// The irregular lines of a file as the open command reports them; empty for
// a clean file.
QString MainWindow::irregularLinesText(const DataFileContents &contents) const
{
    if (contents.irregularLines == 0)
        return {};
    const QLocale locale;
    QStringList lines{
        tr("%1 行不规则，按以往的方式读取：").arg(locale.toString(contents.irregularLines))};
    for (const IrregularLine &l : contents.firstIrregular) {
        const QString why = l.why == Irregularity::NotANumber   ? tr("不是数字，按 0 读取")
                            : l.why == Irregularity::EmptyToken ? tr("空字段，按 0 读取")
                                                                : tr("字段数不对，已跳过");
        lines << tr("第 %1 行：%2").arg(locale.toString(l.line), why);
    }
    if (contents.irregularLines > qint64(contents.firstIrregular.size()))
        lines << tr("……还有 %1 行")
                     .arg(locale.toString(contents.irregularLines -
                                          qint64(contents.firstIrregular.size())));
    return lines.join(QLatin1Char('\n'));
}

void MainWindow::on_menu_export_triggered()
{
    exportData(false);
}

void MainWindow::exportData(bool range)
{
    const QString fileName = askFileToWrite(this, tr("导出Korvel数据"), {tr("数据文件 (*.csv)")},
                                            {QStringLiteral("csv")});
    if (fileName.isNull())
        return;
    QString counts;
    const ChannelSet views = viewsToWrite(range, counts);
    const QString failure =
        writeAtomically(fileName, [&](QIODevice &file) { return writeCsvFile(file, views); });
    if (!failure.isEmpty())
        showProblem(tr("无法导出 %1：%2").arg(shownName(fileName), failure));
    else
        ui->statusbar->showMessage(tr("已导出 %1 到 %2").arg(counts, shownName(fileName)));
}

// The plot as it is shown, at its size, as PNG or PDF after the name's
// extension; written like the data files, replacing the target only when
// complete.
void MainWindow::on_menu_save_picture_triggered()
{
    const QString fileName =
        askFileToWrite(this, tr("保存图片"), {tr("PNG 图片 (*.png)"), tr("PDF 文档 (*.pdf)")},
                       {QStringLiteral("png"), QStringLiteral("pdf")});
    if (fileName.isNull())
        return;
    const bool pdf =
        QFileInfo(fileName).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    QByteArray picture;
    {
        WaitCursor wait;
        picture = plotPicture(ui->customPlot_VIT, pdf);
    }
    const QString failure =
        picture.isEmpty() ? tr("无法绘制图片") : writeAtomically(fileName, [&](QIODevice &file) {
            return writeFully(file, picture.constData(), picture.size());
        });
    if (!failure.isEmpty())
        showProblem(tr("无法保存图片 %1：%2").arg(shownName(fileName), failure));
    else
        ui->statusbar->showMessage(tr("已将图片保存到 %1").arg(shownName(fileName)));
}
