#pragma once

#include "readinghistory.h"

#include <QByteArray>
#include <QString>

// The live view's record as CSV: one line per reading and one per event, in
// time order, lines ending in CR LF like the logs, "." decimals whatever the
// locale. Pressures are in the display unit of `unitFactor`. Readings older
// than the full-resolution window come as two lines per minute, its minimum
// and its maximum, both at the minute's start. An event line carries the
// readings last recorded before it.
namespace records {

QByteArray readingsCsvHeader();
QByteArray readingsCsv(const history::ReadingHistory& history, double unitFactor);

// "2026-12-08T19:53:10.123Z"
QString isoUtcMs(qint64 msSinceEpoch);
// A field quoted, its quotes doubled, when it holds a comma, a quote or a line break.
QString csvField(const QString& text);

} // namespace records
