#pragma once

class QCPGraph;
class QCustomPlot;

QCPGraph *addChannelGraph(QCustomPlot *plot);
void markGraphDataChanged(QCPGraph *graph);
