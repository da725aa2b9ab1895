#include "mainwindow/plotmarkers.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor markerColour(0x6a, 0x1b, 0x9a);
const QMargins labelPadding(4, 1, 4, 1);
// Labels stagger over this many rows below the cursors' labels.
constexpr int labelRows = 4;

} // namespace

// Every marker's line in one item: one draw call instead of one item each.
class MarkerLines : public QCPAbstractItem
{
public:
    MarkerLines(QCustomPlot *plot, const std::vector<double> &times, const std::vector<bool> &drawn)
        : QCPAbstractItem(plot), times(times), drawn(drawn)
    {
        setSelectable(false);
        setAntialiased(false);
    }
    double selectTest(const QPointF &, bool, QVariant *) const override { return -1; }

protected:
    void draw(QCPPainter *painter) override
    {
        const QRect inside = clipRect();
        QVector<QLineF> shown;
        for (std::size_t k = 0; k < times.size() && k < drawn.size(); ++k) {
            if (!drawn[k])
                continue;
            const double x = mParentPlot->xAxis->coordToPixel(times[k]);
            shown.append(QLineF(x, inside.top(), x, inside.bottom()));
        }
        painter->setPen(QPen(markerColour, 1));
        painter->drawLines(shown);
    }

private:
    const std::vector<double> &times;
    const std::vector<bool> &drawn;
};

PlotMarkers::PlotMarkers(QCustomPlot *plot) : plot(plot), lines(new MarkerLines(plot, times, drawn))
{
    laidOut = QObject::connect(plot, &QCustomPlot::afterLayout, plot, [this] { thin(); });
}

PlotMarkers::~PlotMarkers()
{
    QObject::disconnect(laidOut);
    if (plot)
        plot->removeItem(lines); // it reads this object's times; the plot owns the labels
}

// Each label goes into the first row where the label before it ends left of
// it, or is hidden; a line is hidden next to the one before it.
void PlotMarkers::thin()
{
    const QRect inside = plot->axisRect()->rect();
    double rowEnds[labelRows];
    std::fill(std::begin(rowEnds), std::end(rowEnds), -1e300);
    long lastColumn = std::numeric_limits<int>::min(); // far from any column
    drawn.assign(times.size(), false);
    for (std::size_t k = 0; k < times.size(); ++k) {
        const double x = plot->xAxis->coordToPixel(times[k]);
        const bool shown = x >= inside.left() - 1 && x <= inside.right() + 1;
        // One line in two pixel columns at most: closer lines read as one.
        const long column = std::lround(x);
        drawn[k] = shown && std::abs(column - lastColumn) > 1;
        if (drawn[k])
            lastColumn = column;
        int row = 0;
        while (row < labelRows && rowEnds[row] > x)
            ++row;
        labels[k]->setVisible(shown && row < labelRows);
        if (!labels[k]->visible())
            continue;
        rowEnds[row] = x + labelWidths[k] + 2;
        labels[k]->position->setCoords(labels[k]->position->coords().x(), 0.05 + 0.05 * row);
    }
}

QString PlotMarkers::shownText(const QString &text)
{
    QString line = text;
    // One line, no control characters: the label is a single row of text.
    for (QChar &c : line)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    if (line.size() > maxShownLength)
        line = line.left(maxShownLength) + QChar(0x2026);
    return line;
}

void PlotMarkers::setMarkers(const std::vector<Marker> &markers)
{
    while (labels.size() > markers.size()) {
        plot->removeItem(labels.back());
        labels.pop_back();
    }
    times.resize(markers.size());
    drawn.resize(markers.size(), true); // until the next redraw thins them
    labelWidths.resize(markers.size());
    while (labels.size() < markers.size()) {
        auto *label = new QCPItemText(plot);
        label->setColor(Qt::white);
        label->setBrush(markerColour);
        label->setPadding(labelPadding);
        label->setSelectable(false);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        labels.push_back(label);
    }
    for (std::size_t k = 0; k < markers.size(); ++k) {
        // Below the cursors' labels; thin() staggers them.
        labels[k]->position->setCoords(0, 0.05);
        labels[k]->setText(shownText(markers[k].text));
        labelWidths[k] = QFontMetrics(labels[k]->font()).horizontalAdvance(labels[k]->text()) +
                         labelPadding.left() + labelPadding.right();
        place(int(k), markers[k].time);
    }
}

QString PlotMarkers::labelText(int index) const
{
    return labels[std::size_t(index)]->text();
}

bool PlotMarkers::lineShown(int line) const
{
    return drawn[std::size_t(line)];
}

bool PlotMarkers::labelShown(int index) const
{
    return labels[std::size_t(index)]->visible();
}

double PlotMarkers::lineTime(int line) const
{
    return times[std::size_t(line)];
}

void PlotMarkers::place(int index, double time)
{
    const std::size_t k = std::size_t(index);
    times[k] = time;
    labels[k]->position->setCoords(time, labels[k]->position->coords().y());
}

void PlotMarkers::setLineTime(int line, double time)
{
    place(line, time);
    if (onMoved)
        onMoved(line, time);
}
