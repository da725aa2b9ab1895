#pragma once

#include <qcustomplot.h>

#include <initializer_list>

#include "mainwindow/channelstore.h"

// Points put into the store as an opened file puts them, on the channels given.
void mergePoints(ChannelStore &store, const QVector<QCPGraphData> &points,
                 std::initializer_list<int> channels = {0, 1, 2, 3});

// The times of channel c, the store settled first.
QVector<double> keysOf(ChannelStore &store, int c);
