// What the plot shows while the user looks at it: the values under the
// cursor, and whether the view follows the recording.

#include "mainwindow/mainwindow.h"

#include <QLocale>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

#include "mainwindow/lodgraph.h"
#include "mainwindow/plotoverlay.h"
#include "ui_mainwindow.h"

namespace {

// Fixed decimals, but exponent form for a value they would run off the box
// with or round to zero.
QString readoutNumber(const QLocale &locale, double value, int decimals)
{
    const double magnitude = std::abs(value);
    if (value != 0 && (magnitude >= 1e9 || magnitude < 0.5 * std::pow(10.0, -decimals)))
        return locale.toString(value, 'e', 3);
    return locale.toString(value, 'f', decimals);
}

} // namespace

void MainWindow::onPlotMouseMove(QMouseEvent *event)
{
    cursorPos = event->position();
    cursorMove(event);
    showReadout();
}

// The line and the values at the last cursor position; nothing outside the
// plot area.
void MainWindow::showReadout()
{
    QCustomPlot *plot = ui->customPlot_VIT;
    if (!plot->axisRect()->rect().contains(cursorPos.toPoint())) {
        overlay->hideCursor();
        return;
    }
    const double key = plot->xAxis->pixelToCoord(cursorPos.x());
    overlay->showCursor(int(cursorPos.x()), readoutText(key));
}

// The time under the cursor and, for each shown channel, the value of its
// point nearest to that time (the temperature in °C, not divided by 10).
QString MainWindow::readoutText(double key) const
{
    QCustomPlot *plot = ui->customPlot_VIT;
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    // As many decimals as tell one pixel column from the next.
    const double perPixel = plot->xAxis->range().size() / std::max(1, plot->axisRect()->width());
    const int decimals = perPixel > 0 && std::isfinite(perPixel)
                             ? std::clamp(int(std::ceil(-std::log10(perPixel))), 0, 6)
                             : 3;
    QStringList lines{tr("时间 %1 s").arg(locale.toString(key, 'f', decimals))};
    struct Channel
    {
        QString name;
        int channel;
        double scale;
        int decimals;
        QString unit;
    };
    const Channel readouts[] = {
        {QStringLiteral("U1"), ChannelU1, 1, 2, QStringLiteral("V")},
        {QStringLiteral("I"), ChannelI, 1, 2, QStringLiteral("A")},
        {QStringLiteral("T"), ChannelT, 10, 1, QStringLiteral("°C")},
        {QStringLiteral("U2"), ChannelU2, 1, 2, QStringLiteral("V")},
    };
    for (const Channel &c : readouts) {
        if (!channelGraph(c.channel)->visible())
            continue;
        const std::optional<DataPoint> point = channels.channel(c.channel).nearestPoint(key);
        const QString value = point && !std::isnan(point->value)
                                  ? readoutNumber(locale, point->value * c.scale, c.decimals) +
                                        QLatin1Char(' ') + c.unit
                                  : QStringLiteral("–");
        lines << c.name + QStringLiteral("  ") + value;
    }
    return lines.join(QLatin1Char('\n'));
}

// A move of the time axis while recording that the block's own fit did not
// make is the user's: the view stays where they put it.
void MainWindow::onTimeRangeChanged(const QCPRange &newRange, const QCPRange &oldRange)
{
    if (fittingTimeAxis || !acquiring() || !followLive)
        return;
    if (newRange.lower == oldRange.lower && newRange.upper == oldRange.upper)
        return;
    setFollowing(false);
}

void MainWindow::setFollowing(bool on)
{
    followLive = on;
    overlay->setNotice(on || !acquiring() ? QString()
                                          : tr("不再跟随新数据：全部显示或复原显示恢复跟随"));
}
