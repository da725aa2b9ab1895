// processBlock in the real window: time base on the card's clock, keep rule
// across blocks, scaling from the edits, blocks landing inside an opened
// recording (value range, clear), axis fitting and the update signal.

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "acqtest.h"
#include "channelpoints.h"
#include "windowprobe.h"
#include "windowtexts.h"

namespace {

QVector<double> filled(int n, double v)
{
    return QVector<double>(n, v);
}

class LivePathTest : public QObject
{
    Q_OBJECT

    MainWindow *window = nullptr;

    QLineEdit *setEdit(const char *name, const QString &text)
    {
        auto *edit = window->findChild<QLineEdit *>(QLatin1String(name));
        enterText(edit, text);
        return edit;
    }
    void clearGraphs()
    {
        window->channelStore().clear();
        MainWindowProbe::requestTimeBaseReset(*window);
    }

private slots:
    void init()
    {
        window = new MainWindow;
        clearGraphs();
    }
    void cleanup()
    {
        delete window;
        window = nullptr;
    }

    void valuesFollowTheEdits()
    {
        setEdit("edit_mintemp", QStringLiteral("400"));
        setEdit("edit_maxtemp", QStringLiteral("3600"));
        setEdit("edit_sample", QStringLiteral("1000"));
        QSignalSpy updates(window, &MainWindow::updateData);
        window->processBlock({1.0, -0.2}, {0.5, 2.0}, {5.0, 0.0}, {2.0, 9.0}, 2.0);
        QCOMPARE(updates.count(), 1);
        const double expected[4][2] = {{50.0, 0.0}, {50.0, 200.0}, {200.0, 40.0}, {100.0, 450.0}};
        for (int c = 0; c < 4; ++c) {
            QCPGraph *graph = window->channelGraph(c);
            QCOMPARE(graph->dataCount(), 2);
            QCOMPARE(keysOf(window->channelStore(), c), (QVector<double>{1 / 4000.0, 2 / 4000.0}));
            for (int j = 0; j < 2; ++j)
                QCOMPARE(graph->data()->at(j)->value, expected[c][j]);
        }
    }

    void keepRuleRunsAcrossBlocks_data()
    {
        QTest::addColumn<QString>("sampleText");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("refused"); // then "100", in force from the start, stays
        QTest::newRow("100: every 10th of 4 x 25") << "100" << 4 << 10 << false;
        QTest::newRow("1000: all") << "1000" << 4 << 100 << false;
        QTest::newRow("10: every 100th of 40 x 25") << "10" << 40 << 10 << false;
        QTest::newRow("1: every 1000th of 40 x 25") << "1" << 40 << 1 << false;
        for (const char *text : {"abc", "", "0", "-100", "3", "5000", "99999999999999", "100.0"})
            QTest::addRow("refused: \"%s\"", text) << text << 2 << 5 << true;
    }
    void keepRuleRunsAcrossBlocks()
    {
        QFETCH(QString, sampleText);
        QFETCH(int, blocks);
        QFETCH(int, stored);
        QFETCH(bool, refused);
        QLineEdit *edit = setEdit("edit_sample", sampleText);
        for (int b = 0; b < blocks; ++b)
            window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 25.0);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(window->channelGraph(c)->dataCount(), stored);
        // The first kept sample is the first one, then every interval-th.
        const int interval = refused ? 10 : keepInterval(sampleText);
        const QVector<double> keys = keysOf(window->channelStore(), 0);
        for (int k = 0; k < keys.size(); ++k)
            verifyKeyOfScan(keys[k], k * interval + 1);

        // A refused text stays, marked, with a readable hint; typing takes the mark away.
        const QString plainTip = QStringLiteral("1,10,100,1000");
        const QColor plainBase =
            window->findChild<QLineEdit *>(QStringLiteral("edit_physical_channel"))
                ->palette()
                .color(QPalette::Base);
        QCOMPARE(edit->text(), sampleText);
        QCOMPARE(edit->toolTipDuration(), -1);
        QCOMPARE(edit->palette().color(QPalette::Base) != plainBase, refused);
        QCOMPARE(edit->toolTip() != plainTip, refused);
        if (refused) {
            QVERIFY2(edit->toolTip().contains(QStringLiteral("1000")), qPrintable(edit->toolTip()));
            QTest::keyClicks(edit, QStringLiteral("1"));
            QCOMPARE(edit->toolTip(), plainTip);
            QCOMPARE(edit->palette().color(QPalette::Base), plainBase);
        }
    }

    void timeBaseRestartsAfterClear()
    {
        setEdit("edit_sample", QStringLiteral("1000"));
        window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 26.0);
        window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 26.0);
        const QVector<double> before = keysOf(window->channelStore(), 0);
        QCOMPARE(before.size(), 50);
        QVERIFY(std::is_sorted(before.begin(), before.end()));
        QCOMPARE(before.last(), 50 / 4000.0);

        // The window's clear action.
        window->findChild<QPushButton *>(QStringLiteral("btn_clear_data"))->click();
        QCOMPARE(window->channelGraph(0)->dataCount(), 0);
        window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 26.0);
        QVERIFY(!MainWindowProbe::timeBaseResetPending(*window));
        const QVector<double> after = keysOf(window->channelStore(), 0);
        QCOMPARE(after.size(), 25);
        QCOMPARE(after.first(), 1 / 4000.0);
        // The axis spans the new keys only.
        const QCPRange range = window->channelGraph(0)->keyAxis()->range();
        QCOMPARE(range.lower, after.first());
        QCOMPARE(range.upper, after.last());
    }

    void emptyBlockChangesNothing()
    {
        setEdit("edit_sample", QStringLiteral("1000"));
        window->processBlock(filled(10, 1), filled(10, 1), filled(10, 1), filled(10, 1), 10.0);
        QSignalSpy updates(window, &MainWindow::updateData);
        window->processBlock({}, {}, {}, {}, 500.0);
        QCOMPARE(updates.count(), 0);
        window->processBlock(filled(1, 1), filled(1, 1), filled(1, 1), filled(1, 1), 1.0);
        QCOMPARE(updates.count(), 1);
        // The empty block did not advance the time base.
        QCOMPARE(window->channelGraph(0)->data()->at(10)->key, 11 / 4000.0);
    }

    // The card samples at exactly 4000 scans/s: keys count scans, whatever
    // the wall-clock time between the callbacks.
    void keysFollowTheCardClock_data()
    {
        QTest::addColumn<QVector<int>>("sizes");      // scans per block
        QTest::addColumn<QVector<double>>("elapsed"); // ms measured per block
        QTest::addColumn<QString>("sampleText");
        QTest::newRow("burst: three at once, then a late one")
            << QVector<int>{100, 100, 100, 100} << QVector<double>{0, 0, 0, 100} << "1000";
        QTest::newRow("slow callbacks")
            << QVector<int>{100, 100, 100} << QVector<double>{1000, 1000, 1000} << "1000";
        QTest::newRow("varying sizes and times, every 10th")
            << QVector<int>{1, 200, 37, 150, 12} << QVector<double>{0.4, 60, 3, 250, 0} << "100";
    }
    void keysFollowTheCardClock()
    {
        QFETCH(QVector<int>, sizes);
        QFETCH(QVector<double>, elapsed);
        QFETCH(QString, sampleText);
        setEdit("edit_sample", sampleText);
        int scans = 0;
        for (int b = 0; b < sizes.size(); ++b) {
            const int n = sizes[b];
            window->processBlock(filled(n, 1), filled(n, 1), filled(n, 1), filled(n, 1),
                                 elapsed[b]);
            scans += n;
        }
        const int interval = keepInterval(sampleText);
        const QVector<double> keys = keysOf(window->channelStore(), 0);
        QCOMPARE(keys.size(), (scans + interval - 1) / interval);
        for (int k = 0; k < keys.size(); ++k)
            verifyKeyOfScan(keys[k], k * interval + 1);
    }

    // The value range of a graph follows points merged into its middle, also
    // where the points the summary compares stay the same (a flat recording
    // at two times).
    void valueRangeAfterBlocksInsideARecording()
    {
        setEdit("edit_sample", QStringLiteral("1000"));
        QVector<QCPGraphData> recording;
        for (int k = 0; k < 2048; ++k)
            recording.append(QCPGraphData(k < 1024 ? 0.0 : 10.0, 1.0));
        mergePoints(window->channelStore(), recording);
        for (int c = 0; c < 4; ++c) {
            QCPGraph *graph = window->channelGraph(c);
            bool found = false;
            QCOMPARE(graph->getValueRange(found), QCPRange(1, 1));
        }
        // U1 9 V: 450 V.
        window->processBlock(filled(100, 9), filled(100, 0.5), filled(100, 1), filled(100, 1),
                             25.0);
        window->findChild<QPushButton *>(QStringLiteral("btn_show_all"))->click();
        QCOMPARE(window->channelGraph(0)->valueAxis()->range(), QCPRange(1, 450));
        for (int c = 0; c < 4; ++c) {
            QCPGraph *graph = window->channelGraph(c);
            bool found = false, foundInData = false;
            QCOMPARE(graph->getValueRange(found), graph->data()->valueRange(foundInData));
        }
    }

    void clearDropsWaitingPoints()
    {
        setEdit("edit_sample", QStringLiteral("1000"));
        mergePoints(window->channelStore(), {{100.0, 1.0}}); // a recording up to 100 s
        window->processBlock(filled(100, 1), filled(100, 1), filled(100, 1), filled(100, 1), 25.0);
        window->findChild<QPushButton *>(QStringLiteral("btn_clear_data"))->click();
        window->channelGraph(0)->parentPlot()->replot();
        for (int c = 0; c < 4; ++c)
            QCOMPARE(window->channelGraph(c)->dataCount(), 0);
        window->processBlock(filled(10, 1), filled(10, 1), filled(10, 1), filled(10, 1), 25.0);
        QCOMPARE(keysOf(window->channelStore(), 0).first(), 1 / 4000.0);
        QCOMPARE(window->channelGraph(0)->dataCount(), 10);
    }
};

} // namespace

int runLivePathTests(int argc, char **argv)
{
    LivePathTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_livepath.moc"
