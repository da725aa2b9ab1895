#include <QtTest>

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <qcustomplot.h>

#include "acquisition/liverun.h"
#include "mainwindow/eventlistwindow.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/runinfodlg.h"
#include "ui_mainwindow.h"

namespace {

// Each row's time, kind and text as the list shows them.
QStringList shownRows(const QTableWidget *grid)
{
    QStringList rows;
    for (int row = 0; row < grid->rowCount(); ++row)
        rows << QStringList{grid->item(row, EventListWindow::TimeColumn)->text(),
                            grid->item(row, EventListWindow::KindColumn)->text(),
                            grid->item(row, EventListWindow::TextColumn)->text()}
                    .join(QLatin1Char('|'));
    return rows;
}

} // namespace

class TestEventList : public QObject
{
    Q_OBJECT

private slots:
    void markers_data();
    void markers();
    void runInfo_data();
    void runInfo();
};

void TestEventList::markers_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QStringList>("expected");

    // Times in the interface's locale, here with a decimal comma.
    const QString start = "2,000|标记|start", bold = "5,000|标记|<b>bold</b>␊&amp; more",
                  end = "8,000|标记|end";
    QTest::newRow("nothing: markup and a line break shown as typed")
        << "none" << 0 << "" << false << QStringList{start, bold, end};
    QTest::newRow("text edited") << "text" << 0 << "door opened" << false
                                 << QStringList{"2,000|标记|door opened", bold, end};
    QTest::newRow("time in the locale, moves up")
        << "time" << 2 << "1,5" << false
        << QStringList{"1,500|标记|end", "2,000|标记|start", "5,000|标记|<b>bold</b>␊&amp; more"};
    QTest::newRow("time not finite")
        << "time" << 1 << "inf" << true << QStringList{start, bold, end};
    QTest::newRow("time no number")
        << "time" << 1 << "5 s" << true << QStringList{start, bold, end};
    QTest::newRow("Delete key") << "key" << 1 << "" << false << QStringList{start, end};
    QTest::newRow("delete button") << "button" << 2 << "" << false << QStringList{start, bold};
    QTest::newRow("alarms of an opened file")
        << "alarms" << 0 << "" << false
        << QStringList{start, bold, "6,000|报警|U1 高于上限 100 V：101,5 V",
                       "7,000|恢复正常|U1 回到限值以内：99 V", end};
    QTest::newRow("acknowledged before the first point")
        << "acknowledge" << 0 << "" << false
        << QStringList{"0,000|已确认|I 的报警已确认", start, bold, end};
    QTest::newRow("the card ended the run")
        << "card" << 0 << "" << false
        << QStringList{"—|问题|采集已停止：overrun 已记录的数据仍保留。", start, bold, end};
}

void TestEventList::markers()
{
    QFETCH(QString, action);
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(bool, refused);
    QFETCH(QStringList, expected);
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German));
    auto restore = qScopeGuard([&] { QLocale::setDefault(before); });

    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCustomPlot *plot = w.form()->customPlot_VIT;
    plot->xAxis->setRange(0, 10);
    LiveRun &run = w.liveRun();
    run.addMarker(5, QStringLiteral("<b>bold</b>\n&amp; more"));
    run.addMarker(2, QStringLiteral("start"));
    run.addMarker(8, QStringLiteral("end"));
    w.form()->menu_marker_list->trigger();
    EventListWindow &list = w.eventList();
    QVERIFY(list.isVisible());
    QTableWidget *grid = list.table();
    QCOMPARE(grid->rowCount(), 3);

    if (action == "text" || action == "time") {
        const int column =
            action == "text" ? EventListWindow::TextColumn : EventListWindow::TimeColumn;
        QVERIFY(grid->item(row, column)->flags() & Qt::ItemIsEditable);
        grid->item(row, column)->setText(typed);
        QCOMPARE(!list.refusalText().isEmpty(), refused);
    } else if (action == "key" || action == "button") {
        grid->setFocus();
        grid->selectRow(row);
        if (action == "key")
            QTest::keyClick(grid, Qt::Key_Delete);
        else
            list.deleteButton()->click();
    } else if (action == "alarms") {
        RunNotes notes;
        notes.alarms = {{6, 0, AlarmRecord::High, 100, 101.5, 1765461723123},
                        {7, 0, AlarmRecord::Normal, 100, 99, 1765461724123}};
        run.addNotes(notes);
    } else if (action == "acknowledge") {
        run.acknowledgeLimit(1);
    } else if (action == "card") {
        run.taskEndedByCard(QStringLiteral("overrun"), false);
    }
    QCOMPARE(shownRows(grid), expected);

    // The run holds what the list shows; an alarm or a problem is no marker.
    QStringList markerRows;
    for (const QString &shown : expected)
        if (shown.contains(QStringLiteral("|标记|")))
            markerRows << shown;
    QCOMPARE(int(run.notes().markers.size()), markerRows.size());
    for (const Marker &m : run.notes().markers) {
        const QString shown =
            QLocale().toString(m.time, 'f', 3) + "|标记|" + EventListWindow::shownText(m.text);
        QVERIFY2(markerRows.contains(shown), qPrintable(shown));
    }

    // A click on a row with a time centres the view on it, its width kept.
    const int last = grid->rowCount() - 1;
    grid->selectRow(last);
    const double time = QLocale().toDouble(grid->item(last, 0)->text());
    QCOMPARE(plot->xAxis->range().center(), time);
    QVERIFY(qAbs(plot->xAxis->range().size() - 10) < 1e-9);
}

void TestEventList::runInfo_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");

    QTest::newRow("rated voltage") << "ratedVoltage"
                                   << "250" << false;
    QTest::newRow("capacitance with a decimal comma") << "capacitance"
                                                      << "1,5" << false;
    QTest::newRow("ESR left empty") << "esr"
                                    << " " << false;
    QTest::newRow("capacitance zero") << "capacitance"
                                      << "0" << true;
    QTest::newRow("ESR negative") << "esr"
                                  << "-0,02" << true;
    QTest::newRow("rated voltage no number") << "ratedVoltage"
                                             << "250 V" << true;
    QTest::newRow("rated voltage infinite") << "ratedVoltage"
                                            << "inf" << true;
}

void TestEventList::runInfo()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(bool, refused);
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German));
    auto restore = qScopeGuard([&] { QLocale::setDefault(before); });

    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    LiveRun &run = w.liveRun();
    run.addMarker(1, QStringLiteral("m"));
    QString refusal;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<RunInfoDlg *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->findChild<QLineEdit *>(QStringLiteral("edit_operator"))->setText("Wang Li");
        dialog->findChild<QLineEdit *>(QStringLiteral("edit_sample"))->setText("C-17");
        dialog->findChild<QPlainTextEdit *>(QStringLiteral("edit_notes"))->setPlainText("a\nb");
        dialog->findChild<QLineEdit *>(QStringLiteral("edit_") + field)->setText(typed);
        dialog->tryAccept();
        refusal = dialog->refusalText();
        if (dialog->isVisible())
            dialog->reject();
    });
    w.form()->menu_run_info->trigger();
    QCOMPARE(!refusal.isEmpty(), refused);
    if (refused) {
        QVERIFY(run.notes().info == RunInfo{});
        return;
    }
    RunInfo expected;
    expected.operatorName = "Wang Li";
    expected.sample = "C-17";
    expected.notes = "a\nb";
    std::optional<double> RunInfo::*figure = field == "ratedVoltage"  ? &RunInfo::ratedVoltage
                                             : field == "capacitance" ? &RunInfo::capacitance
                                                                      : &RunInfo::esr;
    if (!typed.trimmed().isEmpty())
        expected.*figure = QLocale().toDouble(typed);
    QVERIFY(run.notes().info == expected);

    // A clear starts a new recording with the same information.
    w.form()->btn_clear_data->click();
    QVERIFY(run.notes().markers.empty());
    QVERIFY(run.notes().info == expected);
}

int runEventListTests(int argc, char **argv)
{
    TestEventList tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_events.moc"
