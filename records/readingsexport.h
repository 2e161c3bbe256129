#pragma once

#include "readinghistory.h"

#include <QByteArray>
#include <QString>

// The live view's record as CSV: one line per reading and one per event, in
// time order, lines ending in CR LF like the logs, "." decimals whatever the
// locale. Pressures are in the display unit of `unitFactor`. Readings older
// than the full-resolution window come as two lines per minute, its minimum
// and its maximum, both at the minute's start. An event line carries the
// readings last recorded before it. The last column, `kind`, says what a line
// is in one word: "reading" for readings, and for events "record" or
// "warning" (a lost connection is a warning too); a run's readings file uses
// more words (readingsfile.h).
namespace records {

QByteArray readingsCsvHeader();
QByteArray readingsCsv(const history::ReadingHistory& history, double unitFactor);

// One line of the export: the readings `v` at `atMs`, the event's text
// (empty on a reading line) and the line's kind.
QByteArray readingsCsvLine(qint64 atMs, const std::array<float, history::kChannels>& v,
                           double unitFactor, const QString& event, const QString& kind);
// "record", "warning".
QString eventKindWord(history::EventKind kind);

// "2026-12-08T19:53:10.123Z"
QString isoUtcMs(qint64 msSinceEpoch);
// A field quoted, its quotes doubled, when it holds a comma, a quote or a line break.
QString csvField(const QString& text);

} // namespace records
