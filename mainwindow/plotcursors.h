#pragma once

#include <QColor>

class QCPItemStraightLine;
class QCPItemText;
class QCustomPlot;

// The measurement cursors A and B: vertical lines over the whole plot at
// their times, labelled at the top. Items of the plot, so a saved picture
// shows them and they keep their times through pans, zooms and redraws.
// GUI thread only.
class PlotCursors
{
public:
    enum Which { A = 0, B = 1, None = -1 };

    explicit PlotCursors(QCustomPlot *plot);

    void show(double a, double b);
    void hide();
    bool shown() const;
    double time(Which which) const;
    void setTime(Which which, double time);
    // The cursor whose line lies within tolerance pixels of x, the nearer
    // of the two; None if neither does.
    Which at(double x, double tolerance) const;
    // The cursor nearer to x (plot pixels).
    Which nearer(double x) const;

private:
    QCustomPlot *plot;
    QCPItemStraightLine *lines[2];
    QCPItemText *labels[2];
};
