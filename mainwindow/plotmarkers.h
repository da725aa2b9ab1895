#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

#include "datafiles/runnotes.h"
#include "mainwindow/verticallines.h"

class MarkerLines;
class QCPItemText;
class QCustomPlot;

// The markers on the plot: a vertical line at each marker's time with its
// text at the top, as plain text, a long one cut short. Dragged with the same
// code as the measurement cursors; a drag reports the new time through
// moved. Items of the plot, so a saved picture shows them. Before each
// redraw, lines next to one already drawn and labels with no room left are
// left out, and the lines are drawn as one item, so that a thousand markers
// cost what a few dozen do.
// GUI thread only.
class PlotMarkers : public VerticalLines
{
public:
    // Longer texts are cut to this many characters and an ellipsis.
    static constexpr int maxShownLength = 40;

    explicit PlotMarkers(QCustomPlot *plot);
    ~PlotMarkers();

    void setMarkers(const std::vector<Marker> &markers);
    void setMoved(std::function<void(int index, double time)> moved) { onMoved = std::move(moved); }
    // The text as the plot shows it.
    static QString shownText(const QString &text);
    QString labelText(int index) const;

    int lineCount() const override { return int(times.size()); }
    // As the last redraw left them: a hidden line is not grabbed.
    bool lineShown(int line) const override;
    bool labelShown(int index) const;
    double lineTime(int line) const override;
    void setLineTime(int line, double time) override;

private:
    void place(int index, double time);
    void thin();

    QPointer<QCustomPlot> plot; // may go first: the window's form holds it
    std::vector<double> times;
    std::vector<bool> drawn; // each line, as the last redraw left it
    MarkerLines *lines;      // the plot's item
    std::vector<QCPItemText *> labels;
    std::vector<int> labelWidths; // px, with the padding
    QMetaObject::Connection laidOut;
    std::function<void(int, double)> onMoved;
};
