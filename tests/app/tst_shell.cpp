// Start-up, window form, catalogues, language switch, About, web site, Exit,
// the window's log, and what the window shows of the run and its recordings.

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGlyphRun>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainterPath>
#include <QProcess>
#include <QRawFont>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <qcustomplot.h>

#include <optional>

#include "acqtest.h"
#include "acquisition/liverun.h"
#include "artsim.h"
#include "datafiles/journal.h"
#include "datafiles/recorder.h"
#include "datafiles/recordings.h"
#include "app/aboutdlg.h"
#include "app/language.h"
#include "app/logfile.h"
#include "app/shell.h"
#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"
#include "userfolders.h"
#include "mainwindow/statusbar.h"
#include "channelpoints.h"
#include "manualrun.h"
#include "windowtexts.h"

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Puts in force the language that start-up picks for a system locale, as
// main does, for the lifetime of the object.
struct SystemLanguage
{
    explicit SystemLanguage(const QLocale &locale)
    {
        QVERIFY(setInterfaceLanguage(languageForLocale(locale)));
    }
    ~SystemLanguage() { resetInterfaceLanguage(); }
};

// Widget texts as (object name, property) -> Chinese source, English text.
struct FormText
{
    const char *object;
    const char *property;
    const char *chinese;
    const char *english;
};

const FormText formTexts[] = {
    {"MainWindow", "windowTitle", "Korvel数据采集系统 2.1", "Korvel Data Acquisition System 2.1"},
    {"menu_open_data", "text", "打开", "Open"},
    {"menu_close_data", "text", "关闭", "Close"},
    {"menu_save", "text", "保存", "Save"},
    {"menu_export", "text", "导出", "Export"},
    {"menu_save_picture", "text", "保存图片", "Save picture"},
    {"menu_open_recordings", "text", "打开录制文件夹", "Open Recordings Folder"},
    {"menu_exit", "text", "退出", "Exit"},
    {"menu_cop_www_address", "text", "公司网址", "Website Address"},
    {"menu_about", "text", "关于", "About"},
    {"actionLanguage", "text", "Language", "中文语言"},
    {"groupBox", "title", "", ""},
    {"label", "text", "选择曲线", "Select curve"},
    {"groupBox_2", "title", "", ""},
    {"checkBox_uv1", "text", "电容电压", "Cap. U1"},
    {"label_2", "text", "", ""},
    {"label_3", "text", "", ""},
    {"checkBox_ui", "text", "电流", "Current"},
    {"label_4", "text", "", ""},
    {"checkBox_uv2", "text", "直流电压", "DC U2"},
    {"label_5", "text", "", ""},
    {"checkBox_temperature", "text", "温度", "Temp."},
    {"label_6", "text", "物理通道", "Channel"},
    {"edit_physical_channel", "toolTip", "任务总是使用四个固定输入 Dev1/ai0 到 Dev1/ai3",
     "The task always uses the four fixed inputs Dev1/ai0 to Dev1/ai3"},
    {"edit_physical_channel", "readOnly", "true", "true"}, // the task's inputs are fixed
    {"edit_sample", "toolTip", "1,10,100,1000", "1,10,100,1000"},
    {"label_7", "text", "采样频率", "Sample"},
    {"btn_start_collect", "text", "开始采集", "Start collect"},
    {"btn_stop_collect", "text", "停止采集", "Stop collect"},
    {"btn_show_all", "text", "全部显示", "Show all"},
    {"btn_clear_data", "text", "清空数据", "Clear"},
    {"btn_show_original", "text", "复原显示", "Restore view"},
    {"label_8", "text", "左键拖动，中键缩放", "Drag, wheel zoom"},
    {"label_9", "text", "最高温度", "Max °C"},
    {"label_10", "text", "最低温度", "Min °C"},
    {"btn_zoom_display", "toolTip", "缩放显示", "Zoom display"},
    {"menu_F", "title", "文件(&F)", "File(&F)"},
    {"menu_H", "title", "帮助(&H)", "Help(&H)"},
};

QObject *formObject(MainWindow &w, const char *name)
{
    if (w.objectName() == QLatin1String(name))
        return &w;
    return w.findChild<QObject *>(QLatin1String(name));
}

void checkFormTexts(MainWindow &w, bool english)
{
    for (const FormText &t : formTexts) {
        QObject *o = formObject(w, t.object);
        QVERIFY2(o, t.object);
        const QString expected = QString::fromUtf8(english ? t.english : t.chinese);
        QCOMPARE(o->property(t.property).toString(), expected);
    }
}

// Chinese characters, and the full-width punctuation that goes with them.
bool hasCjk(const QString &text)
{
    for (QChar c : text) {
        const ushort u = c.unicode();
        if ((u >= 0x3000 && u <= 0x303f) || (u >= 0x4e00 && u <= 0x9fff) ||
            (u >= 0xff00 && u <= 0xffef))
            return true;
    }
    return false;
}

// Asked after every catalogue, so it hears of each program text that none of
// them translated.
class UntranslatedTexts : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        const QString text = QString::fromUtf8(source);
        if (hasCjk(text))
            seen << QString::fromLatin1(context) + QLatin1String(": ") + text;
        return QString();
    }
    mutable QStringList seen;
};

// Every text that a widget, its children and its actions show, with where it
// shows; the language command is meant to read "中文语言".
QStringList shownTexts(QWidget *top)
{
    QStringList texts;
    QList<QObject *> objects{top};
    for (QObject *o : top->findChildren<QObject *>())
        objects << o;
    for (QObject *o : objects) {
        if (!qobject_cast<QWidget *>(o) && !qobject_cast<QAction *>(o))
            continue;
        for (const char *property : {"text", "title", "windowTitle", "toolTip", "placeholderText",
                                     "statusTip", "iconText", "informativeText"}) {
            const QVariant value = o->property(property);
            if (value.typeId() == QMetaType::QString && !value.toString().isEmpty())
                texts << o->objectName() + QLatin1Char('.') + QLatin1String(property) +
                             QLatin1String(" = ") + value.toString();
        }
        if (auto *dialog = qobject_cast<QFileDialog *>(o))
            texts << QLatin1String("filters = ") + dialog->nameFilters().join(QLatin1String(";;"));
        if (auto *plot = qobject_cast<QCustomPlot *>(o))
            texts << QLatin1String("axes = ") + plot->xAxis->label() + QLatin1String(" | ") +
                         plot->yAxis->label();
    }
    return texts;
}

QStringList untranslated(QWidget *top)
{
    QStringList found;
    for (const QString &text : shownTexts(top)) {
        if (hasCjk(text) && !text.endsWith(QStringLiteral(" = 中文语言")))
            found << text;
    }
    return found;
}

// Runs `look` on the modal dialog that `command` opens, then closes it.
template <class Look> void onNextDialog(QAction *command, Look look)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        seen = true;
        look(dialog);
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    command->trigger();
    QVERIFY2(seen, qPrintable(command->objectName()));
}

// Moves the pointer onto the middle of the plot area, from outside the plot,
// so that the move is seen even where the pointer was before.
void hoverPlot(MainWindow &w)
{
    QCustomPlot *plot = w.form()->customPlot_VIT;
    QTest::mouseMove(w.windowHandle(), QPoint(1, 1));
    QTest::mouseMove(w.windowHandle(), plot->mapTo(&w, plot->axisRect()->rect().center()));
}

// How much wider (or, for lines of a label, higher) a text is than the room
// its widget gives it; 0 if it fits. Measured as the widgets size themselves.
int overflow(QWidget *widget)
{
    const QFontMetrics metrics = widget->fontMetrics();
    if (auto *box = qobject_cast<QCheckBox *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        return qMax(0, metrics.size(Qt::TextShowMnemonic, box->text()).width() - room.width());
    }
    if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        int room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        if (!button->icon().isNull())
            room -= button->iconSize().width() + 4;
        return qMax(0, metrics.size(Qt::TextShowMnemonic, button->text()).width() - room);
    }
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        const QSize needed = metrics.size(0, label->text());
        const QRect room = label->contentsRect();
        return qMax(0, qMax(needed.width() - room.width(), needed.height() - room.height()));
    }
    return 0;
}

QStringList cutTexts(QWidget *top)
{
    QStringList cut;
    for (QWidget *widget : top->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(top) || widget->property("text").toString().isEmpty())
            continue;
        if (auto *label = qobject_cast<QLabel *>(widget);
            label && (label->wordWrap() || label->textFormat() == Qt::RichText))
            continue;
        if (const int more = overflow(widget))
            cut << QStringLiteral("%1 \"%2\": %3 px too wide")
                       .arg(widget->objectName(), widget->property("text").toString())
                       .arg(more);
    }
    return cut;
}

// The texts that show over the plot only at times: a run (on the stand-in's
// manual clock, so no block comes) whose view the user moved away from, with
// the pointer on the plot, shows the values under it and the notice that the
// view no longer follows. The temperature's value is the widest there is.
void showPlotTexts(MainWindow &w, std::unique_ptr<ManualRun> &run)
{
    mergePoints(w.channelStore(), {{0.05, 123.456}}, {2});
    run = std::make_unique<ManualRun>(w);
    QCustomPlot *plot = w.form()->customPlot_VIT;
    plot->xAxis->moveRange(0.01);
    plot->replot();
    hoverPlot(w);
    QTRY_VERIFY(w.findChild<QLabel *>(QStringLiteral("plotReadout"))->isVisible());
    QVERIFY(w.findChild<QLabel *>(QStringLiteral("followNotice"))->isVisible());
}

// The "system" column: a Chinese system and an English one.
void addSystemLocaleRows(const char *chineseRow, const char *englishRow,
                         const QLocale &english = QLocale(QLocale::English, QLocale::UnitedStates))
{
    QTest::addColumn<QLocale>("system");
    QTest::newRow(chineseRow) << QLocale(QLocale::Chinese, QLocale::China);
    QTest::newRow(englishRow) << english;
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

public:
    // Before the application object; the program started as a child process
    // inherits the test folders too.
    static void initMain() { keepOutOfUserFolders(); }

public slots:
    void openUrl(const QUrl &url) { openedUrls.append(url); }

private slots:
    void startupState();
    void onlyTheRedrawTimerReplots();
    void statusBarFollowsTheRedraw_data();
    void statusBarFollowsTheRedraw();
    void recordingProblemsShown_data();
    void recordingProblemsShown();
    void openRecordingsFolder();
    void recentRecordings();
    void resizeRule_data();
    void resizeRule();
    void formGeometry();
    void catalogueMessages_data();
    void catalogueMessages();
    void formTextsPerSystemLanguage_data();
    void formTextsPerSystemLanguage();
    void languageSwitch_data();
    void languageSwitch();
    void minimumSizeKeepsEveryControl();
    void menus();
    void aboutDialog_data();
    void aboutDialog();
    void aboutCommandBuildsFreshDialogs();
    void websiteFollowsSystemLocale_data();
    void websiteFollowsSystemLocale();
    void exitClosesWindow();
    void dataLogEndsWithLineEnd();
    void logInUnicodeFolder();
    void programRunsFromUnicodeFolder();
    void englishInterfaceComplete_data();
    void englishInterfaceComplete();
    void textsFitTheirWidgets_data();
    void textsFitTheirWidgets();
    void qtDialogsSpeakTheLanguage_data();
    void qtDialogsSpeakTheLanguage();
    void degreeSignDrawnInChinese();

private:
    QList<QUrl> openedUrls;
};

void TestShell::statusBarFollowsTheRedraw_data()
{
    QTest::addColumn<bool>("zoomed"); // the user moved the time axis before Stop
    QTest::newRow("following") << false;
    QTest::newRow("zoomed") << true;
}

// The figures follow the 600 ms redraw, not each block. Blocks on their way
// at Stop reach the graphs, the figures and the plot; the view stays as the
// user left it.
void TestShell::statusBarFollowsTheRedraw()
{
    QFETCH(bool, zoomed);
    acqtest::resetStandIn();
    MainWindow w;
    QCustomPlot *plot = w.form()->customPlot_VIT;
    QSignalSpy updates(&w, &MainWindow::updateData);
    QElapsedTimer sinceStart; // started before the redraw timer, so never behind it
    sinceStart.start();
    w.form()->btn_start_collect->click();
    w.liveRun().recorder().waitUntilWritten(); // its name is shown as it starts
    const QString atStart = recordingStatus(w);
    QVERIFY(atStart.contains(QFileInfo(w.liveRun().recorder().currentFile()).fileName()));
    QVERIFY2(atStart.startsWith(QStringLiteral("正在采集")), qPrintable(atStart));
    QVERIFY(atStart.contains(QStringLiteral("每通道 0 个点")));
    QCOMPARE(ArtSim_Pump(300), 3);
    QTRY_COMPARE(updates.count(), 3);
    // Only while the first redraw cannot have come yet: a loaded machine
    // may take longer for the blocks. Coarse timers may fire up to 5 %
    // early; no events run between the wait and the check.
    if (sinceStart.elapsed() < 550)
        QCOMPARE(recordingStatus(w), atStart);

    const QString points = QStringLiteral("每通道 %1 个点").arg(QLocale().toString(30));
    const QString lastKey =
        QLocale().toString(w.channelGraph(0)->data()->at(29)->key, 'f', 3) + " s";
    QTRY_VERIFY(recordingStatus(w).contains(points));
    QVERIFY2(recordingStatus(w).contains(lastKey), qPrintable(recordingStatus(w)));
    QVERIFY(recordingStatus(w).startsWith(QStringLiteral("正在采集")));

    if (zoomed)
        plot->xAxis->setRange(0.01, 0.05); // as the wheel does
    const QCPRange before = plot->xAxis->range();
    QCOMPARE(ArtSim_Pump(300), 3); // queued for the GUI thread, not yet processed
    w.form()->btn_stop_collect->click();
    QSignalSpy replots(plot, &QCustomPlot::afterReplot);
    QVERIFY2(recordingStatus(w).startsWith(QStringLiteral("已停止")),
             qPrintable(recordingStatus(w)));
    QTRY_COMPARE(w.channelGraph(0)->dataCount(), 60);
    QTRY_VERIFY(replots.count() > 0);
    const double last = w.channelGraph(0)->data()->at(59)->key;
    const QString stopped = recordingStatus(w);
    QVERIFY2(stopped.contains(QStringLiteral("每通道 %1 个点").arg(QLocale().toString(60))) &&
                 stopped.contains(QLocale().toString(last, 'f', 3) + " s"),
             qPrintable(stopped));
    if (zoomed)
        QCOMPARE(plot->xAxis->range(), before);
    else
        QCOMPARE(plot->xAxis->range().upper, last);
}

void TestShell::recordingProblemsShown_data()
{
    QTest::addColumn<int>("problem");
    QTest::addColumn<QString>("message"); // %1 the file, %2 the system's reason
    QTest::newRow("folder unusable while acquiring")
        << 0 << QStringLiteral("录制 %1 已停止写入：%2\n采集继续进行，内存中的数据不受影响。");
    QTest::newRow("data file refused at Stop")
        << 1 << QStringLiteral("录制 %1 已停止写入：%2\n内存中的数据不受影响。");
    QTest::newRow("recovered after a crash")
        << 2 << QStringLiteral("上次运行没有正常结束，它的录制已恢复到：\n%1");
    QTest::newRow("recovered, refused at Exit")
        << 3 << QStringLiteral("上次退出时磁盘拒绝写入录制的数据文件（%2）。录制现已恢复到：\n%1");
}

// What the recording reports is told once, in a message and the status bar,
// with the file and the system's reason; a recording that stopped being
// written says so in the figures while acquisition goes on.
void TestShell::recordingProblemsShown()
{
    QFETCH(int, problem);
    QFETCH(QString, message);
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const auto restoreDataHome = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
    if (problem == 0) // a file: the recordings folder cannot be created
        qputenv("XDG_DATA_HOME", QFile::encodeName(QCoreApplication::applicationFilePath()));
    acqtest::resetStandIn();
    MainWindow w;
    Recorder &recorder = w.liveRun().recorder();
    QSignalSpy failed(&recorder, &Recorder::recordingFailed);
    std::optional<ManualRun> running;
    const QString file = QDir::temp().filePath(QStringLiteral("KorvelDAQ-20261201-080000.txt"));
    if (problem == 0)
        running.emplace(w);
    else if (problem == 1)
        emit recorder.recordingFailed(file, QStringLiteral("disk full"));
    else
        emit recorder.recordingRecovered(file, 40, problem == 3, QStringLiteral("disk full"));
    QTRY_VERIFY(problem > 1 || failed.size() == 1);
    const QString shown = QDir::toNativeSeparators(problem == 0 ? failed[0][0].toString() : file);
    const QString reason = problem == 0 ? failed[0][1].toString() : QStringLiteral("disk full");
    QCOMPARE(takeMessages(w), QStringList{message.replace("%1", shown).replace("%2", reason)});
    QVERIFY2(statusMessage(w).contains(problem < 2 ? reason : shown), qPrintable(statusMessage(w)));
    if (problem != 0)
        return;
    QVERIFY(!w.form()->btn_start_collect->isEnabled());
    QTRY_VERIFY(recordingStatus(w).contains(QStringLiteral("已停止写入")));
    running.reset();
    QCOMPARE(takeMessages(w), QStringList()); // told once
}

// File > open recordings folder hands the folder to the desktop, created
// if nothing was recorded yet.
void TestShell::openRecordingsFolder()
{
    QDir(recordingsFolder()).removeRecursively();
    openedUrls.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    {
        MainWindow w;
        w.form()->menu_open_recordings->trigger();
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(recordingsFolder())});
    QVERIFY(QFileInfo(recordingsFolder()).isDir());
}

// File > Recent recordings lists the finished ones, newest first, a
// recovered one among them; the recovery message and the list both open it.
void TestShell::recentRecordings()
{
    QDir(recordingsFolder()).removeRecursively();
    QVERIFY(QDir().mkpath(recordingsFolder()));
    QVector<double> keys; // 40 points, every value its time
    for (int k = 1; k <= 40; ++k)
        keys << k / 4000.0;
    QByteArray crashed = journalHeader();
    appendJournalRecords(crashed, {keys, keys, keys, keys, keys});
    QFile journal(recordingsFolder() + "/KorvelDAQ-20200101-000000.journal");
    QVERIFY(journal.open(QIODevice::WriteOnly) && journal.write(crashed) == crashed.size() &&
            journal.flush());
    acqtest::resetStandIn();
    MainWindow w;
    QMenu *recent = w.form()->menu_recent;
    const auto listed = [&] {
        emit recent->aboutToShow();
        QStringList paths;
        for (QAction *a : recent->actions())
            paths << (a->isEnabled() ? QFileInfo(a->toolTip()).fileName() : a->text());
        return paths;
    };
    const QStringList recovered{"KorvelDAQ-20200101-000000.txt"};
    QTRY_COMPARE(listed(), recovered);

    // The recovery message opens it.
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = w.findChild<QMessageBox *>())); // the file may be there before the report
    const auto buttons = box->findChildren<QPushButton *>();
    const auto open = std::find_if(buttons.begin(), buttons.end(),
                                   [](QPushButton *b) { return b->text() == "打开"; });
    QVERIFY(open != buttons.end());
    (*open)->click();
    QTRY_COMPARE(w.channelStore().count(ChannelU2), 40);

    Recorder &recorder = w.liveRun().recorder();
    QStringList runs;
    for (int run = 0; run < 2; ++run) {
        w.form()->btn_clear_data->click();
        w.liveRun().setRunInfo({"", run ? "C-17 & <b>" : "", {}, {}, {}, ""});
        w.form()->btn_start_collect->click();
        QVERIFY(ArtSim_Pump(300) > 0);
        QCoreApplication::processEvents();
        w.form()->btn_stop_collect->click();
        recorder.waitUntilWritten();
        runs.prepend(QFileInfo(recorder.currentFile()).fileName());
    }
    QCOMPARE(listed(), runs + recovered);
    const QList<QAction *> items = recent->actions();
    const QString lastTime = QLocale().toString(w.channelStore().lastKey().value_or(-1), 'f', 1);
    QVERIFY2(items[0]->text().contains(lastTime + " s") &&
                 items[0]->text().endsWith("    C-17 && <b>"),
             qPrintable(items[0]->text()));
    QVERIFY(!items[1]->text().contains("C-17")); // the sample of its own run

    // Choosing one opens it like File > Open.
    w.form()->btn_clear_data->click();
    items[2]->trigger();
    QTRY_COMPARE(w.channelStore().count(ChannelU1), 40);
    QDir(recordingsFolder()).removeRecursively();
    QCOMPARE(listed(), QStringList{"（无）"});
}

void TestShell::startupState()
{
    MainWindow w;
    Ui_MainWindow *ui = w.form();
    QCOMPARE(ui->edit_physical_channel->text(), QStringLiteral("Dev1/ai0:3"));
    QCOMPARE(ui->edit_sample->text(), QStringLiteral("100"));
    QCOMPARE(ui->edit_mintemp->text(), QStringLiteral("400"));
    QCOMPARE(ui->edit_maxtemp->text(), QStringLiteral("3600"));
    for (QCheckBox *box :
         {ui->checkBox_uv1, ui->checkBox_ui, ui->checkBox_temperature, ui->checkBox_uv2}) {
        QVERIFY(box->isChecked());
        QVERIFY(!box->isTristate());
    }
    QVERIFY(ui->btn_start_collect->isEnabled());
    QVERIFY(ui->statusbar->currentMessage().isEmpty());
    QVERIFY(recordingStatus(w).isEmpty());
    QCOMPARE(ui->edit_sample->toolTipDuration(), -1); // Qt's default: readable

    // Four empty graphs, in the order U1, I, T, U2.
    QCustomPlot *plot = ui->customPlot_VIT;
    QCOMPARE(plot->graphCount(), 4);
    for (int c = 0; c < 4; ++c) {
        QCOMPARE(plot->graph(c), w.channelGraph(c));
        QCOMPARE(plot->graph(c)->dataCount(), 0);
    }

    // Swatch icons: 300 x 88 scaled to fit 50 x 40 keeps the proportion: 50 wide.
    for (QLabel *label : {ui->label_2, ui->label_3, ui->label_4, ui->label_5}) {
        const QPixmap pm = label->pixmap();
        QCOMPARE(pm.size(), QSize(300, 88).scaled(50, 40, Qt::KeepAspectRatio));
        QCOMPARE(pm.width(), 50);
    }
    // Each swatch is drawn in its graph's colour.
    const QColor colours[4] = {{50, 153, 213}, {102, 205, 170}, {255, 153, 51}, {153, 102, 255}};
    const char *icons[4] = {":/img/u1-01.png", ":/img/I-01.png", ":/img/t-01.png",
                            ":/img/u2-01.png"};
    for (int c = 0; c < 4; ++c) {
        const QImage img(QString::fromLatin1(icons[c]));
        QCOMPARE(img.size(), QSize(300, 88));
        QVERIFY(img.hasAlphaChannel());
        QCOMPARE(img.pixelColor(0, 0).alpha(), 0);
        bool found = false;
        for (int y = 0; y < img.height() && !found; ++y)
            for (int x = 0; x < img.width() && !found; ++x)
                found = img.pixelColor(x, y) == colours[c];
        QVERIFY2(found, icons[c]);
    }
    const QImage zoom(QStringLiteral(":/img/Zoom_In.png"));
    QCOMPARE(zoom.size(), QSize(32, 32));
    QVERIFY(zoom.hasAlphaChannel());

    QCOMPARE(w.size(), QSize(917, 616));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE(plot->size(), QSize(727, 536));
}

void TestShell::onlyTheRedrawTimerReplots()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy replots(w.form()->customPlot_VIT, &QCustomPlot::afterReplot);
    const ManualRun running(w); // no block comes to replot
    QCoreApplication::processEvents();
    replots.clear();

    // The redraw beat's tick only queues the replot; it happens in the loop.
    int replotsAtTick = -1;
    connect(&w.acquisitionState(), &AcquisitionState::redrawDue, &w,
            [&] { replotsAtTick = int(replots.size()); });
    QTRY_COMPARE(replotsAtTick, 0);
    QTRY_COMPARE(replots.size(), 1);
}

void TestShell::resizeRule_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QSize>("plot");
    QTest::newRow("larger") << QSize(1000, 700) << QSize(810, 620);
    QTest::newRow("start size") << QSize(917, 616) << QSize(727, 536);
    QTest::newRow("exactly the panel") << QSize(190, 80) << QSize(0, 0);
    QTest::newRow("narrower than the panel") << QSize(120, 300) << QSize(0, 220);
    QTest::newRow("lower than the margins") << QSize(400, 50) << QSize(210, 0);
    QTest::newRow("tiny") << QSize(1, 1) << QSize(0, 0);
}

void TestShell::resizeRule()
{
    QFETCH(QSize, window);
    QFETCH(QSize, plot);
    MainWindow w;
    w.setMinimumSize(1, 1);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(window);
    QTRY_COMPARE(w.size(), window);
    QTRY_COMPARE(w.form()->customPlot_VIT->size(), plot);
    // The panel never moves.
    QCOMPARE(w.form()->groupBox->geometry(), QRect(10, 30, 161, 521));
}

void TestShell::formGeometry()
{
    MainWindow w;
    struct Place
    {
        const char *name;
        QRect rect;
    };
    const Place places[] = {
        {"groupBox", {10, 30, 161, 521}},
        {"label", {12, 10, 111, 20}},
        {"groupBox_2", {10, 30, 141, 121}},
        {"checkBox_uv1", {10, 10, 71, 16}},
        {"label_2", {80, 10, 61, 20}},
        {"label_3", {80, 40, 61, 20}},
        {"checkBox_ui", {10, 40, 71, 16}},
        {"label_4", {80, 70, 61, 20}},
        {"checkBox_uv2", {10, 100, 71, 16}},
        {"label_5", {80, 100, 61, 20}},
        {"checkBox_temperature", {10, 70, 71, 16}},
        {"label_6", {10, 167, 51, 16}},
        {"edit_physical_channel", {71, 164, 81, 21}},
        {"edit_sample", {71, 194, 81, 21}},
        {"label_7", {10, 196, 51, 16}},
        {"btn_start_collect", {20, 280, 121, 31}},
        {"btn_stop_collect", {20, 320, 121, 31}},
        {"btn_show_all", {20, 400, 121, 31}},
        {"btn_clear_data", {20, 360, 121, 31}},
        {"btn_show_original", {20, 440, 121, 31}},
        {"label_8", {30, 480, 111, 16}},
        {"label_9", {10, 226, 51, 16}},
        {"edit_maxtemp", {71, 224, 81, 21}},
        {"label_10", {10, 251, 51, 16}},
        {"edit_mintemp", {71, 251, 81, 21}},
    };
    QWidget *previous = nullptr;
    for (const Place &p : places) {
        auto *widget = w.findChild<QWidget *>(QLatin1String(p.name));
        QVERIFY2(widget, p.name);
        QCOMPARE(widget->geometry(), p.rect);
        previous = widget;
    }
    Q_UNUSED(previous);

    // The zoom button sits under the hint label, inside the panel.
    QPushButton *zoom = w.form()->btn_zoom_display;
    QCOMPARE(zoom->parentWidget(), w.form()->groupBox);
    QVERIFY(zoom->geometry().top() >= w.form()->label_8->geometry().bottom());
    QVERIFY(zoom->geometry().bottom() < 521);
    QVERIFY(zoom->isCheckable()); // shows whether zoom mode is on
    QVERIFY(!zoom->icon().isNull());
    QVERIFY(!w.form()->btn_show_original->isCheckable());
    QCOMPARE(w.form()->menubar->geometry().width(), 917);

    // Focus follows creation order: check boxes U1, I, U2, T.
    QList<QWidget *> chain;
    QWidget *start = w.form()->checkBox_uv1;
    QWidget *next = start;
    do {
        chain.append(next);
        next = next->nextInFocusChain();
    } while (next != start && chain.size() < 200);
    auto pos = [&](QWidget *wd) { return chain.indexOf(wd); };
    Ui_MainWindow *ui = w.form();
    QVERIFY(pos(ui->checkBox_uv1) < pos(ui->checkBox_ui));
    QVERIFY(pos(ui->checkBox_ui) < pos(ui->checkBox_uv2));
    QVERIFY(pos(ui->checkBox_uv2) < pos(ui->checkBox_temperature));
    QVERIFY(pos(ui->btn_show_all) < pos(ui->btn_clear_data));
    QVERIFY(pos(ui->btn_clear_data) < pos(ui->btn_show_original));
    QVERIFY(pos(ui->btn_show_original) < pos(ui->edit_maxtemp));
}

void TestShell::catalogueMessages_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("english");
    const char *rows[][3] = {
        {"AboutDlg", "关于...", "About ..."},
        {"MainWindow", "时间(s)", "Time(s)"},
        {"MainWindow", "保存Korvel文本数据", "save Korvel data file"},
        {"MainWindow", "文本数据文件 (*.txt)", "data file (*.txt)"},
        {"MainWindow", "打开Korvel数据文件", "open Korvel data file"},
        {"MainWindow", "数据文件(*.txt)", "data file (*.txt)"},
        {"MainWindow", "导出Korvel数据", "export Korvel data"},
        {"MainWindow", "数据文件 (*.csv)", "export file (*.csv)"},
        {"MainWindow", "电压(V)         电流(A)          温度(℃)/10",
         "Voltage(V)         Current(A)          Temperature(°C)/10"},
        // Texts that no catalogue covers read the same in both languages.
        {"MainWindow", "1000", "1000"},
        {"MainWindow", "3600", "3600"},
        {"MainWindow", "400", "400"},
        // Status bar, messages and hints.
        {"MainWindow", "正在采集  %1 s  %2", "Recording  %1 s  %2"},
        {"MainWindow", "已停止  %1 s  %2", "Stopped  %1 s  %2"},
        {"MainWindow", "每通道 %1 个点", "%1 points per channel"},
        {"MainWindow", "U1 %1、I %2、T %3、U2 %4 个点", "U1 %1, I %2, T %3, U2 %4 points"},
        {"MainWindow", "无法开始采集：%1", "Could not start acquisition: %1"},
        {"MainWindow", "采集已停止：%1\n已记录的数据仍保留。",
         "Acquisition stopped: %1\nThe data recorded so far is kept."},
        {"MainWindow", "请输入一个数字（例如 %1）。仍使用 %2。",
         "Enter a number (for example %1). %2 stays in force."},
        {"MainWindow", "最低温度必须低于最高温度 %1。仍使用 %2。",
         "The minimum temperature must be below the maximum, %1. %2 stays in force."},
        {"MainWindow", "最高温度必须高于最低温度 %1。仍使用 %2。",
         "The maximum temperature must be above the minimum, %1. %2 stays in force."},
        {"MainWindow", "采样频率只能是 1、10、100 或 1000。仍使用 %1。",
         "Sample must be 1, 10, 100 or 1000. %1 stays in force."},
        {"MainWindow", "无法保存 %1：%2", "Could not save %1: %2"},
        {"MainWindow", "已保存 %1 到 %2", "Saved %1 to %2"},
        {"MainWindow", "无法导出 %1：%2", "Could not export %1: %2"},
        {"MainWindow", "已导出 %1 到 %2", "Exported %1 to %2"},
        {"MainWindow", "无法打开 %1：%2", "Could not open %1: %2"},
        {"MainWindow", "已从 %2 读取 %1", "Read %1 from %2"},
        {"MainWindow", "%1 第 %2 行：%3。\n%4，此前读取的点已保留。",
         "%1, line %2: %3.\n%4; the points read before it were kept."},
        {"MainWindow", "这一行不是段名，读取到此为止",
         "this line is not a section name; reading stopped there"},
        {"MainWindow", "第一个段名之前有数据行，读取到此为止",
         "a line comes before the first section name; reading stopped there"},
        {"MainWindow", "读取出错（%1）", "read error (%1)"},
        // The memory guard.
        {"MainWindow", "内存可用%1", "memory for %1"},
        {"MainWindow", "不到 1 分钟", "less than a minute"},
        {"MainWindow", "约 %1 分钟", "about %1 min"},
        {"MainWindow", "约 %1 小时 %2 分钟", "about %1 h %2 min"},
        {"MainWindow", "内存即将用完：按当前速度，%1后采集将自动停止。\n已记录的数据会保留。",
         "Memory is running low: at the current rate, acquisition stops by itself in "
         "%1.\nThe data recorded so far will be kept."},
        {"MainWindow",
         "内存已达上限（%1 MB），采集已停止。\n已记录的数据仍保留，可以保存；再次开始采集前请先"
         "保存并清空数据。",
         "The memory limit (%1 MB) is reached; acquisition has stopped.\nThe data recorded so far "
         "is kept and can be saved; save and clear it before starting again."},
    };
    for (const auto &r : rows)
        QTest::newRow(r[1]) << QString::fromUtf8(r[0]) << QString::fromUtf8(r[1])
                            << QString::fromUtf8(r[2]);
    // And the form's texts, from the table the form is checked against.
    for (const FormText &t : formTexts) {
        if (*t.chinese && qstrcmp(t.property, "readOnly") != 0)
            QTest::newRow(t.chinese) << QStringLiteral("MainWindow") << QString::fromUtf8(t.chinese)
                                     << QString::fromUtf8(t.english);
    }
}

void TestShell::catalogueMessages()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, english);
    const QByteArray ctx = context.toUtf8();
    const QByteArray src = source.toUtf8();

    QTranslator en;
    QVERIFY(en.load(QStringLiteral(":/res/KorvelDAQ_en.qm")));
    QCOMPARE(en.language(), QStringLiteral("en_GB"));
    QTranslator zh;
    QVERIFY(zh.load(QStringLiteral(":/res/KorvelDAQ_zh_CN.qm")));
    QCOMPARE(zh.language(), QStringLiteral("zh_CN"));
    QVERIFY(zh.isEmpty());

    QCOMPARE(QCoreApplication::translate(ctx, src), source);
    QCoreApplication::installTranslator(&zh);
    QCOMPARE(QCoreApplication::translate(ctx, src), source);
    QCoreApplication::removeTranslator(&zh);

    QCoreApplication::installTranslator(&en);
    QCOMPARE(QCoreApplication::translate(ctx, src), english);
    // The empty Chinese catalogue on top passes every lookup on.
    QCoreApplication::installTranslator(&zh);
    QCOMPARE(QCoreApplication::translate(ctx, src), english);
    QCoreApplication::removeTranslator(&zh);
    QCoreApplication::removeTranslator(&en);
}

void TestShell::formTextsPerSystemLanguage_data()
{
    QTest::addColumn<QLocale>("system");
    QTest::addColumn<bool>("english");
    QTest::newRow("Simplified Chinese, China")
        << QLocale(QLocale::Chinese, QLocale::China) << false;
    QTest::newRow("Traditional Chinese, Taiwan")
        << QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan) << false;
    QTest::newRow("English, US") << QLocale(QLocale::English, QLocale::UnitedStates) << true;
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << true;
    QTest::newRow("C locale") << QLocale::c() << true;
}

void TestShell::formTextsPerSystemLanguage()
{
    QFETCH(QLocale, system);
    QFETCH(bool, english);
    QCOMPARE(languageCatalogue(languageForLocale(system)),
             english ? QStringLiteral(":/res/KorvelDAQ_en.qm")
                     : QStringLiteral(":/res/KorvelDAQ_zh_CN.qm"));
    SystemLanguage language(system);
    MainWindow w;
    checkFormTexts(w, english);
    // The form's field values are replaced at start-up.
    QCOMPARE(w.form()->edit_sample->text(), QStringLiteral("100"));
}

void TestShell::languageSwitch_data()
{
    addSystemLocaleRows("Chinese system", "English system",
                        QLocale(QLocale::English, QLocale::UnitedKingdom));
}

// Each switch turns to the other language and back, and keeps every value.
void TestShell::languageSwitch()
{
    QFETCH(QLocale, system);
    const bool chineseSystem = system.language() == QLocale::Chinese;
    SystemLanguage language(system);
    MainWindow w;
    Ui_MainWindow *ui = w.form();
    const QString dataLog = logPathBesideExecutable(QStringLiteral("data.txt"));
    const char *values[][2] = {{"edit_sample", "10"},
                               {"edit_maxtemp", "1234"},
                               {"edit_mintemp", "5"},
                               {"edit_physical_channel", "Dev1/ai7"}};
    for (const auto &v : values)
        enterText(w.findChild<QLineEdit *>(QLatin1String(v[0])), QString::fromLatin1(v[1]));
    enterText(ui->edit_maxtemp, QStringLiteral("abc")); // refused, marked
    const QString refusedTip = ui->edit_maxtemp->toolTip();
    mergePoints(w.channelStore(), {{1.5, 2}}, {0});
    const qint64 logSize = QFileInfo(dataLog).size();

    for (bool english : {chineseSystem, !chineseSystem}) {
        ui->actionLanguage->trigger();
        checkFormTexts(w, english);
        QCOMPARE(ui->edit_sample->text(), QStringLiteral("10"));
        QCOMPARE(ui->edit_maxtemp->text(), QStringLiteral("abc"));
        QCOMPARE(ui->edit_mintemp->text(), QStringLiteral("5"));
        QCOMPARE(ui->edit_physical_channel->text(), QStringLiteral("Dev1/ai7"));
        QCOMPARE(ui->customPlot_VIT->xAxis->label(), english ? "Time(s)" : "时间(s)");
        // The window's own texts follow too.
        const QString status = recordingStatus(w);
        QVERIFY2(status.startsWith(english ? QStringLiteral("Stopped") : QStringLiteral("已停止")),
                 qPrintable(status));
        QCOMPARE(ui->edit_maxtemp->toolTip() == refusedTip, english != chineseSystem);
        QVERIFY(!ui->edit_maxtemp->toolTip().isEmpty());
    }
    // No value changed, so no temperature line was written.
    QCOMPARE(QFileInfo(dataLog).size(), logSize);
}

// Below its minimum size the window would cut the panel off.
void TestShell::minimumSizeKeepsEveryControl()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(400, 300);
    QTRY_COMPARE(w.size(), w.minimumSize().expandedTo(QSize(400, 300)));
    QCoreApplication::processEvents();
    QWidget *central = w.form()->centralwidget;
    const QRect shown = central->geometry(); // in the window, between menu and status bar
    QVERIFY(shown.bottom() < w.form()->statusbar->geometry().top());
    QList<QWidget *> controls = w.form()->groupBox->findChildren<QWidget *>();
    controls << w.form()->groupBox;
    for (QWidget *control : controls) {
        if (!control->isVisibleTo(&w))
            continue;
        const QRect placed(control->mapTo(&w, QPoint(0, 0)), control->size());
        QVERIFY2(shown.contains(placed), qPrintable(control->objectName()));
    }
    // And the plot keeps some room.
    QVERIFY(w.form()->customPlot_VIT->width() >= 200);
}

void TestShell::menus()
{
    MainWindow w;
    Ui_MainWindow *ui = w.form();
    const QList<QAction *> bar = ui->menubar->actions();
    QCOMPARE(bar.size(), 4);
    QCOMPARE(bar.at(0), ui->menu_F->menuAction());
    QCOMPARE(bar.at(1), ui->menu_H->menuAction());
    QCOMPARE(bar.at(2), ui->menu_M->menuAction());
    QCOMPARE(bar.at(3), ui->actionLanguage);
    const QList<QAction *> measure = ui->menu_M->actions();
    QCOMPARE(measure.size(), 11);
    QCOMPARE(measure.mid(0, 7),
             (QList<QAction *>{ui->menu_cursors, ui->menu_copy_measurements,
                               ui->menu_zoom_to_cursors, ui->menu_save_range, ui->menu_export_range,
                               ui->menu_add_marker, ui->menu_marker_list}));
    QVERIFY(measure.at(7)->isSeparator());
    QCOMPARE(measure.mid(8),
             (QList<QAction *>{ui->menu_cycles, ui->menu_limits, ui->menu_run_info}));
    QCOMPARE(ui->menu_add_marker->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
    QCOMPARE(ui->menu_cursors->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    QCOMPARE(QKeySequence::mnemonic(ui->menu_M->title()), QKeySequence(Qt::ALT | Qt::Key_M));

    const QList<QAction *> file = ui->menu_F->actions();
    QCOMPARE(file, (QList<QAction *>{ui->menu_open_data, ui->menu_close_data, ui->menu_save,
                                     ui->menu_export, ui->menu_save_picture,
                                     ui->menu_recent->menuAction(), ui->menu_open_recordings,
                                     ui->menu_exit}));
    QCOMPARE(ui->menu_H->actions(), (QList<QAction *>{ui->menu_cop_www_address, ui->menu_about}));
    for (QAction *a : file + ui->menu_H->actions() + QList<QAction *>{ui->actionLanguage}) {
        QVERIFY(a->shortcut().isEmpty());
        QVERIFY(a->icon().isNull());
        QVERIFY(!a->isSeparator());
    }
    QCOMPARE(QKeySequence::mnemonic(ui->menu_F->title()), QKeySequence(Qt::ALT | Qt::Key_F));
    QCOMPARE(QKeySequence::mnemonic(ui->menu_H->title()), QKeySequence(Qt::ALT | Qt::Key_H));

    // Alt+F opens the File menu.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(ui->menu_F->isVisible());
    ui->menu_F->close();
}

void TestShell::aboutDialog_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("Chinese") << false << QStringLiteral("关于...")
                             << QStringLiteral("       Korvel数据采集系统 2.1    ");
    QTest::newRow("English") << true << QStringLiteral("About ...")
                             << QStringLiteral("       Korvel Data Acquisition System 2.1    ");
}

void TestShell::aboutDialog()
{
    QFETCH(bool, english);
    QFETCH(QString, title);
    QFETCH(QString, firstLine);
    QTranslator translation;
    if (english) {
        QVERIFY(translation.load(QStringLiteral(":/res/KorvelDAQ_en.qm")));
        QCoreApplication::installTranslator(&translation);
    }
    AboutDlg dialog; // translated as it is built
    QCoreApplication::removeTranslator(&translation);
    QCOMPARE(dialog.objectName(), QStringLiteral("AboutDlg"));
    QCOMPARE(dialog.windowTitle(), title);
    auto *label = dialog.findChild<QLabel *>(QStringLiteral("label"));
    QVERIFY(label);
    // At its place while the text fits; wider, centred, where it would be cut.
    const QRect place = label->geometry();
    QCOMPARE(place.y(), 80);
    QVERIFY(place.width() >= 231 && place.height() >= 121);
    QVERIFY(place.width() >= label->sizeHint().width());
    if (place.width() == 231)
        QCOMPARE(place.x(), 100);
    else
        QCOMPARE(place.x(), (dialog.width() - place.width()) / 2);
    QVERIFY(dialog.width() >= 426 && dialog.height() >= 322);
    QVERIFY(dialog.rect().contains(place));
    QCOMPARE(label->font().pointSize(), 12);
    QCOMPARE(label->font().weight(), QFont::Bold);
    QVERIFY(!label->wordWrap());
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), firstLine);
    QVERIFY(lines.at(1).isEmpty());
    QVERIFY(lines.at(2).contains(QStringLiteral("Korvel")));
    QVERIFY(lines.at(3).isEmpty());
    QVERIFY(!lines.at(4).isEmpty());
    QVERIFY(dialog.findChildren<QPushButton *>().isEmpty());

    // Enlarging the dialog leaves the label in place.
    dialog.show();
    dialog.resize(800, 600);
    QCOMPARE(label->geometry(), place);
}

void TestShell::aboutCommandBuildsFreshDialogs()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QList<QDialog *> seen;
    for (int round = 0; round < 2; ++round) {
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<AboutDlg *>(QApplication::activeModalWidget());
            if (!dialog)
                dialog = w.findChild<AboutDlg *>();
            QVERIFY(dialog);
            QCOMPARE(dialog->parentWidget(), &w);
            QVERIFY(dialog->isModal());
            seen.append(dialog);
            dialog->reject();
        });
        w.form()->menu_about->trigger();
        // The command destroys its dialog when it returns.
        QVERIFY(w.findChildren<AboutDlg *>().isEmpty());
    }
    QCOMPARE(seen.size(), 2);
}

void TestShell::websiteFollowsSystemLocale_data()
{
    QTest::addColumn<QLocale>("system");
    QTest::addColumn<bool>("switchLanguage");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("browser"); // whether one can be opened
    const QString cn = QStringLiteral("https://cn.korvel.example");
    const QString www = QStringLiteral("https://www.korvel.example");
    QTest::newRow("zh_CN") << QLocale(QLocale::Chinese, QLocale::China) << false << cn << true;
    QTest::newRow("zh_TW") << QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript,
                                      QLocale::Taiwan)
                           << false << cn << true;
    QTest::newRow("zh_CN, interface switched to English")
        << QLocale(QLocale::Chinese, QLocale::China) << true << cn << true;
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << false << www
                           << true;
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << false << www << true;
    QTest::newRow("C") << QLocale::c() << false << www << true;
    QTest::newRow("no browser") << QLocale::c() << false << www << false;
}

void TestShell::websiteFollowsSystemLocale()
{
    QFETCH(QLocale, system);
    QFETCH(bool, switchLanguage);
    QFETCH(QString, url);
    QFETCH(bool, browser);
    const QLocale saved;
    QLocale::setDefault(system);
    // A handler whose method is missing fails as a system without a browser does.
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this,
                                    browser ? "openUrl" : "noBrowser");
    openedUrls.clear();
    {
        MainWindow w;
        if (switchLanguage)
            w.form()->actionLanguage->trigger();
        w.form()->menu_cop_www_address->trigger();
        if (switchLanguage)
            w.form()->actionLanguage->trigger(); // back, for the tests that follow
        const QStringList shown = takeMessages(w);
        QCOMPARE(shown,
                 browser ? QStringList() : QStringList{"无法打开浏览器。公司网址：\n" + url});
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QLocale::setDefault(saved);
    if (!browser)
        return;
    QCOMPARE(openedUrls.size(), 1);
    QCOMPARE(openedUrls.first(), QUrl(url));
    QVERIFY(openedUrls.first().path().isEmpty() || openedUrls.first().path() == QLatin1String("/"));
    QVERIFY(!openedUrls.first().hasQuery());
    QVERIFY(openedUrls.first().host().endsWith(QLatin1String(".example")));
}

void TestShell::exitClosesWindow()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.form()->menu_exit->trigger();
    QVERIFY(!w.isVisible());
}

void TestShell::dataLogEndsWithLineEnd()
{
    const QString path = logPathBesideExecutable(QStringLiteral("data.txt"));
    const QByteArray before = readFile(path);
    {
        MainWindow w;
        QVERIFY(QFile::exists(path));
    }
    const QByteArray after = readFile(path);
    QVERIFY(after.startsWith(before));
    QCOMPARE(after.mid(before.size()), QByteArray("\r\n"));
}

void TestShell::logInUnicodeFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + QStringLiteral("/测量数据 Мера ü");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/日志.txt");
    std::ofstream log;
    openLogForAppend(log, path);
    QVERIFY(log.is_open());
    writeLogLine(log, "first");
    closeLog(log);
    openLogForAppend(log, path);
    writeLogLine(log, "second");
    log.close();
    QCOMPARE(readFile(path), QByteArray("first\r\n\r\nsecond\r\n"));
}

void TestShell::programRunsFromUnicodeFolder()
{
    // The real program, copied into a folder with a Chinese name, creates its
    // logs there.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + QStringLiteral("/数据采集系统");
    QVERIFY(QDir().mkpath(folder));
    const QString exe = folder + QStringLiteral("/KorvelDAQ");
    QVERIFY(QFile::copy(QStringLiteral(KORVEL_EXECUTABLE), exe));
    const QString lib = QStringLiteral(KORVEL_DAQ_LIBRARY);
    QVERIFY(QFile::copy(lib, folder + QLatin1Char('/') + QFileInfo(lib).fileName()));
    QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(exe, {});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/data.txt")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/error.txt")), 20000);
    program.kill();
    program.waitForFinished();
}

void TestShell::englishInterfaceComplete_data()
{
    addSystemLocaleRows("Chinese system, switched", "English system");
}

// In English no text of the window, its menus, its plot, its dialogs or its
// messages is left Chinese, and no text the program translates is missing
// from the catalogue.
void TestShell::englishInterfaceComplete()
{
    QFETCH(QLocale, system);
    UntranslatedTexts spy;
    QCoreApplication::installTranslator(&spy); // before the catalogues: asked last
    SystemLanguage language(system);
    MainWindow w;
    Ui_MainWindow *ui = w.form();
    if (system.language() == QLocale::Chinese)
        ui->actionLanguage->trigger();
    spy.seen.clear(); // the Chinese interface before the switch
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // The texts that show only at times: refusals, the recording status,
    // the view that no longer follows, the values under the cursor, a message.
    for (auto [edit, text] :
         {std::pair{ui->edit_maxtemp, "abc"}, {ui->edit_mintemp, "5000"}, {ui->edit_sample, "7"}})
        enterText(edit, QLatin1String(text));
    std::unique_ptr<ManualRun> run;
    showPlotTexts(w, run);
    if (QTest::currentTestFailed())
        return;
    w.liveRun().taskEndedByCard(QStringLiteral("overrun"), false);
    QStringList found = untranslated(&w);
    if (hasCjk(ui->statusbar->currentMessage()))
        found << ui->statusbar->currentMessage();
    run.reset();

    for (QAction *command : {ui->menu_save, ui->menu_open_data, ui->menu_export,
                             ui->menu_save_picture, ui->menu_about})
        onNextDialog(command, [&](QWidget *dialog) { found += untranslated(dialog); });
    QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
    QVERIFY2(spy.seen.isEmpty(), qPrintable(spy.seen.join(QLatin1Char('\n'))));
    QCoreApplication::removeTranslator(&spy);
}

void TestShell::textsFitTheirWidgets_data()
{
    addSystemLocaleRows("Chinese", "English");
}

// No label, check box or button cuts its text, in the window, the texts over
// the plot and the About dialog.
void TestShell::textsFitTheirWidgets()
{
    QFETCH(QLocale, system);
    SystemLanguage language(system);
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    std::unique_ptr<ManualRun> run;
    showPlotTexts(w, run);
    if (QTest::currentTestFailed())
        return;
    const QStringList cut = cutTexts(&w);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));

    // At the smallest size, with a long message: the figures are whole, the
    // message stops before them, and its tool tip holds what was left out.
    w.resize(w.minimumSizeHint());
    const QString reason =
        QStringLiteral("a card error text long enough to need the whole bar ").repeated(3);
    w.liveRun().taskEndedByCard(reason, false);
    QApplication::processEvents();
    const QStringList cutSmall = cutTexts(&w);
    QVERIFY2(cutSmall.isEmpty(), qPrintable(cutSmall.join(QLatin1Char('\n'))));
    auto *bar = static_cast<StatusBar *>(w.form()->statusbar);
    const QLabel *figures = w.findChild<QLabel *>(QStringLiteral("recordingStatus"));
    QVERIFY(bar->fontMetrics().horizontalAdvance(bar->shownMessage()) < figures->x());
    QVERIFY(bar->currentMessage().contains(reason));
    QCOMPARE(bar->toolTip(), bar->currentMessage());
    takeMessages(w);
    run.reset();

    AboutDlg about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QStringList aboutCut = cutTexts(&about);
    QVERIFY2(aboutCut.isEmpty(), qPrintable(aboutCut.join(QLatin1Char('\n'))));
}

void TestShell::qtDialogsSpeakTheLanguage_data()
{
    addSystemLocaleRows("Chinese system", "English system");
}

// Qt's own parts of a file dialog (labels, buttons) follow the interface
// language, at start-up and after each switch.
void TestShell::qtDialogsSpeakTheLanguage()
{
    QFETCH(QLocale, system);
    QVERIFY2(!qtCatalogue(Language::Chinese).isEmpty(), "Qt's Chinese translations are missing");
    QVERIFY(qtCatalogue(Language::English).isEmpty());
    SystemLanguage language(system);
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    bool chinese = system.language() == QLocale::Chinese;
    for (int round = 0; round < 3; ++round) {
        onNextDialog(w.form()->menu_open_data, [&](QWidget *dialog) {
            auto *lookIn = dialog->findChild<QLabel *>(QStringLiteral("lookInLabel"));
            auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
            QVERIFY(lookIn && buttons && buttons->button(QDialogButtonBox::Cancel));
            QCOMPARE(hasCjk(lookIn->text()), chinese);
            QCOMPARE(hasCjk(buttons->button(QDialogButtonBox::Cancel)->text()), chinese);
        });
        w.form()->actionLanguage->trigger();
        chinese = !chinese;
    }
}

// The temperature's "℃" in the value-axis label is drawn, not left blank by a
// font that maps it to an empty glyph. Checked in a process of its own, with
// the fonts the system picks for a Chinese locale.
void TestShell::degreeSignDrawnInChinese()
{
    if (qEnvironmentVariableIsSet("KORVEL_CHINESE_FONTS")) {
        SystemLanguage language(QLocale(QLocale::Chinese, QLocale::China));
        MainWindow w;
        const QCPAxis *axis = w.form()->customPlot_VIT->yAxis;
        const QString label = axis->label();
        const int at = label.indexOf(QChar(0x2103));
        QVERIFY(at > 0);
        QTextLayout layout(label, axis->labelFont());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns(at, 1);
        QVERIFY(!runs.isEmpty());
        for (const QGlyphRun &run : runs) {
            for (quint32 glyph : run.glyphIndexes())
                QVERIFY2(!run.rawFont().pathForGlyph(glyph).isEmpty(),
                         qPrintable(run.rawFont().familyName() + " draws it blank"));
        }
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LANG", "LC_ALL", "LC_CTYPE"})
        env.insert(QLatin1String(name), QStringLiteral("zh_CN.UTF-8"));
    env.insert(QStringLiteral("KORVEL_CHINESE_FONTS"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("degreeSignDrawnInChinese")});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAll().constData());
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
