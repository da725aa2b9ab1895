#pragma once

#include <QObject>
#include <QPointF>
#include <memory>
#include <vector>

#include "mainwindow/plotcursors.h"
#include "mainwindow/plotmarkers.h"

class ChannelStore;
class CycleDrawing;
struct CycleResult;
class PlotOverlay;
class QCPGraph;
class QCPRange;
class QCustomPlot;
class QEvent;
class QMouseEvent;
class QWidget;

// The window's plot and what the user does on it: the four channels' graphs,
// the frame and labels, the values under the mouse, zoom mode, whether the
// view follows the recording, and the measurement cursors with their drag,
// click and arrow keys. GUI thread only.
class PlotPanel : public QObject
{
    Q_OBJECT

public:
    // Draws the store's channels on plot; window shows the zoom mode's
    // mouse cursor and owns the panel.
    PlotPanel(QCustomPlot *plot, ChannelStore &store, QWidget *window);
    ~PlotPanel() override;

    QCPGraph *channelGraph(int channel) const;
    // The axis labels and the texts over the plot, in the language in force.
    void retranslate();

    // Zoom mode: a left press on the plot narrows the time axis about the
    // pressed time; a right press ends it.
    bool zoomMode() const { return zooming; }
    void toggleZoomMode();

    // Acquisition started (the view follows the recording again) or stopped
    // (the view stays as the user left it).
    void setAcquiring(bool running);
    // After a block's points were added: the time axis fits the data while
    // the view follows.
    void followNewData();
    // Fit both axes to the shown graphs, or the time axis only with the
    // value axis as at start; either follows the recording again.
    void showAll();
    void showOriginal();
    // The axes as at start, following: the data was cleared.
    void resetView();

    void setCursorsShown(bool on);
    bool cursorsShown() const { return cursors->shown(); }
    double cursorTime(PlotCursors::Which which) const { return cursors->time(which); }
    // The time axis to the span between the cursors, with a small margin.
    void zoomToCursors();

    // Draws how cycle was measured (null clears); with zoom, the time axis
    // goes to the cycle with a small margin.
    void showCycle(const CycleResult *cycle, bool zoom = true);
    // The time axis centred on time, its width kept.
    void centreOn(double time);
    const CycleDrawing &cycleDrawing() const { return *cycleItems; }
    // The markers, dragged like the cursors.
    PlotMarkers &markers() { return *markerLines; }

    // From the plot's own mouse signals; run before its drag and selection.
    void onPlotMousePress(QMouseEvent *event);
    void onPlotMouseMove(QMouseEvent *event);

signals:
    void zoomModeChanged(bool on);
    // A cursor was shown, dragged, clicked to or stepped.
    void cursorsMoved();
    // The user moved the time axis while the view followed the recording:
    // it stays where it was put now.
    void viewMovedByUser();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A line of one of the sets the mouse and the keys move.
    struct LineRef
    {
        VerticalLines *set = nullptr;
        int line = -1;
    };

    void setZoomMode(bool on, bool selectAgain);
    void onTimeRangeChanged(const QCPRange &newRange, const QCPRange &oldRange);
    void setFollowing(bool on);
    void showReadout();
    QString readoutText(double key) const;
    LineRef lineAt(double x, double tolerance) const;
    int nearestLine(const VerticalLines &set, double x) const;
    void linePress(QMouseEvent *event);
    void lineMove(QMouseEvent *event);
    void lineRelease(QMouseEvent *event);
    void stepLine(int direction);

    QCustomPlot *plot;
    ChannelStore &channels;
    QWidget *window;
    QCPGraph *graphU1;
    QCPGraph *graphI;
    QCPGraph *graphT;
    QCPGraph *graphU2;
    bool zooming = false;
    bool acquiring = false;
    // While acquiring, each block fits the time axis to the data; once the
    // user moves the time axis the view stays where it was put, until show
    // all or restore display, or the next start.
    bool followLive = true;
    bool fittingTimeAxis = false; // the panel's own fit, not the user's
    // The cursor line, the values under it and the notice, over the plot.
    PlotOverlay *overlay;
    QPointF cursorPos;      // plot pixels of the last mouse move inside the plot area
    bool pressHeld = false; // a zoom press on the plot not yet released
    // The measurement cursors; the sets of lines the mouse drags, the line the
    // arrow keys move, the one being dragged and a press that may still
    // become a click.
    std::unique_ptr<PlotCursors> cursors;
    std::unique_ptr<PlotMarkers> markerLines;
    std::vector<VerticalLines *> draggable;
    LineRef steppedLine;
    LineRef draggedLine;
    QPointF clickPos;
    bool clickPending = false;
    // The method of the cycle selected in the cycle table.
    std::unique_ptr<CycleDrawing> cycleItems;
};
