#pragma once

#include <QList>

class QCPAbstractItem;
class QCustomPlot;
struct CycleResult;

// How a cycle was measured, drawn into the plot as items (so a saved picture
// shows it): the phase boundaries with the phases' names, the crossings t1
// and t2 of U1 at U_a and U_b, the ESR fit line back to the switch and the
// drop it gives there. GUI thread only.
class CycleDrawing
{
public:
    explicit CycleDrawing(QCustomPlot *plot);
    ~CycleDrawing();
    CycleDrawing(const CycleDrawing &) = delete;
    CycleDrawing &operator=(const CycleDrawing &) = delete;

    // Draws cycle's method in place of the last one; null clears.
    void show(const CycleResult *cycle);
    bool shown() const { return !items.isEmpty(); }
    // The items drawn now; for the tests.
    const QList<QCPAbstractItem *> &drawn() const { return items; }

private:
    void clear();

    QCustomPlot *plot;
    QList<QCPAbstractItem *> items;
};
