// The card self-test's judgement: the scan rate measured from read times,
// and each check failing on the fault it is there for (faults the stand-in
// cannot be scripted to make are fed here as blocks).

#include <QRandomGenerator>
#include <QTest>

#include <thread>

#include "acqtest.h"
#include "daqcheck/cardchecks.h"

namespace {

enum class Fault {
    None,
    CountsScans,
    CallerThread,
    FewerScans,
    ScansNotTaken,
    BadValue,
    PartialScan
};

class CardCheckTest : public QObject
{
    Q_OBJECT

private slots:
    // Reads at (period + delay) take every scan the card made by then, up to
    // the array's 200 scans; bursts come `burst` callbacks at once.
    void rateFromReadTimes_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("maxDelayMs");
        QTest::addColumn<int>("burst");
        QTest::newRow("steady") << 4000.0 << 0 << 1;
        QTest::newRow("late callbacks, last one 20 ms late") << 4000.0 << 20 << 1;
        QTest::newRow("bursts of 8, reads capped") << 4000.0 << 3 << 8;
        QTest::newRow("clock twice as fast") << 8000.0 << 5 << 1;
    }
    void rateFromReadTimes()
    {
        QFETCH(double, rate);
        QFETCH(int, maxDelayMs);
        QFETCH(int, burst);
        QRandomGenerator rng(5);
        std::vector<BlockTiming> blocks;
        int64_t taken = 0;
        const double period = 100.0 / rate * burst; // seconds between bursts
        for (int k = 1; k <= 40; ++k) {
            double t = k * period + (k == 40 ? maxDelayMs : rng.bounded(maxDelayMs + 1)) * 1e-3;
            for (int b = 0; b < burst; ++b, t += 20e-6) {
                const int64_t made = int64_t(t * rate);
                const int scans = int(std::min<int64_t>(made - taken, 200));
                taken += scans;
                blocks.push_back({int64_t(t * 1e9), scans, scans == 200});
            }
        }
        const RateFit fit = fitScanRate(blocks);
        QVERIFY(fit.valid);
        QVERIFY2(std::abs(fit.scansPerSecond / rate - 1) < 1e-3,
                 qPrintable(QString::number(fit.scansPerSecond)));
    }

    void eachCheckFailsOnItsFault_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("failing"); // the failing checks, in report order
        QTest::newRow("none") << Fault::None << QStringList();
        QTest::newRow("the library counts scans")
            << Fault::CountsScans << QStringList{"read count"};
        QTest::newRow("callbacks on the caller's thread")
            << Fault::CallerThread << QStringList{"callback thread"};
        QTest::newRow("fewer scans than announced")
            << Fault::FewerScans << QStringList{"scan rate", "scans"};
        QTest::newRow("written scans not taken") << Fault::ScansNotTaken << QStringList{"scans"};
        QTest::newRow("a value that is no number") << Fault::BadValue << QStringList{"scans"};
        QTest::newRow("a read ends inside a scan")
            << Fault::PartialScan << QStringList{"read count"};
    }
    void eachCheckFailsOnItsFault()
    {
        QFETCH(Fault, fault);
        QFETCH(QStringList, failing);
        const std::thread::id caller = std::this_thread::get_id();
        std::thread::id library;
        std::thread([&] { library = std::this_thread::get_id(); }).join();
        BlockTally tally(caller, 4000.0);
        for (int k = 1; k <= 40; ++k) {
            int scans = 100;
            CallbackRead read{400, 400, 800, 100, library, int64_t(k) * 25'000'000};
            if (k >= 20 && k < 24 && fault == Fault::FewerScans)
                scans = 50, read.storedCount = read.valuesWritten = 200;
            if (k == 20 && fault == Fault::PartialScan)
                read.storedCount = read.valuesWritten = 399;
            if (fault == Fault::CountsScans)
                read.storedCount = 100;
            if (fault == Fault::CallerThread)
                read.callbackThread = caller;
            if (k == 20 && fault == Fault::ScansNotTaken)
                scans = 99;
            SampleBlock lists{QVector<double>(scans, 1.0), QVector<double>(scans, 0.5),
                              QVector<double>(scans, 5.0), QVector<double>(scans, 2.0)};
            if (k == 20 && fault == Fault::BadValue)
                lists.t[7] = std::nan("");
            tally.add(lists, read);
        }
        QStringList failed;
        QString figures;
        for (const CheckResult &r : {tally.threadCheck(), tally.readCountCheck(),
                                     tally.rateCheck(0.005), tally.scanCheck()}) {
            if (!r.passed)
                failed << r.name;
            figures += QStringLiteral("\n%1: %2").arg(r.name, r.figure);
        }
        QVERIFY2(failed == failing, qPrintable(figures));
    }

    void readableErrorText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readable");
        QTest::newRow("Chinese and English")
            << QStringLiteral("无效的任务句柄 / invalid task handle") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("digits only") << QStringLiteral("-200220") << false;
        QTest::newRow("replacement character") << QStringLiteral("\uFFFD\uFFFD handle") << false;
        QTest::newRow("control character") << QStringLiteral("bad\x01text") << false;
    }
    void readableErrorText()
    {
        QFETCH(QString, text);
        QFETCH(bool, readable);
        QCOMPARE(readableText(text), readable);
    }
};

} // namespace

int runCardCheckTests(int argc, char **argv)
{
    CardCheckTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cardcheck.moc"
