#pragma once

#include "uncertainty.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The instrument table: the accuracies and resolutions the uncertainty of each point is
// worked out from, as an INI file.
//
//   [TemperatureSensor]      a (K), b (K/K): accuracy a + b·|t|
//   [TemperatureController]  resolution (K)
//   [N2] and [O2]            full_scale (slpm), of_reading and of_full_scale
//                            (fractions), resolution (slpm)
//
// Every key must be there, once, with a number that is not negative; lines
// starting with ";" or "#" are comments, and so is the rest of a line from a
// ";" or "#" on.
namespace records {

// None, with *error naming the key (or the line) at fault.
std::optional<uncertainty::InstrumentTable> instrumentTableFromText(const QByteArray& text,
                                                                    QString* error = nullptr);
// The same for a file; a file that cannot be read is refused too.
std::optional<uncertainty::InstrumentTable> readInstrumentTable(const QString& path,
                                                                QString* error = nullptr);

// The example table installed with the program: typical values a run uses
// when it is given no table of its own.
QByteArray typicalInstrumentTableText();
uncertainty::InstrumentTable typicalInstrumentTable();
// How a report names the typical table.
QString typicalInstrumentTableName();

} // namespace records
