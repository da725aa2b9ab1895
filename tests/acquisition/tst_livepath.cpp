// processBlock in the real window: time base, keep rule across blocks,
// scaling from the edits, axis fitting and the update signal.

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "acquisitiontests.h"

namespace {

QVector<double> filled(int n, double v)
{
    return QVector<double>(n, v);
}

QVector<double> keysOf(QCPGraph *graph)
{
    QVector<double> keys;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        keys << it->key;
    return keys;
}

class LivePathTest : public QObject
{
    Q_OBJECT

    MainWindow *window = nullptr;

    void setEdit(const char *name, const QString &text)
    {
        window->findChild<QLineEdit *>(QLatin1String(name))->setText(text);
    }
    void clearGraphs()
    {
        for (int c = 0; c < 4; ++c)
            window->channelGraph(c)->data()->clear();
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
            QCOMPARE(keysOf(graph), (QVector<double>{0.001, 0.002}));
            for (int j = 0; j < 2; ++j)
                QCOMPARE(graph->data()->at(j)->value, expected[c][j]);
        }
    }

    void keepRuleRunsAcrossBlocks_data()
    {
        QTest::addColumn<QString>("sampleText");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("stored");
        QTest::newRow("100: every 10th of 4 x 25") << "100" << 4 << 10;
        QTest::newRow("1000: all") << "1000" << 4 << 100;
        QTest::newRow("3: every 333rd of 40 x 25") << "3" << 40 << 4;
        QTest::newRow("-100 like 100") << "-100" << 4 << 10;
        QTest::newRow("0: all, no division by zero") << "0" << 2 << 50;
        QTest::newRow("abc: all") << "abc" << 2 << 50;
        QTest::newRow("5000: all, no modulo by zero") << "5000" << 2 << 50;
    }
    void keepRuleRunsAcrossBlocks()
    {
        QFETCH(QString, sampleText);
        QFETCH(int, blocks);
        QFETCH(int, stored);
        setEdit("edit_sample", sampleText);
        for (int b = 0; b < blocks; ++b)
            window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 25.0);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(window->channelGraph(c)->dataCount(), stored);
        // 1 ms per sample: the first kept sample is the first one, then every interval-th.
        const int interval = keepInterval(sampleText);
        const QVector<double> keys = keysOf(window->channelGraph(0));
        for (int k = 0; k < keys.size(); ++k)
            QCOMPARE(keys[k], (k * interval + 1) / 1000.0);
    }

    void timeBaseRestartsAfterClear()
    {
        setEdit("edit_sample", QStringLiteral("1000"));
        window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 26.0);
        window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 26.0);
        const QVector<double> before = keysOf(window->channelGraph(0));
        QCOMPARE(before.size(), 50);
        QVERIFY(std::is_sorted(before.begin(), before.end()));
        QVERIFY(before.last() > 0.05);

        // The window's clear action.
        window->findChild<QPushButton *>(QStringLiteral("btn_clear_data"))->click();
        QCOMPARE(window->channelGraph(0)->dataCount(), 0);
        window->processBlock(filled(25, 1), filled(25, 1), filled(25, 1), filled(25, 1), 26.0);
        QVERIFY(!MainWindowProbe::timeBaseResetPending(*window));
        const QVector<double> after = keysOf(window->channelGraph(0));
        QCOMPARE(after.size(), 25);
        QCOMPARE(after.first(), 1.0399999618530273 / 1000.0);
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
        QCOMPARE(window->channelGraph(0)->data()->at(10)->key, 0.011);
    }
};

} // namespace

int runLivePathTests(int argc, char **argv)
{
    LivePathTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_livepath.moc"
