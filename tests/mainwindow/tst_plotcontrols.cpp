#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <qcustomplot.h>

#include "acquisition/liverun.h"
#include "app/logfile.h"
#include "channelpoints.h"
#include "manualrun.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/plotpanel.h"
#include "ui_mainwindow.h"
#include "windowtexts.h"

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
    return logPathBesideExecutable(QStringLiteral("data.txt"));
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

void fill(MainWindow *w, int c, double keyFrom, double keyTo, double valueFrom, double valueTo)
{
    QVector<QCPGraphData> points;
    for (int i = 0; i <= 100; ++i)
        points.append({keyFrom + (keyTo - keyFrom) * i / 100.0,
                       valueFrom + (valueTo - valueFrom) * ((i * 37) % 101) / 100.0});
    mergePoints(w->channelStore(), points, {c});
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
    void labelsFollowLanguageSwitch();
    void zoomMode_data();
    void zoomMode();
    void zoomAboutPressedTime_data();
    void zoomAboutPressedTime();
    void fastClicks_data();
    void fastClicks();
    void lookingBack_data();
    void lookingBack();
    void readout_data();
    void readout();
    void readoutWhileRecording();
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

// The axis labels follow a language switch like the form.
void TestPlotControls::labelsFollowLanguageSwitch()
{
    const QString x = plot->xAxis->label(), y = plot->yAxis->label();
    w->form()->actionLanguage->trigger();
    QCOMPARE(plot->xAxis->label(), QStringLiteral("Time(s)"));
    QCOMPARE(plot->yAxis->label(), QStringLiteral("Voltage(V)         Current(A)          "
                                                  "Temperature(°C)/10"));
    w->form()->actionLanguage->trigger(); // back
    QCOMPARE(plot->xAxis->label(), x);
    QCOMPARE(plot->yAxis->label(), y);
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
    QTest::newRow("ten presses: about half")
        << QList<Press>{Press::Button} + QList<Press>(10, Press::Left) << true << 10;
}

void TestPlotControls::zoomMode()
{
    QFETCH(QList<Press>, presses);
    QFETCH(bool, modeAfter);
    QFETCH(int, zooms);

    plot->xAxis->setRange(0, 100);
    const QCPRange valueRange = plot->yAxis->range();
    const QPointF pos(plot->xAxis->coordToPixel(40.0), plot->yAxis->coordToPixel(100.0));
    QVERIFY(!w->plotPanel().zoomMode());
    for (Press p : presses)
        press(*w, p, pos);

    QCOMPARE(w->plotPanel().zoomMode(), modeAfter);
    QCOMPARE(w->form()->btn_zoom_display->isChecked(), modeAfter);
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

void TestPlotControls::fastClicks_data()
{
    QTest::addColumn<int>("doubleClicks"); // pairs of fast clicks
    QTest::addColumn<int>("clicks");       // single clicks, apart
    QTest::newRow("one click") << 0 << 1;
    QTest::newRow("a double click") << 1 << 0;
    QTest::newRow("four fast clicks") << 2 << 0;
    QTest::newRow("fast and slow") << 1 << 2;
}

// Real clicks through the window: each one zooms, none selects the curve
// under it; the button shows the mode, and a right click leaves it.
void TestPlotControls::fastClicks()
{
    QFETCH(int, doubleClicks);
    QFETCH(int, clicks);
    fill(w, 0, 0, 100, 250, 250); // a flat curve through the press
    plot->xAxis->setRange(0, 100);
    plot->replot();
    QWindow *window = w->windowHandle();
    const QPoint at = plot->mapTo(
        w, QPoint(int(plot->xAxis->coordToPixel(40)), int(plot->yAxis->coordToPixel(250))));
    QPushButton *button = w->form()->btn_zoom_display;
    QTest::mouseClick(window, Qt::LeftButton, {}, button->mapTo(w, button->rect().center()));
    QVERIFY(button->isChecked());

    for (int k = 0; k < doubleClicks; ++k)
        QTest::mouseDClick(window, Qt::LeftButton, {}, at);
    for (int k = 0; k < clicks; ++k)
        QTest::mouseClick(window, Qt::LeftButton, {}, at);
    const double span = plot->xAxis->range().size();
    QVERIFY2(std::abs(span - 100 * std::pow(zoomFactor, 2 * doubleClicks + clicks)) < 1e-9,
             qPrintable(QString::number(span)));
    QVERIFY(plot->selectedGraphs().isEmpty());

    QTest::mouseClick(window, Qt::RightButton, {}, at);
    QVERIFY(!button->isChecked());
    QVERIFY(!w->plotPanel().zoomMode());
    QVERIFY(plot->selectedGraphs().isEmpty());
    // Out of zoom mode a click selects as before.
    QTest::mouseClick(window, Qt::LeftButton, {}, at);
    QCOMPARE(plot->selectedGraphs(), QList<QCPGraph *>{w->channelGraph(0)});
    QCOMPARE(plot->xAxis->range().size(), span);
}

void TestPlotControls::lookingBack_data()
{
    QTest::addColumn<QString>("look"); // how the user moves the time axis
    QTest::addColumn<bool>("showAll"); // else restore display brings the view back
    QTest::newRow("drag, show all") << "drag" << true;
    QTest::newRow("wheel, restore") << "wheel" << false;
    QTest::newRow("zoom click, show all") << "zoom click" << true;
}

// While recording on the stand-in card, each block fits the time axis until
// the user moves it; then the view stays, the points keep coming and a notice
// says so, until show all or restore display.
void TestPlotControls::lookingBack()
{
    QFETCH(QString, look);
    QFETCH(bool, showAll);
    QCPGraph *u1 = w->channelGraph(0);
    auto lastKey = [u1] { return (u1->data()->constEnd() - 1)->key; };
    QLabel *notice = w->findChild<QLabel *>(QStringLiteral("followNotice"));
    QVERIFY(notice);
    w->form()->btn_clear_data->click();
    w->form()->btn_start_collect->click();
    QTRY_VERIFY(u1->dataCount() > 20);
    QTRY_COMPARE(plot->xAxis->range().upper, lastKey());
    QVERIFY(!notice->isVisible());

    QWindow *window = w->windowHandle();
    const QPoint centre = plot->mapTo(w, plot->axisRect()->rect().center());
    if (look == "drag") {
        QTest::mousePress(window, Qt::LeftButton, {}, centre);
        QTest::mouseMove(window, centre + QPoint(40, 0));
        QTest::mouseRelease(window, Qt::LeftButton, {}, centre + QPoint(40, 0));
    } else if (look == "wheel") {
        const QPointF pos = plot->axisRect()->rect().center();
        QWheelEvent wheel(pos, plot->mapToGlobal(pos), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(plot, &wheel);
    } else {
        w->form()->btn_zoom_display->click();
        QTest::mouseClick(window, Qt::LeftButton, {}, centre);
        w->form()->btn_zoom_display->click();
    }
    const QCPRange held = plot->xAxis->range();
    QVERIFY(notice->isVisible());
    QVERIFY(!notice->text().isEmpty());
    const int count = u1->dataCount();
    QTRY_VERIFY(u1->dataCount() > count + 40); // blocks keep arriving
    QVERIFY(lastKey() > held.upper);
    QCOMPARE(plot->xAxis->range(), held);
    QVERIFY(notice->isVisible());

    (showAll ? w->form()->btn_show_all : w->form()->btn_show_original)->click();
    QVERIFY(!notice->isVisible());
    const int resumed = u1->dataCount();
    QTRY_VERIFY(u1->dataCount() > resumed);
    QTRY_COMPARE(plot->xAxis->range().upper, lastKey());
    w->form()->btn_stop_collect->click();
    QVERIFY(!notice->isVisible());
}

void TestPlotControls::readout_data()
{
    QTest::addColumn<double>("key");
    QTest::addColumn<QString>("hidden"); // channel digits whose check box is cleared
    QTest::addColumn<QStringList>("values");
    // U1 at 0, 1, 2, 3 s; I at 0.5 and 2.5 s; T at 1 s; U2 empty.
    QTest::newRow("nearer the earlier point")
        << 1.3 << "" << QStringList{"U1  20.00 V", "I  1.25 A", "T  125.0 °C", "U2  –"};
    QTest::newRow("nearer the later point")
        << 1.7 << "" << QStringList{"U1  30.00 V", "I  2.50 A", "T  125.0 °C", "U2  –"};
    QTest::newRow("before every point")
        << -0.7 << "" << QStringList{"U1  10.00 V", "I  1.25 A", "T  125.0 °C", "U2  –"};
    QTest::newRow("after every point")
        << 3.8 << "3" << QStringList{"U1  40.00 V", "I  2.50 A", "T  125.0 °C"};
    QTest::newRow("hidden channels left out") << 0.2 << "12" << QStringList{"U1  10.00 V", "U2  –"};
    // At 20 s: values too large or too small for fixed decimals.
    QTest::newRow("exponent form")
        << 20.0 << ""
        << QStringList{"U1  1.000e+300 V", "I  -1.000e-07 A", "T  4.000e+249 °C", "U2  –"};
}

// Hovering shows the line and the values of the point nearest in time of
// each shown channel; leaving the plot hides them.
void TestPlotControls::readout()
{
    QFETCH(double, key);
    QFETCH(QString, hidden);
    QFETCH(QStringList, values);
    ChannelStore &store = w->channelStore();
    mergePoints(store, {{0, 10}, {1, 20}, {2, 30}, {3, 40}}, {0});
    mergePoints(store, {{0.5, 1.25}, {2.5, 2.5}}, {1});
    mergePoints(store, {{1, 12.5}}, {2});
    mergePoints(store, {{20, 1e300}}, {0});
    mergePoints(store, {{20, -1e-7}}, {1});
    mergePoints(store, {{20, 4e248}}, {2});
    const char *boxes[] = {"checkBox_uv1", "checkBox_ui", "checkBox_temperature", "checkBox_uv2"};
    for (QChar c : hidden)
        w->findChild<QCheckBox *>(QLatin1String(boxes[c.digitValue()]))->setChecked(false);
    plot->xAxis->setRange(key < 10 ? -1 : 18, key < 10 ? 4 : 23);
    plot->replot();

    QWindow *window = w->windowHandle();
    const QPoint at = plot->mapTo(w, QPoint(int(std::lround(plot->xAxis->coordToPixel(key))),
                                            plot->axisRect()->rect().center().y()));
    QTest::mouseMove(window, QPoint(2, 2));
    QTest::mouseMove(window, at);
    auto *readout = w->findChild<QLabel *>(QStringLiteral("plotReadout"));
    QTRY_VERIFY(readout->isVisible());
    QStringList lines = readout->text().split('\n');
    const QString time = lines.takeFirst();
    QVERIFY2(time.startsWith(QStringLiteral("时间 ")) && time.endsWith(" s"), qPrintable(time));
    QVERIFY2(std::abs(QLocale().toDouble(time.mid(3).chopped(2)) - key) < 0.01, qPrintable(time));
    values.replaceInStrings(QStringLiteral("."), QString(QLocale().decimalPoint()));
    QCOMPARE(lines, values);

    QTest::mouseMove(window, QPoint(2, 2)); // off the plot
    QTRY_VERIFY(!readout->isVisible());
}

// Live points that wait in the side buffer show under the cursor, and
// hovering leaves them waiting.
void TestPlotControls::readoutWhileRecording()
{
    w->form()->btn_clear_data->click(); // live times from 0
    const ManualRun running(*w);
    QVector<QCPGraphData> recording;
    for (int k = 0; k <= 5; ++k)
        recording.append(QCPGraphData(k / 100.0, 1000.0 + k)); // 0 .. 50 ms, 10 ms apart
    mergePoints(w->channelStore(), recording);
    plot->xAxis->setRange(0, 0.05);
    plot->replot();
    const QVector<double> volts(100, 1.0); // U1 50 V, live points 0.25 .. 25 ms
    w->processBlock(volts, volts, volts, volts, 25.0);
    const ChannelData &u1 = w->channelStore().channel(0);
    const qsizetype waiting = u1.waitingCount();
    QVERIFY(waiting > 0);

    // 15 ms: a live point lies within 1.25 ms, the recorded ones 5 ms away.
    QWindow *window = w->windowHandle();
    QTest::mouseMove(window, QPoint(2, 2));
    QTest::mouseMove(window, plot->mapTo(w, QPoint(int(plot->xAxis->coordToPixel(0.015)), 200)));
    auto *readout = w->findChild<QLabel *>(QStringLiteral("plotReadout"));
    QTRY_VERIFY(readout->isVisible());
    const QString shown = QStringLiteral("\nU1  %1 V\n").arg(QLocale().toString(50.0, 'f', 2));
    QVERIFY2(readout->text().contains(shown), qPrintable(readout->text()));
    QCOMPARE(u1.waitingCount(), waiting);
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

    fill(w, 0, 0, 10, 0, 100);
    fill(w, 1, 5, 20, -20, 30);
    fill(w, 2, 2, 8, 200, 300);
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
    mergePoints(w->channelStore(), {{0.3, 7}}, {1}); // channels may differ in length
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
    QVERIFY(w->liveRun().timeBaseRestartPending());
    QVERIFY(w->plotPanel().zoomMode()); // left as it was
    QVERIFY(!w->channelGraph(1)->visible());

    // The next block starts the time axis again at zero.
    w->processBlock(block(1), block(0.5), block(5), block(2), 25.0);
    QVERIFY(!w->liveRun().timeBaseRestartPending());
    QCOMPARE(w->channelGraph(0)->dataCount(), 10);
    QVERIFY(w->channelGraph(0)->data()->at(0)->key >= 0);
    QVERIFY(w->channelGraph(0)->data()->at(9)->key <= 0.025 + 1e-12);
}

// The limits in force, read back through the block processing: a T input of
// 10 V stores max / 10, one of 5 V (min + max) / 20 (both stay above zero).
static QPair<double, double> limitsInForce(MainWindow &w)
{
    QCPGraph *t = w.channelGraph(2);
    w.channelStore().clear();
    auto block = [](double v) { return QVector<double>(10, v); }; // one of ten is kept
    w.processBlock(block(0), block(0), block(5), block(0), 10.0);
    w.processBlock(block(0), block(0), block(10), block(0), 10.0);
    const double max = t->data()->at(1)->value * 10;
    return {t->data()->at(0)->value * 20 - max, max};
}

// Equal but for the last bits of the arithmetic above.
static bool sameLimits(const QPair<double, double> &a, const QPair<double, double> &b)
{
    auto near = [](double x, double y) {
        return std::abs(x - y) <= 1e-6 * std::max(1.0, std::abs(y));
    };
    return near(a.first, b.first) && near(a.second, b.second);
}

void TestPlotControls::temperatureTyped_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byFocus"); // else by Enter
    QTest::addColumn<QString>("line");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::newRow("max, Enter") << "edit_maxtemp"
                                << "3650" << false << " set the max temp: 3650" << 400.0 << 3650.0;
    QTest::newRow("max, focus leaves")
        << "edit_maxtemp"
        << "3650" << true << " set the max temp: 3650" << 400.0 << 3650.0;
    QTest::newRow("min, Enter") << "edit_mintemp"
                                << "365" << false << " set the min temp: 365" << 365.0 << 3600.0;
}

// Keystrokes apply nothing; finishing the edit applies and logs once.
void TestPlotControls::temperatureTyped()
{
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(bool, byFocus);
    QFETCH(QString, line);
    QFETCH(double, min);
    QFETCH(double, max);
    auto *lineEdit = w->findChild<QLineEdit *>(edit);
    QVERIFY(lineEdit);
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    lineEdit->setFocus();
    lineEdit->clear();
    const qint64 offset = dataLogSize();
    for (QChar c : typed) {
        QTest::keyClicks(lineEdit, QString(c));
        QVERIFY(sameLimits(limitsInForce(*w), {400, 3600}));
    }
    QCOMPARE(controlLinesSince(offset), QStringList());

    if (byFocus)
        w->form()->edit_sample->setFocus();
    else
        QTest::keyClick(lineEdit, Qt::Key_Return);
    QCOMPARE(controlLinesSince(offset), QStringList{line});
    QVERIFY(sameLimits(limitsInForce(*w), {min, max}));
    lineEdit->setFocus();
    QTest::keyClick(lineEdit, Qt::Key_Return); // the same value again: no second line
    QCOMPARE(controlLinesSince(offset), QStringList{line});
}

void TestPlotControls::temperatureNumbers_data()
{
    // Steps "min:text" / "max:text", each typed and finished with Enter.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<QString>("marked"); // fields left marked: "min", "max", "min max"
    auto row = [](const char *name, QStringList steps, QStringList lines, double min, double max,
                  const char *marked = "") {
        QTest::newRow(name) << steps << lines << min << max << QString(marked);
    };
    row("integer", {"max:3650"}, {" set the max temp: 3650"}, 400, 3650);
    row("seven digits", {"max:1234567"}, {" set the max temp: 1.23457e+06"}, 400, 1234567);
    row("exponent", {"max:2.5e7"}, {" set the max temp: 2.5e+07"}, 400, 2.5e7);
    row("fraction", {"min:0.1234567"}, {" set the min temp: 0.123457"}, 0.1234567, 3600);
    row("small", {"min:0.00001"}, {" set the min temp: 1e-05"}, 0.00001, 3600);
    row("negative", {"min:-40.5"}, {" set the min temp: -40.5"}, -40.5, 3600);
    row("locale's decimal comma", {"min:3,5"}, {" set the min temp: 3.5"}, 3.5, 3600);
    row("blanks around", {"max: 4000 "}, {" set the max temp: 4000"}, 400, 4000);
    row("unchanged value", {"max:3600.0"}, {}, 400, 3600);
    row("same value twice", {"max:3650", "max:3650"}, {" set the max temp: 3650"}, 400, 3650);
    row("not a number", {"max:abc"}, {}, 400, 3600, "max");
    row("empty", {"min:"}, {}, 400, 3600, "min");
    row("grouped digits", {"max:3.600,5"}, {}, 400, 3600, "max");
    row("infinity", {"max:inf"}, {}, 400, 3600, "max");
    row("not a number, spelt", {"min:nan"}, {}, 400, 3600, "min");
    row("overflow", {"max:1e400"}, {}, 400, 3600, "max");
    row("min equal to max", {"min:3600"}, {}, 400, 3600, "min");
    row("min above max", {"min:5000"}, {}, 400, 3600, "min");
    row("max below min", {"max:300"}, {}, 400, 3600, "max");
    row("both refused", {"max:300", "min:5000"}, {}, 400, 3600, "min max");
    row("a refused max becomes valid with the min", {"max:300", "min:100"},
        {" set the min temp: 100", " set the max temp: 300"}, 100, 300);
    row("corrected after a refusal", {"max:abc", "max:3700"}, {" set the max temp: 3700"}, 400,
        3700);
    row("wide, within the plot's range", {"max:1e240", "max:3600"},
        {" set the max temp: 1e+240", " set the max temp: 3600"}, 400, 3600);
    row("beyond the plot's range", {"max:1e308"}, {}, 400, 3600, "max");
    row("a range that overflows", {"min:-1e308", "max:1e308"}, {}, 400, 3600, "min max");
    row("sampling rate not offered", {"sample:7"}, {}, 400, 3600, "sample");
    row("sampling rate not a number", {"sample:abc"}, {}, 400, 3600, "sample");
}

// Numbers with a decimal point or the user's decimal comma; refusals are
// marked and change nothing; the log line is "%g" whatever the locales say.
void TestPlotControls::temperatureNumbers()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, lines);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(QString, marked);
    const std::locale saved =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimals));
    const QLocale savedQt;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const qint64 offset = dataLogSize();
    for (const QString &step : steps) {
        QLineEdit *edit = step.startsWith("min:")   ? w->form()->edit_mintemp
                          : step.startsWith("max:") ? w->form()->edit_maxtemp
                                                    : w->form()->edit_sample;
        enterText(edit, step.mid(step.indexOf(':') + 1));
    }
    const QPair<double, double> inForce = limitsInForce(*w);
    std::locale::global(saved);
    QLocale::setDefault(savedQt);
    QCOMPARE(controlLinesSince(offset), lines);
    QCOMPARE(w->liveRun().keepEvery(), 10); // "100" stays in force
    QVERIFY2(sameLimits(inForce, {min, max}),
             qPrintable(QStringLiteral("%1 .. %2").arg(inForce.first).arg(inForce.second)));

    // A hint in the status bar only while a field is refused.
    QCOMPARE(statusMessage(*w).isEmpty(), marked.isEmpty());
    // A refused field keeps its text, marked, with a hint that names the value
    // in force; typing again takes the mark away.
    const QColor plain = w->form()->edit_physical_channel->palette().color(QPalette::Base);
    const std::pair<QLineEdit *, const char *> fields[] = {{w->form()->edit_mintemp, "min"},
                                                           {w->form()->edit_maxtemp, "max"},
                                                           {w->form()->edit_sample, "sample"}};
    for (const auto &[edit, name] : fields) {
        const bool refused = marked.contains(name);
        const QString plainTip = edit == w->form()->edit_sample ? "1,10,100,1000" : "";
        const double inForce = edit == fields[0].first ? min : edit == fields[1].first ? max : 100;
        QCOMPARE(edit->palette().color(QPalette::Base) != plain, refused);
        QCOMPARE(edit->toolTip() != plainTip, refused);
        if (refused) {
            QVERIFY2(edit->toolTip().contains(QString::number(inForce)),
                     qPrintable(edit->toolTip()));
            QTest::keyClicks(edit, QStringLiteral("1"));
            QCOMPARE(edit->palette().color(QPalette::Base), plain);
            QCOMPARE(edit->toolTip(), plainTip);
        }
    }
}

int runPlotControlTests(int argc, char **argv)
{
    TestPlotControls tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_plotcontrols.moc"
