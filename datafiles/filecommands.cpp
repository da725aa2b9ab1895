// The File menu's save, open and export commands of MainWindow, and the
// Measure menu's save and export of the range between the cursors. The formats
// live in datafile.cpp and csvexport.cpp; here are the dialogs, the files and
// the graphs.

#include "mainwindow/mainwindow.h"

#include "acquisition/liverun.h"
#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "datafiles/filejob.h"
#include "datafiles/runnotes.h"
#include "datafiles/safefile.h"
#include "mainwindow/filework.h"
#include "mainwindow/plotpanel.h"
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
#include <atomic>
#include <cmath>
#include <optional>
#include <thread>

namespace {

// The wait cursor while the picture is drawn.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

// The name with ".suffix" added where it has no extension of its own.
QString withSuffix(const QString &fileName, const QString &suffix)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName.endsWith(QLatin1Char('.')) ? fileName + suffix
                                               : fileName + QLatin1Char('.') + suffix;
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

// A name typed without an extension gets the chosen filter's before the
// dialog asks whether to replace an existing file of that name.
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

// The file the open command reads on the file worker: the points as the
// graphs keep them, sized once from the file and sorted; what was read.
struct LoadedFile
{
    OpenedPoints opened;
    std::array<qsizetype, ChannelCount> read{}; // the file's own points
    DataFileContents report;                    // without its points
    QString readError;
    std::optional<RunNotesRead> notes; // from the companion file, when there is one
    QString notesError;
};

namespace {

// File worker. A plain file is read straight into the graphs' vectors on
// every core; any other is read by the one reader that knows every odd line.
void loadDataFile(const QString &fileName, FileJobControl &control, LoadedFile &loaded)
{
    std::array<qsizetype, ChannelCount> counts{};
    std::atomic<qint64> held{0};
    const qint64 size = QFileInfo(fileName).size();
    // A chunk of less than a few megabytes is not worth a thread.
    const int threads = int(std::clamp<qint64>(
        size >> 22, 1, qint64(std::max(1u, std::thread::hardware_concurrency()))));
    const PlainRead plain = readPlainDataFile(
        [&fileName]() -> std::unique_ptr<QIODevice> {
            auto file = std::make_unique<QFile>(fileName);
            return file->open(QIODevice::ReadOnly) ? std::move(file) : nullptr;
        },
        size, threads,
        [&](int c, qsizetype count) -> void * {
            // Room for the points held too, which go among them.
            const qsizetype room = ChannelStore::roomFor(count + loaded.opened.held.count(c));
            void *points = loaded.opened.unwritten(c, count, room);
            control.setHeldBytes(held += qint64(room) * qint64(sizeof(DataPoint)));
            return points;
        },
        counts, &control);
    if (plain != PlainRead::Read) {
        loaded.opened.releasePoints();
        control.setHeldBytes(0);
    }
    if (plain == PlainRead::NotPlain || plain == PlainRead::ReadError) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) {
            loaded.report.stop = ReadStop::ReadError;
            loaded.report.stopLine = 1;
            loaded.readError = file.errorString();
            return;
        }
        control.setTotal(file.size());
        loaded.report = readDataFile(file, &control); // counts its points as held
        if (loaded.report.stop == ReadStop::ReadError)
            loaded.readError = file.errorString();
        // Channel by channel into the graphs' vectors, each list let go once
        // copied; the memory guard counts what both hold meanwhile.
        qint64 lists = 0, vectors = 0;
        for (const PointList &list : loaded.report.points)
            lists += qint64(list.size() * sizeof(DataPoint));
        for (std::size_t c = 0; c < ChannelCount; ++c) {
            PointList &list = loaded.report.points[c];
            const int channel = int(c);
            loaded.opened.reserve(
                channel,
                ChannelStore::roomFor(qsizetype(list.size()) + loaded.opened.held.count(channel)));
            vectors += loaded.opened.capacity(channel) * qint64(sizeof(DataPoint));
            control.setHeldBytes(lists + vectors);
            for (const DataPoint &p : list)
                loaded.opened.append(channel, p);
            lists -= qint64(list.size() * sizeof(DataPoint));
            PointList().swap(list);
            control.setHeldBytes(lists + vectors);
        }
    }
    for (std::size_t c = 0; c < ChannelCount; ++c)
        loaded.read[c] = loaded.opened.size(int(c));
    QFile companion(notesPathFor(fileName));
    if (companion.exists()) {
        if (companion.open(QIODevice::ReadOnly) && companion.size() < (qint64(1) << 28))
            loaded.notes = readRunNotes(companion.readAll());
        else
            loaded.notesError = companion.errorString();
    }
    if (!control.cancelled())
        ChannelStore::prepare(loaded.opened, [&control] { return control.cancelled(); });
    if (control.cancelled()) // the points held are let go on the GUI thread
        loaded.opened.releasePoints();
}

} // namespace

void MainWindow::on_menu_save_triggered()
{
    saveData(false);
}

// Refuses a second file command while one runs; true if refused.
bool MainWindow::refuseWhileFileWork()
{
    if (!files->busy())
        return false;
    showProblem(tr("另一项文件操作还在进行。请等它完成，或在进度窗口中取消它。"));
    return true;
}

// Every point held, or those between the measurement cursors, as they are
// now; the counts for the status bar.
ChannelSnapshot MainWindow::snapshotToWrite(bool range, QString &countText) const
{
    ChannelSnapshot shot =
        range ? run->store().snapshot(
                    std::min(panel->cursorTime(PlotCursors::A), panel->cursorTime(PlotCursors::B)),
                    std::max(panel->cursorTime(PlotCursors::A), panel->cursorTime(PlotCursors::B)))
              : run->store().snapshot();
    qsizetype counts[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c)
        counts[c] = shot.count(c);
    countText = pointCountText(counts);
    return shot;
}

// Writes bytes on the file worker, as the safe writer does; done() gets the
// result and whether the user cancelled.
void MainWindow::writeInBackground(const QString &fileName, std::function<QString()> what,
                                   std::function<bool(QIODevice &, FileJobControl &)> content,
                                   std::function<void(const FileWriteResult &, bool)> done)
{
    auto result = std::make_shared<FileWriteResult>();
    files->start(
        std::move(what),
        [fileName, result, content = std::move(content)](FileJobControl &control) {
            *result =
                writeFileSafely(fileName, [&](QIODevice &file) { return content(file, control); });
        },
        [result, done = std::move(done)](bool cancelled) { done(*result, cancelled); });
}

// Save and export: the points present when the command was given go to the
// file, while later ones keep coming to the graphs.
void MainWindow::writePoints(const QString &fileName, bool range, bool csv)
{
    QString counts;
    run->store().settle(); // the waiting points go too
    auto shot = std::make_shared<ChannelSnapshot>(snapshotToWrite(range, counts));
    // A data file gets its notes beside it (the range's own); a file saved
    // over one with notes loses the old ones.
    QByteArray notes;
    if (!csv) {
        const double a = panel->cursorTime(PlotCursors::A), b = panel->cursorTime(PlotCursors::B);
        const RunNotes kept =
            range ? run->notes().within(std::min(a, b), std::max(a, b)) : run->notes();
        if (!kept.empty())
            notes = writeRunNotes(kept);
    }
    auto notesResult = std::make_shared<FileWriteResult>();
    const QString name = QFileInfo(fileName).fileName();
    writeInBackground(
        fileName, [name, csv] { return (csv ? tr("正在导出 %1") : tr("正在保存 %1")).arg(name); },
        [shot, csv, notes, notesResult, fileName](QIODevice &file, FileJobControl &control) {
            const ChannelSet views = shot->views();
            // Points in memory: formatted on every core.
            if (!(csv ? writeCsvFile(file, views, &control)
                      : writeDataFile(file, views, &control, 0)))
                return false;
            if (csv)
                return true;
            // Before the data file is replaced, so that a failure here
            // leaves the old pair as it was; it never costs the data.
            const QString companion = notesPathFor(fileName);
            if (notes.isEmpty())
                notesResult->ok = !QFile::exists(companion) || QFile::remove(companion);
            else
                *notesResult = writeFileSafely(companion, [&notes](QIODevice &device) {
                    return writeFully(device, notes.constData(), notes.size());
                });
            if (!notesResult->ok && notesResult->error.isEmpty())
                notesResult->error = QFile(companion).errorString();
            return true;
        },
        // The snapshot goes on the GUI thread, after the writer's last read:
        // only then may the store change the points in place again.
        [this, fileName, counts, csv, shot, notesResult](const FileWriteResult &result,
                                                         bool cancelled) {
            const QString shown = shownName(fileName);
            if (result.ok && !csv && !notesResult->ok)
                showProblem(
                    tr("已保存 %1 到 %2，但无法写入注释文件 %3：%4")
                        .arg(counts, shown, shownName(notesPathFor(fileName)), notesResult->error));
            else if (result.ok)
                ui->statusbar->showMessage(
                    (csv ? tr("已导出 %1 到 %2") : tr("已保存 %1 到 %2")).arg(counts, shown));
            else if (cancelled)
                ui->statusbar->showMessage(
                    (csv ? tr("已取消导出，%1 未改动") : tr("已取消保存，%1 未改动")).arg(shown));
            else
                showProblem(
                    (csv ? tr("无法导出 %1：%2") : tr("无法保存 %1：%2")).arg(shown, result.error));
        });
}

void MainWindow::saveData(bool range)
{
    if (refuseWhileFileWork())
        return;
    const QString fileName = askFileToWrite(this, tr("保存Korvel文本数据"),
                                            {tr("文本数据文件 (*.txt)")}, {QStringLiteral("txt")});
    if (!fileName.isNull())
        writePoints(fileName, range, false);
}

void MainWindow::on_menu_open_data_triggered()
{
    if (refuseWhileFileWork())
        return;
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("打开Korvel数据文件"), ".", tr("数据文件(*.txt)"));
    if (!fileName.isNull())
        openDataFile(fileName);
}

// Reads the file on the file worker; merges its points into the channels
// and shows them all when it is read, unless the user cancelled.
void MainWindow::openDataFile(const QString &fileName)
{
    if (refuseWhileFileWork())
        return;
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) {
            showProblem(tr("无法打开 %1：%2").arg(shownName(fileName), file.errorString()));
            return;
        }
    }
    auto loaded = std::make_shared<LoadedFile>();
    run->store().beginOpen(loaded->opened);
    const QString name = QFileInfo(fileName).fileName();
    files->start(
        [name] { return tr("正在读取 %1").arg(name); },
        [fileName, loaded](FileJobControl &control) { loadDataFile(fileName, control, *loaded); },
        [this, fileName, loaded](bool cancelled) {
            if (cancelled) {
                run->store().endOpen(nullptr);
                ui->statusbar->showMessage(
                    tr("已取消打开 %1，未读入任何点").arg(shownName(fileName)));
            } else {
                showOpenedFile(fileName, *loaded);
            }
        });
}

void MainWindow::showOpenedFile(const QString &fileName, LoadedFile &loaded)
{
    QCustomPlot *plot = ui->customPlot_VIT;
    qsizetype read[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c)
        read[c] = loaded.read[std::size_t(c)];
    const DataFileContents &contents = loaded.report;
    const ReadStop stop = contents.stop;
    const QString irregular = irregularLinesText(contents);
    // Whatever was read before a line that ends reading stays.
    run->store().endOpen(&loaded.opened);
    loaded.opened = {};
    QString notesProblem;
    if (loaded.notes) {
        run->addNotes(loaded.notes->notes);
        if (!loaded.notes->skipped.isEmpty())
            notesProblem = tr("注释文件 %1 有 %2 行无法读取，已跳过：%3")
                               .arg(shownName(notesPathFor(fileName)))
                               .arg(loaded.notes->skipped.size())
                               .arg(loaded.notes->skipped.mid(0, 3).join(QStringLiteral("；")));
    } else if (!loaded.notesError.isEmpty()) {
        notesProblem =
            tr("无法读取注释文件 %1：%2").arg(shownName(notesPathFor(fileName)), loaded.notesError);
    }
    cyclesAfterOpen(); // with the rated voltage and references the notes may give

    plot->xAxis->setRange(0, 1); // where no shown graph has a point
    panel->showOriginal();

    run->memoryOutlookChanged();
    updateRecordingStatus();
    const QString readText = tr("已从 %2 读取 %1").arg(pointCountText(read), shownName(fileName));
    if (stop == ReadStop::EndOfData && irregular.isEmpty()) {
        ui->statusbar->showMessage(readText);
        if (!notesProblem.isEmpty())
            showProblem(notesProblem);
        return;
    }
    if (stop == ReadStop::EndOfData) {
        showProblem(tr("%1：%2\n%3。").arg(shownName(fileName), irregular, readText) +
                    (notesProblem.isEmpty() ? QString() : QLatin1Char('\n') + notesProblem));
        return;
    }
    const QString why = stop == ReadStop::UnknownLine ? tr("这一行不是段名，读取到此为止")
                        : stop == ReadStop::NoSection ? tr("第一个段名之前有数据行，读取到此为止")
                                                      : tr("读取出错（%1）").arg(loaded.readError);
    QString text =
        tr("%1 第 %2 行：%3。\n%4，此前读取的点已保留。")
            .arg(shownName(fileName), QLocale().toString(contents.stopLine), why, readText);
    if (!irregular.isEmpty())
        text += QLatin1Char('\n') + irregular;
    if (!notesProblem.isEmpty())
        text += QLatin1Char('\n') + notesProblem;
    showProblem(text);
}

// The irregular lines of a file as the open command reports them: how many
// of each kind and what reading did with them, then the first few; empty for
// a clean file.
QString MainWindow::irregularLinesText(const DataFileContents &contents) const
{
    if (contents.irregularLines == 0)
        return {};
    const QLocale locale;
    const auto done = [](Irregularity why) {
        switch (why) {
        case Irregularity::NotANumber: return tr("字段不是数字，读作 0");
        case Irregularity::EmptyToken: return tr("字段为空，读作 0");
        case Irregularity::TokenCount: return tr("字段数不对，整行跳过");
        case Irregularity::TooLarge: return tr("数值超出范围，读作无穷大");
        case Irregularity::TooSmall: return tr("数值超出范围，读作 0");
        }
        return QString();
    };
    QStringList kinds;
    for (int k = 0; k < IrregularityCount; ++k) {
        if (const qint64 n = contents.irregularKinds[std::size_t(k)])
            kinds << tr("%1 行%2").arg(locale.toString(n), done(Irregularity(k)));
    }
    QStringList lines{tr("%1 行不合格式，其中 %2。")
                          .arg(locale.toString(contents.irregularLines), kinds.join(tr("；")))};
    for (const IrregularLine &l : contents.firstIrregular)
        lines << tr("第 %1 行：%2").arg(locale.toString(l.line), done(l.why));
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
    if (refuseWhileFileWork())
        return;
    const QString fileName = askFileToWrite(this, tr("导出Korvel数据"), {tr("数据文件 (*.csv)")},
                                            {QStringLiteral("csv")});
    if (!fileName.isNull())
        writePoints(fileName, range, true);
}

// The plot as it is shown, at its size, as PNG or PDF after the name's
// extension; written like the data files, replacing the target only when
// complete.
void MainWindow::on_menu_save_picture_triggered()
{
    if (refuseWhileFileWork())
        return;
    const QString fileName =
        askFileToWrite(this, tr("保存图片"), {tr("PNG 图片 (*.png)"), tr("PDF 文档 (*.pdf)")},
                       {QStringLiteral("png"), QStringLiteral("pdf")});
    if (fileName.isNull())
        return;
    const bool pdf =
        QFileInfo(fileName).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    // Drawn here, where the plot lives (the level of detail keeps that short);
    // written on the file worker.
    QByteArray picture;
    {
        WaitCursor wait;
        picture = plotPicture(ui->customPlot_VIT, pdf);
    }
    if (picture.isEmpty()) {
        showProblem(tr("无法保存图片 %1：%2").arg(shownName(fileName), tr("无法绘制图片")));
        return;
    }
    const QString name = QFileInfo(fileName).fileName();
    writeInBackground(
        fileName, [name] { return tr("正在保存 %1").arg(name); },
        [picture](QIODevice &file, FileJobControl &control) {
            control.setTotal(picture.size());
            return writeFully(file, picture.constData(), picture.size()) &&
                   control.advance(picture.size());
        },
        [this, fileName](const FileWriteResult &result, bool cancelled) {
            if (result.ok)
                ui->statusbar->showMessage(tr("已将图片保存到 %1").arg(shownName(fileName)));
            else if (cancelled)
                ui->statusbar->showMessage(tr("已取消保存，%1 未改动").arg(shownName(fileName)));
            else
                showProblem(tr("无法保存图片 %1：%2").arg(shownName(fileName), result.error));
        });
}
