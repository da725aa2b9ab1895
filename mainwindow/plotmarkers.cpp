#include "mainwindow/plotmarkers.h"

#include <qcustomplot.h>

namespace {

const QColor markerColour(0x6a, 0x1b, 0x9a);

} // namespace

PlotMarkers::PlotMarkers(QCustomPlot *plot) : plot(plot) {}

PlotMarkers::~PlotMarkers() = default; // the plot owns the items

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
    while (lines.size() < markers.size()) {
        auto *line = new QCPItemStraightLine(plot);
        line->setPen(QPen(markerColour, 1.2));
        line->setSelectable(false);
        for (QCPItemPosition *p : {line->point1, line->point2}) {
            p->setTypeX(QCPItemPosition::ptPlotCoords);
            p->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        line->point1->setCoords(0, 0);
        line->point2->setCoords(0, 1);
        auto *label = new QCPItemText(plot);
        label->setColor(Qt::white);
        label->setBrush(markerColour);
        label->setPadding(QMargins(4, 1, 4, 1));
        label->setSelectable(false);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        lines.push_back(line);
        labels.push_back(label);
    }
    for (std::size_t k = 0; k < markers.size(); ++k) {
        // Below the cursors' labels, staggered so that neighbours stay readable.
        labels[k]->position->setCoords(0, 0.05 + 0.05 * double(k % 4));
        labels[k]->setText(shownText(markers[k].text));
        place(int(k), markers[k].time);
    }
}

QString PlotMarkers::labelText(int index) const
{
    return labels[std::size_t(index)]->text();
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
