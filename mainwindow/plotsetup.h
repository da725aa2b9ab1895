#pragma once

#include <QPen>

class QCustomPlot;

// The look of the window's plot, shared with the benchmark that measures it
// against plain graphs.

// The pen of channel c's curve (U1, I, T, U2).
QPen channelPen(int c);
// Ranges, interactions, axes and grids as the window starts with them.
void setUpPlotFrame(QCustomPlot *plot);
// The axis labels, in the language in force.
void setPlotLabels(QCustomPlot *plot);
