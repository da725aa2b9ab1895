#include "mainwindow/lodgraph.h"

#include <qcustomplot.h>

QCPGraph *addChannelGraph(QCustomPlot *plot)
{
    return plot->addGraph();
}

void markGraphDataChanged(QCPGraph *) {}
