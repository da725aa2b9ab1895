#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <qcustomplot.h>

#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

// Test access to the window's private state.
class MainWindowProbe
{
public:
    static bool zoomMode(const MainWindow &w) { return w.zoomMode; }
    static bool timeBaseResetPending(const MainWindow &w) { return w.resetTimeBase; }
};

namespace {

const double zoomFactor = 0.9345256350532583; // 0.85^(5/12)

// The number formatting of a locale with a decimal comma, to catch output
// that follows the global C++ locale.
struct CommaDecimals : std::numpunct<char>
{
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

QString dataLogPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/data.txt");
}

qint64 dataLogSize()
{
    return QFileInfo(dataLogPath()).size();
}

// Lines this window's display controls wrote since offset, with their line
// ends. Other lines (another test's, the closing empty line) are left out.
QStringList controlLinesSince(qint64 offset)
{
    QFile file(dataLogPath());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    QStringList lines;
    const QString text = QString::fromLatin1(file.readAll());
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QLatin1String(" set the m")) || line.startsWith(QLatin1String("  ---")))
            lines << line;
    }
    if (text.contains(QRegularExpression(QStringLiteral("(^|[^\\r])\\n"))))
        lines << QStringLiteral("(a line ends in a bare LF)");
    return lines;
}

enum class Press { Left, Right, LeftWithRight, Button };

void press(MainWindow &w, Press what, QPointF pos)
{
    if (what == Press::Button) {
        w.form()->btn_zoom_display->click();
        return;
    }
    QCustomPlot *plot = w.form()->customPlot_VIT;
    const Qt::MouseButton button = what == Press::Right ? Qt::RightButton : Qt::LeftButton;
    const Qt::MouseButtons held = what == Press::LeftWithRight ? (Qt::LeftButton | Qt::RightButton)
                                                               : Qt::MouseButtons(button);
    QMouseEvent down(QEvent::MouseButtonPress, pos, plot->mapToGlobal(pos), button, held,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(plot, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, pos, plot->mapToGlobal(pos), button,
                   held & ~Qt::MouseButtons(button), Qt::NoModifier);
    QCoreApplication::sendEvent(plot, &up);
}

void fill(QCPGraph *graph, double keyFrom, double keyTo, double valueFrom, double valueTo)
{
    for (int i = 0; i <= 100; ++i)
        graph->addData(keyFrom + (keyTo - keyFrom) * i / 100.0,
                       valueFrom + (valueTo - valueFrom) * ((i * 37) % 101) / 100.0);
}

} // namespace

class TestPlotControls : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pens_data();
    void pens();
    void axesAndGrid();
    void labelsStayAfterLanguageSwitch();
    void zoomMode_data();
    void zoomMode();
    void zoomAboutPressedTime_data();
    void zoomAboutPressedTime();
    void tenPresses();
    void checkBoxes_data();
    void checkBoxes();
    void fitting_data();
    void fitting();
    void clear_data();
    void clear();
    void temperatureTyped_data();
    void temperatureTyped();
    void temperatureNumbers_data();
    void temperatureNumbers();

private:
    MainWindow *w = nullptr;
    QCustomPlot *plot = nullptr;
};

void TestPlotControls::init()
{
    w = new MainWindow;
    w->resize(917, 616);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    plot = w->form()->customPlot_VIT;
}

void TestPlotControls::cleanup()
{
    delete w;
    w = nullptr;
}

void TestPlotControls::pens_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("U1") << 0 << QColor(50, 153, 213);
    QTest::newRow("I") << 1 << QColor(102, 205, 170);
    QTest::newRow("T") << 2 << QColor(255, 153, 51);
    QTest::newRow("U2") << 3 << QColor(153, 102, 255);
}

void TestPlotControls::pens()
{
    QFETCH(int, index);
    QFETCH(QColor, colour);
    QCOMPARE(plot->graphCount(), 4);
    QCPGraph *graph = plot->graph(index);
    QCOMPARE(graph, w->channelGraph(index));
    const QPen pen = graph->pen();
    QCOMPARE(pen.color(), colour);
    QCOMPARE(pen.color().alpha(), 255);
    QCOMPARE(pen.widthF(), 3.0);
    QCOMPARE(pen.style(), Qt::SolidLine);
    QCOMPARE(pen.capStyle(), Qt::SquareCap);
    QCOMPARE(pen.joinStyle(), Qt::BevelJoin);
    QCOMPARE(graph->lineStyle(), QCPGraph::lsLine);
    QVERIFY(graph->scatterStyle().isNone());
    QCOMPARE(graph->brush().style(), Qt::NoBrush);
    QVERIFY(graph->visible());
    QCOMPARE(graph->dataCount(), 0);
}

void TestPlotControls::axesAndGrid()
{
    QCOMPARE(plot->xAxis->range(), QCPRange(0, 0.1));
    QCOMPARE(plot->yAxis->range(), QCPRange(-50, 500));
    QCOMPARE(int(plot->interactions()), 0x0B);
    for (QCPAxis *axis : {plot->xAxis, plot->yAxis, plot->xAxis2, plot->yAxis2}) {
        QVERIFY(axis->visible());
        QVERIFY(axis->subTicks());
    }
    for (QCPAxis *axis : {plot->xAxis, plot->yAxis}) {
        QVERIFY(axis->ticks());
        QVERIFY(axis->tickLabels());
        QCOMPARE(axis->grid()->pen(), QPen(QColor(64, 64, 64), 1, Qt::DashLine));
        QCOMPARE(axis->grid()->subGridPen(), QPen(QColor(128, 128, 128), 1, Qt::DotLine));
        QVERIFY(axis->grid()->subGridVisible());
    }
    for (QCPAxis *axis : {plot->xAxis2, plot->yAxis2}) {
        QVERIFY(!axis->ticks());
        QVERIFY(!axis->tickLabels());
        QVERIFY(axis->label().isEmpty());
    }
    QCOMPARE(plot->yAxis->grid()->zeroLinePen(), QPen(Qt::black, 1, Qt::SolidLine));
    QCustomPlot fresh;
    QCOMPARE(plot->xAxis->grid()->zeroLinePen(), fresh.xAxis->grid()->zeroLinePen());
    QVERIFY(!plot->legend->visible());
    QVERIFY(plot->plottingHints().testFlag(QCP::phFastPolylines)); // segment by segment: fast
    QCOMPARE(plot->xAxis->label(), QStringLiteral("时间(s)"));
    QCOMPARE(plot->yAxis->label(), QStringLiteral("电压(V)") + QString(9, QLatin1Char(' ')) +
                                       QStringLiteral("电流(A)") + QString(10, QLatin1Char(' ')) +
                                       QStringLiteral("温度(℃)/10"));
}

// A language switch re-translates the form but not the axis labels.
void TestPlotControls::labelsStayAfterLanguageSwitch()
{
    const QString x = plot->xAxis->label(), y = plot->yAxis->label();
    QMetaObject::invokeMethod(w, "on_actionLanguage_triggered");
    QCOMPARE(plot->xAxis->label(), x);
    QCOMPARE(plot->yAxis->label(), y);
    QMetaObject::invokeMethod(w, "on_actionLanguage_triggered"); // back
}

void TestPlotControls::zoomMode_data()
{
    QTest::addColumn<QList<Press>>("presses");
    QTest::addColumn<bool>("modeAfter");
    QTest::addColumn<int>("zooms"); // presses that narrowed the time axis

    QTest::newRow("off, left press") << QList<Press>{Press::Left} << false << 0;
    QTest::newRow("off, right press") << QList<Press>{Press::Right} << false << 0;
    QTest::newRow("button turns it on") << QList<Press>{Press::Button} << true << 0;
    QTest::newRow("button again turns it off")
        << QList<Press>{Press::Button, Press::Button} << false << 0;
    QTest::newRow("on, left press zooms") << QList<Press>{Press::Button, Press::Left} << true << 1;
    QTest::newRow("on, right press ends it")
        << QList<Press>{Press::Button, Press::Right, Press::Left} << false << 0;
    QTest::newRow("on, left with right held ends it")
        << QList<Press>{Press::Button, Press::LeftWithRight} << false << 0;
    QTest::newRow("on again after a right press")
        << QList<Press>{Press::Button, Press::Right, Press::Button, Press::Left, Press::Left}
        << true << 2;
}

void TestPlotControls::zoomMode()
{
    QFETCH(QList<Press>, presses);
    QFETCH(bool, modeAfter);
    QFETCH(int, zooms);

    plot->xAxis->setRange(0, 100);
    const QCPRange valueRange = plot->yAxis->range();
    const QPointF pos(plot->xAxis->coordToPixel(40.0), plot->yAxis->coordToPixel(100.0));
    QVERIFY(!MainWindowProbe::zoomMode(*w));
    for (Press p : presses)
        press(*w, p, pos);

    QCOMPARE(MainWindowProbe::zoomMode(*w), modeAfter);
    QCOMPARE(plot->xAxis->range().size(), 100 * std::pow(zoomFactor, zooms));
    QCOMPARE(plot->yAxis->range(), valueRange);
    if (modeAfter) {
        const QPixmap zoomIn(QStringLiteral(":/img/Zoom_In.png"));
        QVERIFY(!zoomIn.isNull());
        QCOMPARE(w->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(w->cursor().pixmap().toImage(), zoomIn.toImage());
        QCOMPARE(w->cursor().hotSpot(), QPoint(zoomIn.width() / 2, zoomIn.height() / 2));
    } else {
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
    }
}

void TestPlotControls::zoomAboutPressedTime_data()
{
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<double>("pixelX");

    QTest::newRow("middle") << 0.0 << 10.0 << 400.5;
    QTest::newRow("left edge") << 5.0 << 7.0 << 80.0;
    QTest::newRow("right edge, negative times") << -30.0 << -10.0 << 700.25;
    QTest::newRow("left of the axis") << 0.0 << 0.1 << 20.0;
}

// The time under the pointer keeps its place; the value axis is untouched.
void TestPlotControls::zoomAboutPressedTime()
{
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(double, pixelX);

    plot->xAxis->setRange(lower, upper);
    plot->yAxis->setRange(-7, 93);
    plot->replot();
    w->form()->btn_zoom_display->click();
    const double centre = plot->xAxis->pixelToCoord(pixelX);
    press(*w, Press::Left, QPointF(pixelX, 200));

    const QCPRange range = plot->xAxis->range();
    QVERIFY(std::abs(range.lower - (centre + (lower - centre) * zoomFactor)) <=
            1e-12 * (upper - lower));
    QVERIFY(std::abs(range.upper - (centre + (upper - centre) * zoomFactor)) <=
            1e-12 * (upper - lower));
    QCOMPARE(plot->yAxis->range(), QCPRange(-7, 93));
    QCOMPARE(plot->axisRect()->rangeZoomFactor(Qt::Horizontal), 0.85);
}

void TestPlotControls::tenPresses()
{
    plot->xAxis->setRange(0, 1);
    plot->replot();
    w->form()->btn_zoom_display->click();
    for (int i = 0; i < 10; ++i)
        press(*w, Press::Left, QPointF(300, 200));
    const double share = plot->xAxis->range().size();
    QVERIFY2(std::abs(share - 0.5078) < 0.001, qPrintable(QString::number(share)));
    QVERIFY(MainWindowProbe::zoomMode(*w));
}

void TestPlotControls::checkBoxes_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("visible");

    const char *boxes[] = {"checkBox_uv1", "checkBox_ui", "checkBox_temperature", "checkBox_uv2"};
    for (int index = 0; index < 4; ++index) {
        for (int state : {0, 1, 2, -1}) {
            QTest::addRow("%s %d", boxes[index], state)
                << QString::fromLatin1(boxes[index]) << index << state << (state > 0);
        }
    }
}

// Each box hides and shows its own graph, and only that one; partly checked
// shows. The box itself drives its slot (connected by name).
void TestPlotControls::checkBoxes()
{
    QFETCH(QString, box);
    QFETCH(int, index);
    QFETCH(int, state);
    QFETCH(bool, visible);

    auto *checkBox = w->findChild<QCheckBox *>(box);
    QVERIFY(checkBox);
    checkBox->setChecked(false);
    QVERIFY(!w->channelGraph(index)->visible());
    checkBox->setChecked(true);
    QVERIFY(w->channelGraph(index)->visible());

    const QByteArray slot = "on_" + box.toLatin1() + "_stateChanged";
    QVERIFY(QMetaObject::invokeMethod(w, slot.constData(), Q_ARG(int, state)));
    for (int other = 0; other < 4; ++other)
        QCOMPARE(w->channelGraph(other)->visible(), other == index ? visible : true);
}

void TestPlotControls::fitting_data()
{
    QTest::addColumn<QList<bool>>("shown");
    QTest::addColumn<bool>("showAll"); // else restore
    QTest::addColumn<QCPRange>("keys");
    QTest::addColumn<QCPRange>("values");

    // U1: 0..10 s, 0..100; I: 5..20 s, -20..30; T: 2..8 s, 200..300; U2 empty.
    const QList<bool> all{true, true, true, true};
    const QCPRange before(100, 200);
    QTest::newRow("show all") << all << true << QCPRange(0, 20) << QCPRange(-20, 300);
    QTest::newRow("show all, I hidden")
        << QList<bool>{true, false, true, true} << true << QCPRange(0, 10) << QCPRange(0, 300);
    QTest::newRow("show all, only T")
        << QList<bool>{false, false, true, false} << true << QCPRange(2, 8) << QCPRange(200, 300);
    QTest::newRow("show all, only the empty one")
        << QList<bool>{false, false, false, true} << true << before << before;
    QTest::newRow("show all, none")
        << QList<bool>{false, false, false, false} << true << before << before;
    QTest::newRow("restore") << all << false << QCPRange(0, 20) << QCPRange(-50, 500);
    QTest::newRow("restore, only I")
        << QList<bool>{false, true, false, false} << false << QCPRange(5, 20) << QCPRange(-50, 500);
    QTest::newRow("restore, none")
        << QList<bool>{false, false, false, false} << false << before << QCPRange(-50, 500);
}

void TestPlotControls::fitting()
{
    QFETCH(QList<bool>, shown);
    QFETCH(bool, showAll);
    QFETCH(QCPRange, keys);
    QFETCH(QCPRange, values);

    fill(w->channelGraph(0), 0, 10, 0, 100);
    fill(w->channelGraph(1), 5, 20, -20, 30);
    fill(w->channelGraph(2), 2, 8, 200, 300);
    const char *boxes[] = {"checkBox_uv1", "checkBox_ui", "checkBox_temperature", "checkBox_uv2"};
    for (int c = 0; c < 4; ++c)
        w->findChild<QCheckBox *>(QLatin1String(boxes[c]))->setChecked(shown[c]);
    plot->xAxis->setRange(100, 200); // as after a wheel zoom
    plot->yAxis->setRange(100, 200);

    (showAll ? w->form()->btn_show_all : w->form()->btn_show_original)->click();
    QCOMPARE(plot->xAxis->range(), keys);
    QCOMPARE(plot->yAxis->range(), values);
    for (int c = 0; c < 4; ++c)
        QCOMPARE(w->channelGraph(c)->visible(), bool(shown[c]));
}

void TestPlotControls::clear_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("clear button") << false;
    QTest::newRow("File > close") << true;
}

void TestPlotControls::clear()
{
    QFETCH(bool, fromMenu);
    auto block = [](double v) { return QVector<double>(100, v); };
    for (int b = 0; b < 10; ++b) // 10 blocks of 25 ms: the time axis reaches 0.25 s
        w->processBlock(block(1), block(0.5), block(5), block(2), 25.0);
    w->channelGraph(1)->addData(0.3, 7); // channels may differ in length
    QCOMPARE(w->channelGraph(0)->dataCount(), 100);
    QVERIFY(w->channelGraph(0)->data()->at(99)->key > 0.24);
    w->form()->checkBox_ui->setChecked(false);
    w->form()->btn_zoom_display->click();
    plot->yAxis->setRange(1, 2);

    const qint64 logOffset = dataLogSize();
    if (fromMenu)
        w->form()->menu_close_data->trigger();
    else
        w->form()->btn_clear_data->click();

    for (int c = 0; c < 4; ++c)
        QCOMPARE(w->channelGraph(c)->dataCount(), 0);
    QCOMPARE(
        controlLinesSince(logOffset),
        QStringList({"  --------u1  data count------   0", "  --------I  data count------   0",
                     "  --------T  data count------   0", "  --------u2  data count------   0"}));
    QCOMPARE(plot->xAxis->range(), QCPRange(0, 0.1));
    QCOMPARE(plot->yAxis->range(), QCPRange(-50, 500));
    QVERIFY(MainWindowProbe::timeBaseResetPending(*w));
    QVERIFY(MainWindowProbe::zoomMode(*w)); // left as it was
    QVERIFY(!w->channelGraph(1)->visible());

    // The next block starts the time axis again at zero.
    w->processBlock(block(1), block(0.5), block(5), block(2), 25.0);
    QVERIFY(!MainWindowProbe::timeBaseResetPending(*w));
    QCOMPARE(w->channelGraph(0)->dataCount(), 10);
    QVERIFY(w->channelGraph(0)->data()->at(0)->key >= 0);
    QVERIFY(w->channelGraph(0)->data()->at(9)->key <= 0.025 + 1e-12);
}

void TestPlotControls::temperatureTyped_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("caption");
    QTest::newRow("max") << "edit_maxtemp"
                         << " set the max temp: ";
    QTest::newRow("min") << "edit_mintemp"
                         << " set the min temp: ";
}

// Every keystroke logs the number typed so far; an empty edit logs 0.
void TestPlotControls::temperatureTyped()
{
    QFETCH(QString, edit);
    QFETCH(QString, caption);
    auto *lineEdit = w->findChild<QLineEdit *>(edit);
    QVERIFY(lineEdit);
    lineEdit->clear();
    qint64 offset = dataLogSize();
    QTest::keyClicks(lineEdit, QStringLiteral("3650"));
    QCOMPARE(controlLinesSince(offset),
             QStringList({caption + "3", caption + "36", caption + "365", caption + "3650"}));
    offset = dataLogSize();
    lineEdit->selectAll();
    QTest::keyClick(lineEdit, Qt::Key_Backspace);
    QCOMPARE(controlLinesSince(offset), QStringList({caption + "0"}));
    QCOMPARE(lineEdit->text(), QString());
}

void TestPlotControls::temperatureNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");
    QTest::newRow("integer") << "3600"
                             << "3600";
    QTest::newRow("six digits") << "123456"
                                << "123456";
    QTest::newRow("seven digits") << "1234567"
                                  << "1.23457e+06";
    QTest::newRow("exponent") << "25000000"
                              << "2.5e+07";
    QTest::newRow("fraction") << "0.1234567"
                              << "0.123457";
    QTest::newRow("small") << "0.00001"
                           << "1e-05";
    QTest::newRow("negative") << "-40.5"
                              << "-40.5";
    QTest::newRow("not a number") << "abc"
                                  << "0";
    QTest::newRow("decimal comma") << "3,5"
                                   << "0";
}

// Formatted like "%g" whatever the locales say.
void TestPlotControls::temperatureNumbers()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    const std::locale saved =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimals));
    const QLocale savedQt;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    w->form()->edit_maxtemp->clear();
    w->form()->edit_mintemp->clear();
    const qint64 offset = dataLogSize();
    w->form()->edit_maxtemp->setText(text);
    w->form()->edit_mintemp->setText(text);
    std::locale::global(saved);
    QLocale::setDefault(savedQt);
    QCOMPARE(controlLinesSince(offset),
             QStringList({" set the max temp: " + logged, " set the min temp: " + logged}));
}

int runPlotControlTests(int argc, char **argv)
{
    TestPlotControls tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_plotcontrols.moc"
