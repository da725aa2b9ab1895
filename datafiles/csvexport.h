#pragma once

#include "datafiles/channeldata.h"

class FileJobControl;
class QIODevice;

// CSV export: a header naming two columns per channel that holds points, then
// one row per point index with "time,value" pairs side by side ("%f,%f", six
// decimals, full stop, whatever the locale); T is written times 10 (degrees
// Celsius). Where a channel has no point for a row its pair is two empty
// fields, so every row has two fields per channel in the header. CR LF after
// every line; with no points at all the file is a single CR LF.
// Returns false as soon as a write fails, or the control cancels; control,
// if given, counts the rows written.
bool writeCsvFile(QIODevice &device, const ChannelSet &channels, FileJobControl *control = nullptr);

// The header line of the export, without its line end.
QByteArray csvHeader(const ChannelSet &channels);

// One number as "%f" writes it in the C locale. out must hold
// MaxCsvNumberLength chars; returns the length written (no terminator).
constexpr int MaxCsvNumberLength = 330;
int formatCsvNumber(double number, char *out);
