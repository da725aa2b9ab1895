#include <QtTest>

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QTableWidget>
#include <qcustomplot.h>

#include "acquisition/cycleanalysis.h"
#include "acquisition/liverun.h"
#include "datafiles/datafile.h"
#include "dialoganswer.h"
#include "mainwindow/cycledrawing.h"
#include "mainwindow/cyclesettingsdlg.h"
#include "mainwindow/cyclewindow.h"
#include "mainwindow/measurement.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/plotpanel.h"
#include "ui_mainwindow.h"

namespace {

// A constant-current rig in input volts (U1 x 50, I x 100 once kept): 4 s
// cycles of rest, 200 A charge from 50 to 250 V (C = 1 F), hold, discharge
// back, rest; U1 steps by I x 0.05 ohm while current flows, the discharge
// current reads positive (or 0). The last cycle is cut in its discharge.
void feedRig(MainWindow &w, bool dischargeMeasured)
{
    const double rate = 4000, esr = 0.05, current = 200;
    const int scans = int(3.6 * 4 * rate);
    for (int first = 0; first < scans; first += 100) {
        SampleBlock block;
        for (int n = first; n < first + 100; ++n) {
            const double t = std::fmod(n / rate, 4.0);
            double u = 50, step = 0, i = 0;
            if (t >= 0.5 && t < 1.5)
                u = 50 + current * (t - 0.5), step = current * esr, i = current;
            else if (t >= 1.5 && t < 2.0)
                u = 250;
            else if (t >= 2.0 && t < 3.0)
                u = 250 - current * (t - 2.0), step = -current * esr,
                i = dischargeMeasured ? current : 0;
            block.u1 << (u + step) / 50;
            block.i << i / 100;
            block.t << 0;
            block.u2 << 1;
        }
        w.liveRun().processBlock(block, 25);
    }
}

// Types text into the dialog's field and presses OK; the refusal shown.
QString trySetting(MainWindow &w, const QString &field, const QString &text)
{
    QString refusal;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<CycleSettingsDlg *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->findChild<QLineEdit *>(QStringLiteral("edit_") + field)->setText(text);
        dialog->tryAccept();
        refusal = dialog->refusalText();
        if (dialog->isVisible())
            dialog->reject();
    });
    QMetaObject::invokeMethod(&w.cycleTable(), "settingsRequested");
    return refusal;
}

} // namespace

class TestCycleWindow : public QObject
{
    Q_OBJECT

private slots:
    void table_data();
    void table();
};

void TestCycleWindow::table_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<bool>("dischargeMeasured");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");

    QTest::newRow("live, fractions out of order") << false << true << "lowerFraction"
                                                  << "0.9" << true;
    QTest::newRow("live, no discharge current, half a cycle") << false << false << "referenceCycle"
                                                              << "2.5" << true;
    QTest::newRow("live, negative fit delay") << false << true << "fitDelay"
                                              << "-0.01" << true;
    QTest::newRow("opened file, rated voltage kept") << true << true << "ratedVoltage"
                                                     << "250" << false;
}

void TestCycleWindow::table()
{
    QFETCH(bool, opened);
    QFETCH(bool, dischargeMeasured);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(bool, refused);

    saveCycleSettings(CycleSettings());
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    feedRig(w, dischargeMeasured);
    if (opened) {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("rig.txt"));
        QFile file(name);
        w.channelStore().settle();
        QVERIFY(file.open(QIODevice::WriteOnly) && writeDataFile(file, w.channelStore().views()));
        file.close();
        w.form()->btn_clear_data->click();
        DialogAnswer answer(name);
        w.form()->menu_open_data->trigger();
        QVERIFY(waitForFileWork(w)); // the open
        QVERIFY(waitForFileWork(w)); // the analysis
    }
    w.form()->menu_cycles->trigger();
    CycleWindow &window = w.cycleTable();
    QTableWidget *grid = window.table();
    const std::vector<CycleResult> cycles = w.liveRun().cycles().cycles();
    QVERIFY(cycles.size() >= 3);
    QCOMPARE(grid->rowCount(), int(cycles.size()));
    QVERIFY(cycles.back().partial);
    for (int row = 0; row < grid->rowCount(); ++row) {
        const bool grey = grid->item(row, 0)->foreground().color() == QColor(150, 150, 150);
        QCOMPARE(grey, cycles[std::size_t(row)].partial);
    }

    // The constant-current C: a number, or "—" and why in its tool tip.
    const int cColumn = 14;
    const Figure &c = cycles[1].capacitance;
    QCOMPARE(c.value.has_value(), dischargeMeasured);
    QCOMPARE(grid->item(1, cColumn)->text() == QStringLiteral("—"), !dischargeMeasured);
    QCOMPARE(grid->item(1, cColumn)->toolTip().isEmpty(), dischargeMeasured);
    if (!dischargeMeasured)
        QCOMPARE(c.why, Missing::NoCurrent);

    // Copied whole: the header, then each cycle with exact numbers.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German));
    QTest::keySequence(grid, QKeySequence::Copy);
    QLocale::setDefault(before);
    const QStringList lines =
        QGuiApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + int(cycles.size()));
    QCOMPARE(lines[0].split(QLatin1Char('\t')).size(), grid->columnCount());
    const QStringList second = lines[2].split(QLatin1Char('\t'));
    QCOMPARE(second.value(0), QStringLiteral("2"));
    QCOMPARE(second.value(1).toDouble(), cycles[1].start);
    QCOMPARE(second.value(cColumn), c.value ? exactNumberText(*c.value) : QStringLiteral("—"));

    // Selecting a row draws its method into the plot; a clear takes it away.
    grid->selectRow(1);
    const CycleDrawing &drawn = w.plotPanel().cycleDrawing();
    QVERIFY(drawn.shown());
    const auto tracers =
        std::count_if(drawn.drawn().begin(), drawn.drawn().end(), [](QCPAbstractItem *item) {
            return qobject_cast<QCPItemTracer *>(item) != nullptr;
        });
    // t1 and t2 where U1 crosses U_a and U_b, measured current or not.
    QVERIFY(cycles[1].method.t1 && cycles[1].method.t2);
    QCOMPARE(int(tracers), 2);
    // Part of the picture that 保存图片 saves: the crossings' colour is in it.
    const QImage picture = w.form()->customPlot_VIT->toPixmap().toImage();
    int methodPixels = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            methodPixels += picture.pixelColor(x, y) == QColor(200, 30, 40);
    QVERIFY(methodPixels > 20);
    QCPRange view = w.form()->customPlot_VIT->xAxis->range();
    QVERIFY(view.lower < cycles[1].start && view.upper > cycles[1].end &&
            view.size() < 1.1 * (cycles[1].end - cycles[1].start));

    // A setting refused stays out of force and out of the file.
    const QString refusal = trySetting(w, field, typed);
    QCOMPARE(!refusal.isEmpty(), refused);
    if (!refused)
        QVERIFY(waitForFileWork(w));
    CycleSettings expected;
    expected.ratedVoltage = refused ? 0 : typed.toDouble();
    QVERIFY(savedCycleSettings() == expected);
    QVERIFY(w.liveRun().cycles().settings() == expected);

    w.form()->btn_clear_data->click();
    QVERIFY(!drawn.shown());
    QCOMPARE(grid->rowCount(), 0);
}

int runCycleWindowTests(int argc, char **argv)
{
    TestCycleWindow tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_cycles.moc"
