#pragma once

#include <QObject>

// Whether acquisition runs: the one place that says so. While it runs it
// also keeps the redraw beat of the plot and the figures. GUI thread only.
class AcquisitionState : public QObject
{
    Q_OBJECT

public:
    explicit AcquisitionState(QObject *parent = nullptr) : QObject(parent) {}

    bool running() const;
    // Each says runningChanged only when the state changes.
    void begin();
    void end();

signals:
    void runningChanged(bool running);
    // Every 600 ms while running: time to redraw and to check the figures.
    void redrawDue();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    int timerId = 0; // the redraw beat; 0 while idle
};
