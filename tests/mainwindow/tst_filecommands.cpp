// The save, open and export commands in the real window, with the file
// dialogs answered by the test.

#include "datafiles/runnotes.h"
#include "datafiles/datafile.h"
#include "mainwindow/channelstore.h"
#include "mainwindow/mainwindow.h"
#include "dialoganswer.h"
#include "diskfaults.h"
#include "manualrun.h"
#include "testfiles.h"
#include "datafiles/filejob.h"
#include "mainwindow/filework.h"
#include "ui_mainwindow.h"
#include "acquisition/liverun.h"
#include "datafiles/recorder.h"
#include "windowtexts.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>
#include <qcustomplot.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <cmath>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

using Points = QVector<QPair<double, double>>;

Points pointsOf(const QCPGraph *graph)
{
    Points points;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        points.append({it->key, it->value});
    return points;
}

// Channel c holds these points instead of its own, put in as a file puts them.
void setPoints(ChannelStore &store, int c, const Points &points)
{
    std::array<PointList, ChannelCount> lists;
    for (int k = 0; k < ChannelCount; ++k) {
        const ChannelView held = store.channel(k).view();
        for (qsizetype i = 0; k != c && i < held.size(); ++i)
            lists[std::size_t(k)].push_back(held.at(i));
    }
    for (const auto &p : points)
        lists[std::size_t(c)].push_back({p.first, p.second});
    store.clear();
    store.merge(lists);
}

// Holds the window's file work at its first progress step where when() holds
// until released, so that a test acts while the work is under way, however
// fast the machine.
class FileWorkPause
{
public:
    explicit FileWorkPause(std::function<bool(FileJobControl &)> when = {})
    {
        FileJobControl::setPauseHook([this, when](FileJobControl &control) {
            if ((!when || when(control)) && !held.exchange(true)) {
                reached.release();
                go.acquire();
            }
        });
    }
    ~FileWorkPause()
    {
        release();
        FileJobControl::setPauseHook({});
    }
    bool waitUntilHeld()
    {
        return QTest::qWaitFor([this] { return reached.tryAcquire(); }, 30000);
    }
    void release()
    {
        if (!released.exchange(true))
            go.release();
    }

private:
    QSemaphore reached, go;
    std::atomic<bool> held{false}, released{false};
};

// One point at a time, in time order, the points held first at equal times.
Points mergedByTime(Points held, const Points &added)
{
    for (const auto &p : added) {
        auto at = std::upper_bound(held.begin(), held.end(), p,
                                   [](const auto &a, const auto &b) { return a.first < b.first; });
        held.insert(at, p);
    }
    return held;
}

// n points of slowly changing values, 2.5 ms apart.
Points ramp(int n, double from = 0)
{
    Points points;
    for (int i = 0; i < n; ++i)
        points.append({from + i * 0.0025, i % 997 * 0.5});
    return points;
}

// Resident memory now and at its highest since the last reset (Linux).
qint64 residentKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field)))
                .trimmed()
                .split(' ')
                .value(0)
                .toLongLong();
    }
    return -1;
}

} // namespace

class FileCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogs_data();
    void dialogs();
    void saveWritesEveryChannel();
    void saveEmptyGraphsEmptiesFile();
    void saveOpenSaveIsIdentical();
    void openMergesInTimeOrder();
    void openReportsWhatWasRead_data();
    void openReportsWhatWasRead();
    void openUnreadableFile();
    void liveBlocksInsideARecording();
    void axesAfterOpen_data();
    void axesAfterOpen();
    void exportWritesCsv();
    void unwritableTarget_data();
    void unwritableTarget();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void writeFaultSweep_data();
    void writeFaultSweep();
    void chinesePath();
    void defaultExtension_data();
    void defaultExtension();
    void savePicture_data();
    void savePicture();
    void cancelMidway_data();
    void cancelMidway();
    void duringSave_data();
    void duringSave();
    void openMemoryBound_data();
    void openMemoryBound();
    void openWhileBlocksArrive_data();
    void openWhileBlocksArrive();

private:
    QAction *action(const QString &name) const { return window->findChild<QAction *>(name); }
    QCPGraph *graph(int channel) const { return window->channelGraph(channel); }
    ChannelStore &store() const { return window->channelStore(); }
    QCustomPlot *plot() const { return window->form()->customPlot_VIT; }

    // Triggers the command and answers its dialog.
    void run(const QString &command, const QString &fileName)
    {
        DialogAnswer answer(fileName);
        action(command)->trigger();
        QVERIFY(waitForFileWork(*window));
        QCOMPARE(answer.dialogs, 1);
        QCOMPARE(answer.otherBoxes, 0);              // no modal message of their own
        QVERIFY(!QGuiApplication::overrideCursor()); // wait cursor restored
    }

    // Triggers the command, answers its dialog and waits until the pause
    // holds its work.
    bool startHeld(const QString &command, const QString &fileName, FileWorkPause &pause)
    {
        DialogAnswer answer(fileName);
        action(command)->trigger();
        return answer.dialogs == 1 && pause.waitUntilHeld();
    }

    QString path(const QString &name) const { return dir->filePath(name); }

    // Pixels drawn in channel c's colour with the axes on these ranges.
    int pixelsOf(int c, const QCPRange &keys, const QCPRange &values) const
    {
        plot()->xAxis->setRange(keys);
        plot()->yAxis->setRange(values);
        const QImage image = plot()->toPixmap().toImage();
        const QColor pen = graph(c)->pen().color();
        const QRect inside = plot()->axisRect()->rect().adjusted(2, 2, -2, -2);
        int n = 0;
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            for (int x = inside.left(); x <= inside.right(); ++x) {
                const QColor p = image.pixelColor(x, y);
                n += qAbs(p.red() - pen.red()) + qAbs(p.green() - pen.green()) +
                         qAbs(p.blue() - pen.blue()) <
                     60;
            }
        }
        return n;
    }

    MainWindow *window = nullptr;
    QTemporaryDir *dir = nullptr;
    QString startDir;
};

void FileCommandsTest::initTestCase()
{
    startDir = QDir::currentPath();
}

void FileCommandsTest::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    QDir::setCurrent(dir->path()); // where the dialogs start
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void FileCommandsTest::cleanup()
{
    delete window;
    window = nullptr;
    QDir::setCurrent(startDir);
    delete dir;
    dir = nullptr;
}

void FileCommandsTest::dialogs_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("filter");
    QTest::newRow("save") << "menu_save" << false << "保存Korvel文本数据"
                          << "文本数据文件 (*.txt)";
    QTest::newRow("open") << "menu_open_data" << false << "打开Korvel数据文件"
                          << "数据文件(*.txt)";
    QTest::newRow("export") << "menu_export" << false << "导出Korvel数据"
                            << "数据文件 (*.csv)";
    QTest::newRow("save, English") << "menu_save" << true << "save Korvel data file"
                                   << "data file (*.txt)";
    QTest::newRow("open, English") << "menu_open_data" << true << "open Korvel data file"
                                   << "data file (*.txt)";
    QTest::newRow("export, English") << "menu_export" << true << "export Korvel data"
                                     << "export file (*.csv)";
}

// Each command's dialog, its caption and filter through the window's
// translation; cancelled, it touches neither files, graphs nor view.
void FileCommandsTest::dialogs()
{
    QFETCH(QString, command);
    QFETCH(bool, english);
    QFETCH(QString, caption);
    QFETCH(QString, filter);
    setPoints(store(), ChannelU2, {{1, 2}});
    QVERIFY(writeFile(path("keep.txt"), "U2_DATA\r\n5 6\r\n"));
    plot()->xAxis->setRange(-7, 3);
    QSignalSpy replots(plot(), &QCustomPlot::afterReplot);
    QTranslator translation;
    if (english) {
        QVERIFY(translation.load(":/res/KorvelDAQ_en.qm"));
        QCoreApplication::installTranslator(&translation);
    }
    DialogAnswer answer{QString()};
    action(command)->trigger();
    QCoreApplication::removeTranslator(&translation);
    QCOMPARE(answer.dialogs, 1);
    QCOMPARE(answer.otherBoxes, 0);              // no modal message of their own
    QVERIFY(!QGuiApplication::overrideCursor()); // wait cursor restored
    QCOMPARE(answer.caption, caption);
    QCOMPARE(answer.filters, QStringList{filter});
    // Open starts in "."; save and export pass no folder, so Qt offers the
    // folder visited last, or the current one.
    if (command == "menu_open_data")
        QCOMPARE(answer.directory, QDir(dir->path()).absolutePath());

    QCOMPARE(readFile(path("keep.txt")), QByteArray("U2_DATA\r\n5 6\r\n"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"keep.txt"});
    QCOMPARE(pointsOf(graph(ChannelU2)), (Points{{1, 2}}));
    QCOMPARE(plot()->xAxis->range().lower, -7.0);
    QCOMPARE(replots.count(), 0);
}

void FileCommandsTest::saveWritesEveryChannel()
{
    setPoints(store(), ChannelU1, {{0, 12.5}, {0.01, 12.45}});
    setPoints(store(), ChannelI, {{0, 0.31}, {0.01, 0.305}});
    setPoints(store(), ChannelT, {{0, 2.5}, {0.01, 2.51}});
    setPoints(store(), ChannelU2, {{0, 4.75}, {0.01, 4.7}});
    graph(ChannelI)->setVisible(false); // hidden channels are saved too
    QVERIFY(writeFile(path("run.txt"), "old content that is longer than the new file ..."));

    run("menu_save", path("run.txt"));
    QCOMPARE(readFile(path("run.txt")), readFile(KORVEL_DATAFILES_TEST_DATA "/example.txt"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"run.txt"});
    QCOMPARE(takeMessages(*window), QStringList());
    QCOMPARE(statusMessage(*window),
             "已保存 每通道 2 个点 到 " + QDir::toNativeSeparators(path("run.txt")));
}

void FileCommandsTest::saveEmptyGraphsEmptiesFile()
{
    QVERIFY(writeFile(path("run.txt"), "U1_DATA\r\n1 2\r\n"));
    run("menu_save", path("run.txt"));
    QVERIFY(QFile::exists(path("run.txt")));
    QCOMPARE(readFile(path("run.txt")), QByteArray());
}

// Save, clear, open, save: the same bytes and the same points, bit for bit.
void FileCommandsTest::saveOpenSaveIsIdentical()
{
    QRandomGenerator rng(3);
    Points saved[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) {
        double t = 0;
        for (int i = 0; i < 5000; ++i) {
            t += 0.0025;
            saved[c].append({1000 + t, rng.bounded(1000.0) - 500});
        }
        if (c == ChannelT)
            saved[c].append({saved[c].last().first, 0.1 + 0.2}); // equal times kept
        setPoints(store(), c, saved[c]);
    }
    // The notes go beside the data file and come back with it.
    LiveRun &live = window->liveRun();
    live.setRunInfo({"王丽", "C-17", 250, {}, 0.02, "第一行\n第二行"});
    live.addMarker(1001, "开门 <b>");
    QVERIFY(waitForFileWork(*window)); // the cycles analysed with the rating given
    const RunNotes notes = live.notes();
    run("menu_save", path("a.txt"));
    live.clear();
    QCOMPARE(live.notes().markers.size(), 0u);
    run("menu_open_data", path("a.txt"));
    for (int c = 0; c < ChannelCount; ++c)
        QVERIFY2(pointsOf(graph(c)) == saved[c], qPrintable(QString("channel %1").arg(c)));
    QVERIFY(live.notes() == notes);
    run("menu_save", path("b.txt"));
    QCOMPARE(readFile(path("b.txt")), readFile(path("a.txt")));
    QCOMPARE(readFile(path("b.txt.notes")), readFile(path("a.txt.notes")));
    // A damaged companion: the data opens anyway, the skipped line is named.
    QVERIFY(writeFile(path("a.txt.notes"),
                      "KorvelDAQ notes 1\r\nmarker: 1002\topened\r\nmarker: x\r\n"));
    live.clear();
    run("menu_open_data", path("a.txt"));
    QCOMPARE(store().count(ChannelU1), qsizetype(saved[ChannelU1].size()));
    QCOMPARE(live.notes().markers.size(), 1u);
    const QStringList shown = takeMessages(*window);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains("有 1 行无法读取") && shown[0].contains("line 3: marker: x"),
             qPrintable(shown[0]));
}

void FileCommandsTest::openMergesInTimeOrder()
{
    setPoints(store(), ChannelU1, {{1, 10}, {2, 20}, {3, 30}});
    setPoints(store(), ChannelT, {{5, 1}});
    QVERIFY(writeFile(path("m.txt"), "U1_DATA\n2 99\n0 5\n2 98\n4 1\nI_DATA\n7 7\n"
                                     "U1_DATA\n3 31\nT_DATA\nnan 2\n1 nan\n"));
    run("menu_open_data", path("m.txt"));

    QCOMPARE(pointsOf(graph(ChannelU1)),
             (Points{{0, 5}, {1, 10}, {2, 20}, {2, 99}, {2, 98}, {3, 30}, {3, 31}, {4, 1}}));
    QCOMPARE(pointsOf(graph(ChannelI)), (Points{{7, 7}}));
    const Points t = pointsOf(graph(ChannelT));
    QCOMPARE(t.size(), 3);
    QCOMPARE(t[0].first, 1.0);
    QVERIFY(std::isnan(t[0].second));
    QCOMPARE(t[1], (QPair<double, double>(5, 1)));
    QVERIFY(std::isnan(t[2].first)); // kept, after every real time
    QCOMPARE(pointsOf(graph(ChannelU2)), Points{});

    // Opening the same file again doubles its points.
    run("menu_open_data", path("m.txt"));
    QCOMPARE(graph(ChannelU1)->dataCount(), 13);
}

void FileCommandsTest::openReportsWhatWasRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("read");      // points per channel as the status bar says it
    QTest::addColumn<QString>("stopped");   // the warning's line and reason; empty: none
    QTest::addColumn<QString>("irregular"); // the report of irregular lines; empty: none
    QTest::newRow("whole file") << QByteArray("U1_DATA\n1 2\n3 4\nT_DATA\n5 6")
                                << "U1 2、I 0、T 1、U2 0"
                                << ""
                                << "";
    QTest::newRow("unknown line") << QByteArray("I_DATA\r\n1 2\r\n1\t3\r\n4 5\r\n")
                                  << "U1 0、I 1、T 0、U2 0"
                                  << "第 3 行：这一行不是段名"
                                  << "";
    QTest::newRow("point line first") << QByteArray("1 2\nU1_DATA\n3 4\n") << "每通道 0"
                                      << "第 1 行：第一个段名之前有数据行"
                                      << "";
    QTest::newRow("damaged numbers")
        << QByteArray("U1_DATA\n0.2 abc\nxyz 5\n0.3 3 3\n1 2\n\n1e999 1\n-1e-400 3\n")
        << "U1 5、I 0、T 0、U2 0"
        << ""
        << "6 行不合格式，其中 2 行字段不是数字，读作 0；2 行字段数不对，整行跳过；"
           "1 行数值超出范围，读作无穷大；1 行数值超出范围，读作 0。\n"
           "第 2 行：字段不是数字，读作 0\n第 3 行：字段不是数字，读作 0\n"
           "第 4 行：字段数不对，整行跳过\n第 6 行：字段数不对，整行跳过\n"
           "第 7 行：数值超出范围，读作无穷大\n……还有 1 行\n";
    QTest::newRow("empty fields, more than are listed")
        << QByteArray("T_DATA\n 5\n6  \n1  2\nx 1\n2 y\n\nU3_DATA\n") << "U1 0、I 0、T 4、U2 0"
        << "第 8 行：这一行不是段名"
        << "6 行不合格式，其中 2 行字段不是数字，读作 0；2 行字段为空，读作 0；"
           "2 行字段数不对，整行跳过。\n第 2 行：字段为空，读作 0\n第 3 行：字段为空，读作 0\n"
           "第 4 行：字段数不对，整行跳过\n第 5 行：字段不是数字，读作 0\n"
           "第 6 行：字段不是数字，读作 0\n……还有 1 行";
}

// The status bar says what was read; an early stop is a warning with the line
// and the reason, and the points read before it stay. Irregular lines, read
// as ever, are listed in the same warning.
void FileCommandsTest::openReportsWhatWasRead()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, read);
    QFETCH(QString, stopped);
    QFETCH(QString, irregular);
    setPoints(store(), ChannelI, {{0.5, 9}});
    QVERIFY(writeFile(path("s.txt"), file));
    QSignalSpy replots(plot(), &QCustomPlot::afterReplot);
    run("menu_open_data", path("s.txt"));
    QVERIFY(replots.count() >= 1);

    const QString name = QDir::toNativeSeparators(path("s.txt"));
    const QString readText = "已从 " + name + " 读取 " + read + " 个点";
    QVERIFY2(statusMessage(*window).contains(readText), qPrintable(statusMessage(*window)));
    const QStringList shown = takeMessages(*window);
    if (stopped.isEmpty() && irregular.isEmpty()) {
        QCOMPARE(shown, QStringList());
        return;
    }
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(name + (stopped.isEmpty() ? "：" : " " + stopped)) &&
                 shown[0].contains(readText) && shown[0].contains(irregular),
             qPrintable(shown[0]));
    if (stopped.startsWith("第 3 行"))
        QCOMPARE(pointsOf(graph(ChannelI)), (Points{{0.5, 9}, {1, 2}}));
}

void FileCommandsTest::openUnreadableFile()
{
#ifdef Q_OS_UNIX
    if (geteuid() == 0)
        QSKIP("root reads any file");
#endif
    QVERIFY(writeFile(path("locked.txt"), "U1_DATA\n1 2\n"));
    QVERIFY(QFile::setPermissions(path("locked.txt"), QFileDevice::WriteOwner));
    QFile probe(path("locked.txt"));
    QVERIFY(!probe.open(QIODevice::ReadOnly));
    plot()->xAxis->setRange(-7, 3);
    run("menu_open_data", path("locked.txt"));
    QCOMPARE(takeMessages(*window),
             QStringList{"无法打开 " + QDir::toNativeSeparators(path("locked.txt")) + "：" +
                         probe.errorString()});
    QCOMPARE(graph(ChannelU1)->dataCount(), 0);
    QCOMPARE(plot()->xAxis->range().lower, -7.0);
}

// Blocks acquired after opening a recording, not yet drawn: saving writes
// them in time order, and opening again merges the file among them.
void FileCommandsTest::liveBlocksInsideARecording()
{
    window->form()->btn_clear_data->click(); // the time base starts again
    enterText(window->form()->edit_sample, "1000");
    const ManualRun running(*window);
    Points recording;
    for (int k = 0; k <= 50; ++k)
        recording.append({k / 1000.0, 1000.0 + k}); // 0 .. 50 ms, some times equal to live ones
    for (int c = 0; c < ChannelCount; ++c)
        setPoints(store(), c, recording);
    const QVector<double> volts(100, 1.0); // keys 0.25 .. 25 ms, U1 50 V
    window->processBlock(volts, volts, volts, volts, 25.0);
    QVERIFY(store().channel(ChannelU1).waitingCount() > 0);

    const auto mergeOneByOne = mergedByTime;
    Points live;
    for (int j = 1; j <= 100; ++j)
        live.append({j / 4000.0, 50.0});
    const Points saved = mergeOneByOne(recording, live);

    run("menu_save", path("live.txt"));
    QFile file(path("live.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const DataFileContents contents = readDataFile(file);
    Points inFile;
    for (const DataPoint &p : contents.points[ChannelU1])
        inFile.append({p.key, p.value});
    QCOMPARE(inFile, saved);

    window->processBlock(volts, volts, volts, volts, 25.0); // keys 25.25 .. 50 ms
    Points more;
    for (int j = 101; j <= 200; ++j)
        more.append({j / 4000.0, 50.0});
    run("menu_open_data", path("live.txt"));
    QCOMPARE(pointsOf(graph(ChannelU1)), mergeOneByOne(mergeOneByOne(saved, more), saved));
}

void FileCommandsTest::axesAfterOpen_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("hidden"); // channel digits
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");

    const QByteArray file = "U1_DATA\n100 1\n200 2\nI_DATA\n2 3\n5 4\n";
    QTest::newRow("all shown") << file << "" << 2.0 << 200.0;
    QTest::newRow("U1 hidden") << file << "0" << 2.0 << 5.0;
    QTest::newRow("all hidden") << file << "0123" << 0.0 << 1.0;
    QTest::newRow("one time") << QByteArray("T_DATA\n7 1\n7 2\n") << "" << 6.5 << 7.5;
    QTest::newRow("point line first") << QByteArray("1 2\nU1_DATA\n3 4\n") << "" << 0.0 << 1.0;
    QTest::newRow("empty file") << QByteArray() << "" << 0.0 << 1.0;
}

void FileCommandsTest::axesAfterOpen()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, hidden);
    QFETCH(double, lower);
    QFETCH(double, upper);
    for (QChar c : hidden)
        graph(c.digitValue())->setVisible(false);
    plot()->xAxis->setRange(-7, 3);
    plot()->yAxis->setRange(1, 2);
    QVERIFY(writeFile(path("x.txt"), file));
    QSignalSpy replots(plot(), &QCustomPlot::afterReplot);

    run("menu_open_data", path("x.txt"));
    QCOMPARE(plot()->xAxis->range().lower, lower);
    QCOMPARE(plot()->xAxis->range().upper, upper);
    QCOMPARE(plot()->yAxis->range().lower, -50.0);
    QCOMPARE(plot()->yAxis->range().upper, 500.0);
    QVERIFY(replots.count() >= 1);
}

void FileCommandsTest::exportWritesCsv()
{
    setPoints(store(), ChannelU1, {{0.01, 12.5}, {0.02, 12.25}});
    setPoints(store(), ChannelT, {{0.01, 2.5}});
    graph(ChannelT)->setVisible(false);
    QVERIFY(writeFile(path("e.csv"), QByteArray(5000, 'x')));
    run("menu_export", path("e.csv"));
    QCOMPARE(readFile(path("e.csv")),
             QByteArray("Time (s), Cap. Voltage (V),Time (s),Temperature (oC),\r\n"
                        "0.010000,12.500000,0.010000,25.000000\r\n"
                        "0.020000,12.250000,,\r\n"));
    QCOMPARE(takeMessages(*window), QStringList());
    QCOMPARE(statusMessage(*window),
             "已导出 U1 2、I 0、T 1、U2 0 个点 到 " + QDir::toNativeSeparators(path("e.csv")));

    store().clear();
    run("menu_export", path("e.csv"));
    QCOMPARE(readFile(path("e.csv")), QByteArray("\r\n"));
}

void FileCommandsTest::unwritableTarget_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("target");
    for (const char *command : {"menu_save", "menu_export", "menu_save_picture"}) {
        for (const char *target :
             {"missing folder", "a file as folder", "read-only folder", "unwritable file"})
            QTest::addRow("%s, %s", command, target) << command << target;
    }
}

// Nothing is created and an old file stays; a warning names the file and the
// system's reason, and the status bar says it too.
void FileCommandsTest::unwritableTarget()
{
    QFETCH(QString, command);
    QFETCH(QString, target);
    setPoints(store(), ChannelU1, {{1, 2}});
    QVERIFY(writeFile(path("plain.dat"), "x"));
#ifdef Q_OS_UNIX
    // Permissions do not stop root; /proc takes no new files from anyone.
    const bool root = geteuid() == 0;
#else
    const bool root = false;
#endif
    QString fileName;
    if (target == "missing folder") {
        fileName = path("missing/out.txt");
    } else if (target == "a file as folder") {
        fileName = path("plain.dat/out.txt");
    } else if (target == "read-only folder") {
        QVERIFY(QDir(dir->path()).mkdir("locked"));
        QVERIFY(
            QFile::setPermissions(path("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        fileName = root ? QStringLiteral("/proc/korvel-out.txt") : path("locked/out.txt");
    } else {
        QVERIFY(QFile::setPermissions(path("plain.dat"), QFileDevice::ReadOwner));
        fileName = root ? QStringLiteral("/proc/version.dat") : path("plain.dat");
    }
    const QByteArray before = readFile(fileName);
    QSaveFile probe(fileName); // the system's reason, as the command gets it
    QVERIFY(!probe.open(QIODevice::WriteOnly));

    run(command, fileName);
    const QString verb = command == "menu_save"     ? "无法保存 "
                         : command == "menu_export" ? "无法导出 "
                                                    : "无法保存图片 ";
    const QString expected = verb + QDir::toNativeSeparators(fileName) + "：" + probe.errorString();
    QCOMPARE(takeMessages(*window), QStringList{expected});
    QCOMPARE(statusMessage(*window), expected);
    QCOMPARE(readFile(fileName), before);
    QFile::setPermissions(path("locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             target == "read-only folder" ? QStringList({"locked", "plain.dat"})
                                          : QStringList{"plain.dat"});
    QCOMPARE(QDir(path("locked")).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(readFile(path("plain.dat")), QByteArray("x"));
}

void FileCommandsTest::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("save") << "menu_save";
    QTest::newRow("export") << "menu_export";
}

// A disk that fills up while writing: the earlier file stays whole and no
// partial file is left behind.
void FileCommandsTest::failedWriteKeepsOldFile()
{
#ifdef Q_OS_LINUX
    QFETCH(QString, command);
    for (int c = 0; c < ChannelCount; ++c) {
        Points points;
        for (int i = 0; i < 20000; ++i)
            points.append({i * 0.0025, 1.0 / (i + 3)});
        setPoints(store(), c, points);
    }
    const QByteArray old = "U1_DATA\r\n1 2\r\n";
    QVERIFY(writeFile(path("old.txt"), old));

    {
        DialogAnswer answer(path("old.txt"));
        FileSizeLimit limit(64 * 1024); // the write fails as on a full disk
        QVERIFY(limit.isSet());
        action(command)->trigger();
        QVERIFY(waitForFileWork(*window));
        QCOMPARE(answer.dialogs, 1);
        QCOMPARE(answer.otherBoxes, 0);
    }
    QVERIFY(!QGuiApplication::overrideCursor());
    const QStringList shown = takeMessages(*window);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QDir::toNativeSeparators(path("old.txt"))) &&
                 shown[0].endsWith("：" + qt_error_string(EFBIG)),
             qPrintable(shown[0]));
    QCOMPARE(readFile(path("old.txt")), old);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.txt"});

    // With room again the same command succeeds.
    run(command, path("old.txt"));
    QVERIFY(readFile(path("old.txt")).size() > 64 * 1024);
#else
    QSKIP("needs RLIMIT_FSIZE");
#endif
}

void FileCommandsTest::writeFaultSweep_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name"); // markup in it must show as typed
    QTest::addColumn<bool>("notes");   // with a marker; the faults hit its notes only
    QTest::newRow("save") << "menu_save"
                          << "<b>run.txt" << false;
    QTest::newRow("export") << "menu_export"
                            << "<b>run.csv" << false;
    QTest::newRow("picture") << "menu_save_picture"
                             << "<b>run.png" << false;
    QTest::newRow("save, the notes beside it") << "menu_save"
                                               << "<b>run.txt" << true;
}

// Each command against a disk that fails at every offset of the sweep and in
// its other calls: either the complete file and the success message, or the
// failure shown with the system's reason and the old file untouched. A
// failure of the notes beside a data file never costs the data file.
void FileCommandsTest::writeFaultSweep()
{
    REQUIRE_DISK_FAULTS();
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(bool, notes);
    if (notes)
        window->liveRun().addMarker(1, "door");
    Points points;
    for (int i = 0; i < 1500; ++i)
        points.append({i * 0.0025, 1.0 / (i + 3)});
    for (int c = 0; c < ChannelCount; ++c)
        setPoints(store(), c, points);
    const QString target = path(name);
    const QString companion = notesPathFor(target);
    run(command, target);
    const QByteArray complete = readFile(target);
    const QByteArray completeNotes = readFile(companion);
    QCOMPARE(QFile::exists(companion), notes);
    const QString succeeded = statusMessage(*window);
    QVERIFY(takeMessages(*window).isEmpty());

    const QByteArray old = "old\r\n";
    QList<DiskFault> faults = diskFaults(complete.size());
    if (notes) {
        // The notes are written after the data file, into an unnamed file
        // (as the data file): writes that fail past the data file's bytes.
        faults.clear();
        for (DiskFault fault : diskFaults(completeNotes.size()))
            if (fault.op == QByteArray("write"))
                faults.append({fault.op, fault.after + complete.size(), fault.error});
    }
    FaultTally tally;
    for (const DiskFault &fault : faults) {
        QVERIFY(writeFile(target, old) && (!notes || writeFile(companion, old)));
        window->statusBar()->clearMessage();
        fault.arm(dir->path());
        run(command, target);
        tally.ran();
        const QStringList shown = takeMessages(*window);
        if (shown.isEmpty()) {
            tally.falseSuccesses += readFile(target) != complete;
            tally.falseSuccesses += notes && readFile(companion) != completeNotes;
            QCOMPARE(statusMessage(*window), succeeded);
            continue;
        }
        const QString failed = notes ? companion : target;
        QVERIFY2(shown.size() == 1 && shown[0].contains(QDir::toNativeSeparators(failed)) &&
                     shown[0].endsWith("：" + qt_error_string(fault.error)),
                 fault.name() + ": " + shown.join('|').toUtf8());
        QVERIFY2(readFile(target) == (notes ? complete : old), fault.name());
        QVERIFY2(readFile(companion) == (notes ? old : QByteArray("<missing>")), fault.name());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
                 notes ? QStringList({name, QFileInfo(companion).fileName()}) : QStringList{name});
    }
    QVERIFY(tally.report(qPrintable(command), int(faults.size())));
}

void FileCommandsTest::chinesePath()
{
    QVERIFY(QDir(dir->path()).mkdir("测量数据"));
    const QString data = path("测量数据/电容电压.txt");
    const QString csv = path("测量数据/导出.csv");
    setPoints(store(), ChannelU1, {{0.5, 1.25}});
    run("menu_save", data);
    QCOMPARE(readFile(data), QByteArray("U1_DATA\r\n0.5 1.25\r\n"));
    run("menu_export", csv);
    QCOMPARE(readFile(csv), QByteArray("Time (s), Cap. Voltage (V),\r\n0.500000,1.250000\r\n"));
    store().clear();
    run("menu_open_data", data);
    QCOMPARE(pointsOf(graph(ChannelU1)), (Points{{0.5, 1.25}}));
}

void FileCommandsTest::defaultExtension_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("save, no extension") << "menu_save"
                                        << "run"
                                        << "run.txt";
    QTest::newRow("save, an extension of its own") << "menu_save"
                                                   << "run.dat"
                                                   << "run.dat";
    QTest::newRow("export, no extension") << "menu_export"
                                          << "table"
                                          << "table.csv";
    QTest::newRow("export, .txt kept") << "menu_export"
                                       << "table.txt"
                                       << "table.txt";
}

// A name typed without an extension gets the file type's, so the open
// dialog's filter shows the file again.
void FileCommandsTest::defaultExtension()
{
    QFETCH(QString, command);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    setPoints(store(), ChannelU1, {{0.5, 1.25}});
    run(command, path(typed));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{written});
    QVERIFY2(statusMessage(*window).endsWith(QDir::toNativeSeparators(path(written))),
             qPrintable(statusMessage(*window)));
}

void FileCommandsTest::savePicture_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("filter"); // the file type chosen in the dialog
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("pdf");
    QTest::newRow("PNG") << "plot.png"
                         << ""
                         << "plot.png" << false;
    QTest::newRow("no extension: PNG") << "plot"
                                       << ""
                                       << "plot.png" << false;
    QTest::newRow("no extension, PDF chosen") << "plot"
                                              << "PDF 文档 (*.pdf)"
                                              << "plot.pdf" << true;
    QTest::newRow("PDF by its name") << "plot.PDF"
                                     << ""
                                     << "plot.PDF" << true;
    QTest::newRow("replaces a file") << "old.png"
                                     << ""
                                     << "old.png" << false;
}

// File > save picture writes the plot as shown, at its size; the status bar
// names the file.
void FileCommandsTest::savePicture()
{
    QFETCH(QString, typed);
    QFETCH(QString, filter);
    QFETCH(QString, written);
    QFETCH(bool, pdf);
    setPoints(store(), ChannelU1, {{0, 100}, {1, 300}});
    plot()->xAxis->setRange(0, 1);
    plot()->replot();
    if (typed == "old.png")
        QVERIFY(writeFile(path("old.png"), "an older picture"));

    DialogAnswer answer(path(typed), filter);
    action("menu_save_picture")->trigger();
    QVERIFY(waitForFileWork(*window));
    QCOMPARE(answer.dialogs, 1);
    QCOMPARE(answer.caption, QStringLiteral("保存图片"));
    QCOMPARE(answer.filters, (QStringList{"PNG 图片 (*.png)", "PDF 文档 (*.pdf)"}));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{written});
    const QByteArray bytes = readFile(path(written));
    if (pdf) {
        QVERIFY(bytes.startsWith("%PDF"));
    } else {
        const QImage picture = QImage::fromData(bytes, "PNG");
        QCOMPARE(picture.size(), plot()->size());
        // The U1 curve is in it.
        const QPoint onCurve(int(plot()->xAxis->coordToPixel(0.5)),
                             int(plot()->yAxis->coordToPixel(200)));
        QCOMPARE(picture.pixelColor(onCurve), QColor(50, 153, 213));
    }
    QCOMPARE(takeMessages(*window), QStringList());
    QCOMPARE(statusMessage(*window), "已将图片保存到 " + QDir::toNativeSeparators(path(written)));
}

int runFileCommandsTest(int argc, char **argv)
{
    FileCommandsTest test;
    return QTest::qExec(&test, argc, argv);
}

void FileCommandsTest::cancelMidway_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cancelled");
    QTest::newRow("open") << "menu_open_data"
                          << "big.txt"
                          << "已取消打开 ";
    QTest::newRow("save") << "menu_save"
                          << "old.txt"
                          << "已取消保存，";
    QTest::newRow("export") << "menu_export"
                            << "old.csv"
                            << "已取消导出，";
}

// Cancel in the progress dialog while the work is held midway: an open
// merges nothing, a save or export leaves the old file and no other.
void FileCommandsTest::cancelMidway()
{
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(QString, cancelled);
    for (int c = 0; c < ChannelCount; ++c)
        setPoints(store(), c, ramp(300000)); // several progress steps for every command
    if (command == "menu_open_data")
        run("menu_save", path(name));
    else
        QVERIFY(writeFile(path(name), "old\r\n"));
    const QByteArray before = readFile(path(name));
    const qsizetype held = store().totalCount();

    FileWorkPause pause;
    QVERIFY(startHeld(command, path(name), pause));
    QPointer<QProgressDialog> progress;
    QTRY_VERIFY((progress = window->fileWork().progressDialog()) && progress->isVisible());
    QVERIFY2(progress->labelText().contains(name + "："), qPrintable(progress->labelText()));
    QVERIFY(!progress->findChild<QProgressBar *>()->isTextVisible()); // the share shown once
    QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
    pause.release();
    QVERIFY(waitForFileWork(*window));

    QVERIFY(!progress || !progress->isVisible());
    QCOMPARE(store().totalCount(), held);
    QCOMPARE(readFile(path(name)), before);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    QCOMPARE(takeMessages(*window), QStringList());
    QVERIFY2(statusMessage(*window).startsWith(cancelled), qPrintable(statusMessage(*window)));
}

void FileCommandsTest::duringSave_data()
{
    QTest::addColumn<bool>("clear");
    QTest::newRow("blocks arrive") << false;
    QTest::newRow("clear") << true;
}

// While a save runs the window goes on: blocks arrive and are drawn, or the
// data is cleared; the language switches; a second file command and Exit
// are refused with a message. The file holds exactly the points there were
// when the save began. U1 holds too many points to copy while the save
// reads them, so its new points wait; I's are few, so its new ones are drawn.
void FileCommandsTest::duringSave()
{
    QFETCH(bool, clear);
    const Points u1 = ramp(ChannelData::copyWhileSharedLimit + 1000);
    setPoints(store(), ChannelU1, u1);
    setPoints(store(), ChannelI, ramp(1000));
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    QVERIFY(writeDataFile(expected, store().views()));

    FileWorkPause pause;
    QVERIFY(startHeld("menu_save", path("run.txt"), pause));
    if (clear) {
        window->form()->btn_clear_data->click();
        QCOMPARE(store().totalCount(), 0);
    } else {
        const QVector<double> keys{10000, 10001}, values{1, 2};
        store().append(ChannelU1, keys, values);
        store().append(ChannelI, keys, values);
        plot()->replot();
        QCOMPARE(store().channel(ChannelU1).view().size(), u1.size()); // waits
        QCOMPARE(store().channel(ChannelI).view().size(), 1002);       // drawn
        QVERIFY(pixelsOf(ChannelU1, {9990, 10010}, {0, 3}) > 0);       // waiting, drawn too
    }
    QTRY_VERIFY(window->fileWork().progressDialog() &&
                window->fileWork().progressDialog()->isVisible());
    window->form()->actionLanguage->trigger();
    QTRY_VERIFY(window->fileWork().progressDialog()->labelText().startsWith("Saving run.txt: "));
    window->form()->actionLanguage->trigger();
    {
        DialogAnswer answer(path("other.txt"));
        action("menu_open_data")->trigger();
        window->close();
        QCOMPARE(answer.dialogs, 0);
    }
    QVERIFY(window->isVisible());
    const QStringList refused = takeMessages(*window);
    QCOMPARE(refused.size(), 2);
    QVERIFY2(refused[0].startsWith("另一项文件操作还在进行") &&
                 refused[1].startsWith("文件操作还在进行"),
             qPrintable(refused.join('|')));

    pause.release();
    QVERIFY(waitForFileWork(*window));
    QCOMPARE(readFile(path("run.txt")), expected.data());
    plot()->replot();
    QCOMPARE(store().channel(ChannelU1).view().size(), clear ? 0 : u1.size() + 2);
    QCOMPARE(takeMessages(*window), QStringList());
}

void FileCommandsTest::openMemoryBound_data()
{
    QTest::addColumn<QByteArray>("lastLine");
    QTest::newRow("plain file") << QByteArray();
    QTest::newRow("read line by line") << QByteArray("U5_DATA\r\n"); // ends reading
}

// Opening takes little more memory than its points: the graphs get vectors
// sized from the file once and take them over, and the memory guard counts
// them while the file is read, by either reader.
void FileCommandsTest::openMemoryBound()
{
#ifndef Q_OS_LINUX
    QSKIP("peak resident memory is read from /proc");
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("a sanitizer's shadow memory and quarantine grow with every allocation");
#endif
    QFETCH(QByteArray, lastLine);
    constexpr int n = 600000;
    {
        for (int c = 0; c < ChannelCount; ++c)
            setPoints(store(), c, ramp(n));
        run("menu_save", path("m.txt"));
        store().clear();
        QFile file(path("m.txt"));
        QVERIFY(file.open(QIODevice::Append) && file.write(lastLine) == lastLine.size());
    }
    const double pointKiB = ChannelCount * double(n) * sizeof(QCPGraphData) / 1024;
    // The plain reader takes its room at once, the other as it reads.
    const qint64 counted = qint64(pointKiB * 1024) / (lastLine.isEmpty() ? 1 : 2);
    FileWorkPause pause(
        [counted](FileJobControl &control) { return control.heldBytes() >= counted; });
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    QVERIFY(reset.open(QIODevice::WriteOnly) && reset.write("5") == 1); // peak := now
    reset.close();
    const qint64 before = residentKiB("VmRSS:");
    QVERIFY(startHeld("menu_open_data", path("m.txt"), pause));
    QVERIFY(window->liveRun().memoryUse().otherBytes >= counted);
    pause.release();
    QVERIFY(waitForFileWork(*window));
    QCOMPARE(store().totalCount(), ChannelCount * n);
    const qint64 growth = residentKiB("VmHWM:") - before;
    // Besides the points: the summary, two read buffers, the dialogs.
    QVERIFY2(growth <= 1.2 * pointKiB + 16 * 1024,
             qPrintable(QString("%1 KiB for %2 KiB of points").arg(growth).arg(pointKiB)));
}

void FileCommandsTest::openWhileBlocksArrive_data()
{
    QTest::addColumn<bool>("clear");
    QTest::newRow("blocks arrive") << false;
    QTest::newRow("clear, then blocks") << true;
}

// The file's points are merged with those held when the open began, which
// stay as they were meanwhile; blocks that arrive while it reads follow
// them, and a clear meanwhile leaves the file's points alone.
void FileCommandsTest::openWhileBlocksArrive()
{
    QFETCH(bool, clear);
    Points file;
    for (int i = 0; i < 1000; ++i)
        file.append({i * 0.005, -i}); // every other time also a held one's
    setPoints(store(), ChannelU1, file);
    run("menu_save", path("f.txt"));
    const Points held = ramp(1000);
    setPoints(store(), ChannelU1, held);

    FileWorkPause pause;
    QVERIFY(startHeld("menu_open_data", path("f.txt"), pause));
    if (clear)
        window->form()->btn_clear_data->click();
    const Points live{{0.005, 7}, {1, 8}};
    store().append(ChannelU1, {0.005, 1}, {7, 8});
    plot()->replot();
    QCOMPARE(store().channel(ChannelU1).view().size(), clear ? 0 : held.size());
    QVERIFY(pixelsOf(ChannelU1, {0.5, 1}, {7, 8.2}) > 0); // the live line, drawn while it waits
    pause.release();
    QVERIFY(waitForFileWork(*window));
    plot()->replot();
    QCOMPARE(pointsOf(graph(ChannelU1)),
             mergedByTime(mergedByTime(clear ? Points() : held, file), live));
    // The open leaves room for live points, which then merge without first
    // moving the whole channel to new memory.
    QVERIFY(store().channel(ChannelU1).capacity() > store().channel(ChannelU1).view().size());
}

#include "tst_filecommands.moc"
