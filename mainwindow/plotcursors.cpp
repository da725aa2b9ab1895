#include "mainwindow/plotcursors.h"

#include <qcustomplot.h>

namespace {

// Red: no curve is drawn in it.
const QColor cursorColour(200, 30, 40);

} // namespace

PlotCursors::PlotCursors(QCustomPlot *plot)
{
    const char *const names[2] = {"A", "B"};
    for (int k = 0; k < 2; ++k) {
        QCPItemStraightLine *line = lines[k] = new QCPItemStraightLine(plot);
        line->setPen(QPen(cursorColour, 1.5, Qt::DashLine));
        line->setSelectable(false);
        for (QCPItemPosition *p : {line->point1, line->point2}) {
            p->setTypeX(QCPItemPosition::ptPlotCoords);
            p->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        line->point1->setCoords(0, 0);
        line->point2->setCoords(0, 1);

        QCPItemText *label = labels[k] = new QCPItemText(plot);
        label->setText(QLatin1String(names[k]));
        label->setColor(Qt::white);
        label->setBrush(cursorColour);
        label->setPadding(QMargins(4, 1, 4, 1));
        label->setSelectable(false);
        label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(0, 0);
    }
    hide();
}

void PlotCursors::show(double a, double b)
{
    setTime(A, a);
    setTime(B, b);
    for (int k = 0; k < 2; ++k) {
        lines[k]->setVisible(true);
        labels[k]->setVisible(true);
    }
}

void PlotCursors::hide()
{
    for (int k = 0; k < 2; ++k) {
        lines[k]->setVisible(false);
        labels[k]->setVisible(false);
    }
}

bool PlotCursors::shown() const
{
    return lines[0]->visible();
}

double PlotCursors::time(Which which) const
{
    return lines[which]->point1->key();
}

void PlotCursors::setTime(Which which, double time)
{
    lines[which]->point1->setCoords(time, 0);
    lines[which]->point2->setCoords(time, 1);
    labels[which]->position->setCoords(time, 0);
}
