#include "acquisition/acquisitionstate.h"

#include <QTimerEvent>

bool AcquisitionState::running() const
{
    return timerId != 0;
}

void AcquisitionState::begin()
{
    if (running())
        return;
    timerId = startTimer(600, Qt::CoarseTimer);
    emit runningChanged(true);
}

void AcquisitionState::end()
{
    if (!running())
        return;
    killTimer(timerId);
    timerId = 0;
    emit runningChanged(false);
}

void AcquisitionState::timerEvent(QTimerEvent *event)
{
    if (running() && event->timerId() == timerId)
        emit redrawDue();
}
