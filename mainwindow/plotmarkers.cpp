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

PlotMarkers::PlotMarkers(QCustomPlot *plot) : plot(plot)
{
    laidOut = QObject::connect(plot, &QCustomPlot::afterLayout, plot, [this] { thin(); });
}

PlotMarkers::~PlotMarkers()
{
    QObject::disconnect(laidOut); // the plot owns the items
}

// Each label goes into the first row where the label before it ends left of
// it, or is hidden; a line is hidden next to the one before it.
void PlotMarkers::thin()
{
    const QRect inside = plot->axisRect()->rect();
    double rowEnds[labelRows];
    std::fill(std::begin(rowEnds), std::end(rowEnds), -1e300);
    long lastColumn = std::numeric_limits<int>::min(); // far from any column
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const double x = plot->xAxis->coordToPixel(lineTime(int(k)));
        const bool shown = x >= inside.left() - 1 && x <= inside.right() + 1;
        // One line in two pixel columns at most: closer lines read as one.
        const long column = std::lround(x);
        lines[k]->setVisible(shown && std::abs(column - lastColumn) > 1);
        if (lines[k]->visible())
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
    while (lines.size() > markers.size()) {
        plot->removeItem(lines.back());
        plot->removeItem(labels.back());
        lines.pop_back();
        labels.pop_back();
    }
    labelWidths.resize(markers.size());
    while (lines.size() < markers.size()) {
        auto *line = new QCPItemStraightLine(plot);
        line->setPen(QPen(markerColour, 1));
        line->setSelectable(false);
        line->setAntialiased(false);
        for (QCPItemPosition *p : {line->point1, line->point2}) {
            p->setTypeX(QCPItemPosition::ptPlotCoords);
            p->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        line->point1->setCoords(0, 0);
        line->point2->setCoords(0, 1);
        auto *label = new QCPItemText(plot);
        label->setColor(Qt::white);
        label->setBrush(markerColour);
        label->setPadding(labelPadding);
        label->setSelectable(false);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        lines.push_back(line);
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
    return lines[std::size_t(line)]->visible();
}

bool PlotMarkers::labelShown(int index) const
{
    return labels[std::size_t(index)]->visible();
}

double PlotMarkers::lineTime(int line) const
{
    return lines[std::size_t(line)]->point1->coords().x();
}

void PlotMarkers::place(int index, double time)
{
    const std::size_t k = std::size_t(index);
    lines[k]->point1->setCoords(time, 0);
    lines[k]->point2->setCoords(time, 1);
    labels[k]->position->setCoords(time, labels[k]->position->coords().y());
}

void PlotMarkers::setLineTime(int line, double time)
{
    place(line, time);
    if (onMoved)
        onMoved(line, time);
}
