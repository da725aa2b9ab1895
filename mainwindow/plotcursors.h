#pragma once

#include <QColor>

#include "mainwindow/verticallines.h"

class QCPItemStraightLine;
class QCPItemText;
class QCustomPlot;

// The measurement cursors A and B: vertical lines over the whole plot at
// their times, labelled at the top. Items of the plot, so a saved picture
// shows them and they keep their times through pans, zooms and redraws.
// GUI thread only.
class PlotCursors : public VerticalLines
{
public:
    enum Which { A = 0, B = 1, None = -1 };

    explicit PlotCursors(QCustomPlot *plot);

    void show(double a, double b);
    void hide();
    bool shown() const;
    double time(Which which) const;
    void setTime(Which which, double time);

    int lineCount() const override { return 2; }
    bool lineShown(int) const override { return shown(); }
    double lineTime(int line) const override { return time(Which(line)); }
    void setLineTime(int line, double time) override { setTime(Which(line), time); }

private:
    QCPItemStraightLine *lines[2];
    QCPItemText *labels[2];
};
