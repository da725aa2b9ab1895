#include "mainwindow/measurewindow.h"

#include <QHeaderView>
#include <QLocale>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

// Rows of the table: the cursors' times, the channels' figures, the rig's.
constexpr int timeRows = 4;
constexpr int channelRows = 9;
constexpr int rigRows = 5;
constexpr int rowCount = timeRows + channelRows + rigRows;

const char *const channelNames[ChannelCount] = {"U1 (V)", "I (A)", "T (°C)", "U2 (V)"};

QString rowName(int row)
{
    switch (row) {
    case 0: return QStringLiteral("A (s)");
    case 1: return QStringLiteral("B (s)");
    case 2: return QStringLiteral("Δt (s)");
    case 3: return QStringLiteral("1/Δt (Hz)");
    case 4: return MeasureWindow::tr("A 处的值");
    case 5: return MeasureWindow::tr("B 处的值");
    case 6: return QStringLiteral("Δ");
    case 7: return MeasureWindow::tr("最小值");
    case 8: return MeasureWindow::tr("最大值");
    case 9: return MeasureWindow::tr("峰峰值");
    case 10: return MeasureWindow::tr("平均值");
    case 11: return MeasureWindow::tr("均方根");
    case 12: return MeasureWindow::tr("点数");
    case 13: return MeasureWindow::tr("电荷 Q (C)");
    case 14: return MeasureWindow::tr("能量 E (J)");
    case 15: return MeasureWindow::tr("平均功率 P (W)");
    case 16: return MeasureWindow::tr("电容 C (F)");
    default: return MeasureWindow::tr("电阻 R (Ω)");
    }
}

// The figure of a time or rig row.
double singleFigure(const Measurement &m, int row)
{
    const double figures[] = {m.a,      m.b,     m.dt,          m.rate,      m.charge,
                              m.energy, m.power, m.capacitance, m.resistance};
    return figures[row < timeRows ? row : row - channelRows];
}

// The figure of a channel row (counts as a double: exact below 2^53).
double channelFigure(const ChannelMeasurement &c, int row)
{
    const double figures[] = {c.atA,        c.atB,  c.delta, c.low,           c.high,
                              c.peakToPeak, c.mean, c.rms,   double(c.points)};
    return figures[row - timeRows];
}

bool isChannelRow(int row)
{
    return row >= timeRows && row < timeRows + channelRows;
}

// For the eye: seven digits, in the interface's locale without grouping.
QString shownNumber(double value, bool count)
{
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("∞") : QStringLiteral("−∞");
    if (std::isnan(value))
        return QStringLiteral("—");
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return count ? locale.toString(qint64(value)) : locale.toString(value, 'g', 7);
}

} // namespace

MeasureWindow::MeasureWindow(QWidget *parent) : QWidget(parent, Qt::Tool), grid(new QTableWidget)
{
    setObjectName(QStringLiteral("measureWindow"));
    grid->setObjectName(QStringLiteral("measureTable"));
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid->setRowCount(rowCount);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(grid);
    retranslate();
}

void MeasureWindow::retranslate()
{
    setWindowTitle(tr("测量"));
    QStringList rows;
    for (int row = 0; row < rowCount; ++row)
        rows << rowName(row);
    grid->setVerticalHeaderLabels(rows);
    fill();
}

void MeasureWindow::setMeasurement(const Measurement &m,
                                   const std::array<bool, ChannelCount> &shown)
{
    shownFigures = m;
    shownChannels = shown;
    haveFigures = true;
    fill();
}

void MeasureWindow::fill()
{
    QStringList columns;
    for (int c = 0; c < ChannelCount; ++c) {
        if (shownChannels[std::size_t(c)])
            columns << QString::fromUtf8(channelNames[c]);
    }
    const bool noChannel = columns.isEmpty();
    if (noChannel)
        columns << QString();
    if (grid->columnCount() != columns.size()) {
        grid->clearSpans();
        grid->setColumnCount(int(columns.size()));
        for (int row = 0; row < rowCount; ++row) {
            if (!isChannelRow(row) && columns.size() > 1)
                grid->setSpan(row, 0, 1, int(columns.size()));
        }
    }
    grid->setHorizontalHeaderLabels(columns);
    for (int row = 0; row < rowCount; ++row) {
        grid->setRowHidden(row, isChannelRow(row) && noChannel);
        int column = 0;
        for (int c = 0; c < ChannelCount && column < columns.size(); ++c) {
            if (!isChannelRow(row) && column > 0)
                break;
            if (isChannelRow(row) && !shownChannels[std::size_t(c)])
                continue;
            QTableWidgetItem *item = grid->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                grid->setItem(row, column, item);
            }
            const double figure = !haveFigures ? NAN
                                  : isChannelRow(row)
                                      ? channelFigure(shownFigures.channels[std::size_t(c)], row)
                                      : singleFigure(shownFigures, row);
            item->setText(shownNumber(figure, row == timeRows + channelRows - 1));
            // Why a figure is infinite or undefined: the values it comes from.
            const qint64 infinite =
                !haveFigures || std::isfinite(figure) ? 0
                : isChannelRow(row)             ? shownFigures.channels[std::size_t(c)].infinite
                : row >= timeRows + channelRows ? shownFigures.channels[ChannelU1].infinite +
                                                      shownFigures.channels[ChannelI].infinite
                                                : 0;
            item->setToolTip(infinite > 0 ? tr("两光标之间有无穷大的值（%1 个）").arg(infinite)
                                          : QString());
            ++column;
        }
    }
    fitSize();
}

// Just wide and tall enough for every text, in either language.
void MeasureWindow::fitSize()
{
    grid->resizeColumnsToContents();
    grid->resizeRowsToContents();
    const int frame = 2 * grid->frameWidth();
    const QSize needed(grid->verticalHeader()->width() + grid->horizontalHeader()->length() + frame,
                       grid->horizontalHeader()->height() + grid->verticalHeader()->length() +
                           frame);
    if (grid->minimumSize() != needed)
        grid->setMinimumSize(needed);
    if (size() == needed)
        return;
    resize(needed);
    // Grown past the screen's edge (the other language's texts): back onto it.
    if (isVisible() && screen()) {
        const int over = frameGeometry().right() - screen()->availableGeometry().right();
        if (over > 0)
            move(pos() - QPoint(over, 0));
    }
}

void MeasureWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    emit closed();
}

QString MeasureWindow::tabSeparated() const
{
    const QLatin1Char tab('\t');
    QStringList lines;
    QStringList header{tr("量")};
    for (int row = timeRows; row < timeRows + channelRows; ++row)
        header << rowName(row);
    lines << header.join(tab);
    for (int row = 0; row < timeRows; ++row)
        lines << rowName(row) + tab + exactNumberText(singleFigure(shownFigures, row));
    for (int c = 0; c < ChannelCount; ++c) {
        if (!shownChannels[std::size_t(c)])
            continue;
        QStringList line{QString::fromUtf8(channelNames[c])};
        const ChannelMeasurement &figures = shownFigures.channels[std::size_t(c)];
        for (int row = timeRows; row < timeRows + channelRows - 1; ++row)
            line << exactNumberText(channelFigure(figures, row));
        line << QString::number(figures.points);
        lines << line.join(tab);
    }
    for (int row = timeRows + channelRows; row < rowCount; ++row)
        lines << rowName(row) + tab + exactNumberText(singleFigure(shownFigures, row));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
