#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

#include "acqtest.h"
#include "acquisition/liverun.h"
#include "mainwindow/limitalarmwindow.h"
#include "mainwindow/limitsdlg.h"
#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

Q_DECLARE_METATYPE(LimitProblem)

namespace {

// A tenth of a second of constant values, in input volts (U1 x 50, I x 100).
void feed(MainWindow &w, double u1, double i)
{
    SampleBlock block;
    for (int n = 0; n < 400; ++n)
        block.u1 << u1 / 50, block.i << i / 100, block.t << 0, block.u2 << 1;
    w.liveRun().processBlock(block, 100);
}

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
    void alarms_data();
    void alarms();
    void cleanupTestCase() { saveLimits(LimitSettings()); }
};

void TestLimits::refusals_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QStringList>("fields"); // low, high, deadband, delay; empty = none
    QTest::addColumn<int>("field");
    QTest::addColumn<LimitProblem>("problem");

    QTest::newRow("low above high") << int(LimitU1) << QStringList{"200", "100", "", ""}
                                    << int(LimitLowField) << LimitProblem::LowNotBelowHigh;
    QTest::newRow("low equal to high") << int(LimitI) << QStringList{"5", "5", "", ""}
                                       << int(LimitLowField) << LimitProblem::LowNotBelowHigh;
    QTest::newRow("deadband wider than the band")
        << int(LimitT) << QStringList{"20", "80", "61", ""} << int(LimitDeadbandField)
        << LimitProblem::DeadbandTooLarge;
    QTest::newRow("negative deadband") << int(LimitU2) << QStringList{"", "10", "-1", ""}
                                       << int(LimitDeadbandField) << LimitProblem::DeadbandTooLarge;
    QTest::newRow("negative delay") << int(LimitPower) << QStringList{"", "1000", "", "-0.5"}
                                    << int(LimitDelayField) << LimitProblem::NegativeDelay;
    QTest::newRow("infinite high") << int(LimitPower) << QStringList{"0", "inf", "", ""}
                                   << int(LimitHighField) << LimitProblem::NotFinite;
    QTest::newRow("one side, wide deadband")
        << int(LimitU1) << QStringList{"", "200", "500", "2"} << -1 << LimitProblem::None;
}

// The pure judgement, and the dialog that types the same row: it marks the
// field named, or accepts exactly those limits.
void TestLimits::refusals()
{
    QFETCH(int, channel);
    QFETCH(QStringList, fields);
    QFETCH(int, field);
    QFETCH(LimitProblem, problem);

    LimitSettings limits;
    LimitsDlg dialog(limits);
    Limit &limit = limits[std::size_t(channel)];
    for (int f = 0; f < LimitFieldCount; ++f) {
        dialog.field(channel, f)->setText(fields[f]);
        const std::optional<double> v =
            fields[f].isEmpty() ? std::nullopt : std::optional(fields[f].toDouble());
        if (f < 2)
            (f == 0 ? limit.low : limit.high) = v;
        else
            (f == 2 ? limit.deadband : limit.delay) = v.value_or(0);
    }
    const LimitRefusal refused = refusedLimit(limits);
    QCOMPARE(refused.row, field < 0 ? -1 : channel);
    QCOMPARE(refused.field, field < 0 ? 0 : field);
    QCOMPARE(refused.problem, problem);

    dialog.tryAccept();
    QCOMPARE(dialog.result() == QDialog::Accepted, field < 0);
    QCOMPARE(dialog.refusalText().isEmpty(), field < 0);
    if (field < 0)
        QVERIFY(dialog.limits() == limits);
    else
        QCOMPARE(dialog.field(channel, field)->palette().color(QPalette::Base),
                 QColor(255, 214, 214));
}

void TestLimits::alarms_data()
{
    QTest::addColumn<bool>("show");
    QTest::newRow("shown, latched until acknowledged") << true;
    QTest::newRow("not shown: the run records it only") << false;
}

void TestLimits::alarms()
{
    QFETCH(bool, show);

    saveLimits(LimitSettings());
    acqtest::truncateErrorLog();
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // U1 above 200 V and I below 5 A, set in the dialog and kept for the next start.
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<LimitsDlg *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->field(LimitU1, LimitHighField)->setText(QStringLiteral("200"));
        dialog->field(LimitI, LimitLowField)->setText(QStringLiteral("5"));
        dialog->action(LimitU1, 0)->setChecked(show);
        dialog->action(LimitI, 0)->setChecked(show);
        dialog->tryAccept();
    });
    w.form()->menu_limits->trigger();
    const LimitSettings inForce = w.liveRun().limits().limits();
    QVERIFY(inForce[LimitU1].high == 200.0);
    QVERIFY(inForce[LimitI].low == 5.0);
    QVERIFY(savedLimits() == inForce);
    QVERIFY(MainWindow().liveRun().limits().limits() == inForce);

    auto *alarms = w.findChild<LimitAlarmWindow *>();
    QTableWidget *rows = alarms->table();
    const auto state = [&](int row) { return rows->item(row, rows->columnCount() - 1)->text(); };
    feed(w, 100, 10);
    QVERIFY(!alarms->isVisible());
    feed(w, 210, 10);
    QCOMPARE(alarms->isVisible(), show);
    QCOMPARE(w.statusBar()->currentMessage().contains(QStringLiteral("U1 > 200 V")), show);
    feed(w, 100, 10); // back, still listed
    feed(w, 100, 2);  // a second channel
    feed(w, 220, 2);  // the first again: its row renewed
    QCOMPARE(alarms->isVisible(), show);
    if (show) {
        QCOMPARE(rows->rowCount(), 2);
        QCOMPARE(rows->item(0, 0)->text(), QStringLiteral("U1"));
        QCOMPARE(rows->item(0, 6)->text(), QStringLiteral("2"));
        QCOMPARE(state(0), LimitAlarmWindow::tr("报警中"));
        QCOMPARE(rows->item(1, 0)->text(), QStringLiteral("I"));
        feed(w, 100, 10);
        QCOMPARE(state(0), LimitAlarmWindow::tr("已恢复正常"));
        QCOMPARE(state(1), LimitAlarmWindow::tr("已恢复正常"));
        QVERIFY(alarms->isVisible());
        alarms->close(); // latched
        QVERIFY(alarms->isVisible());
        alarms->acknowledgeButton()->click();
        QVERIFY(!alarms->isVisible());
        QCOMPARE(rows->rowCount(), 0);
    }

    const QByteArray log = acqtest::readErrorLog();
    int acknowledged = 0;
    for (const AlarmRecord &a : w.liveRun().notes().alarms)
        acknowledged += a.change == AlarmRecord::Acknowledged;
    QCOMPARE(acknowledged, show ? 2 : 0);
    QCOMPARE(log.contains("limit acknowledged\xEF\xBC\x9A U1"), show);
    QCOMPARE(log.contains("limit acknowledged\xEF\xBC\x9A I"), show);
    QVERIFY(log.contains("limit alarm\xEF\xBC\x9A U1 > 200"));
}

int runLimitTests(int argc, char **argv)
{
    TestLimits tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_limits.moc"
