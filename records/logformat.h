#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Byte-exact lines of the calibration log and the raw gas log. Every line
// returned ends in CR LF; the bytes go to the file as they are.
//
// A unit factor that is none of bar, kPa and psi gets the bar header and the
// pressure in bar: the column then still says what the number is.
namespace records {

enum class LogLayout
{
    Csv,
    Cls
};

// "*.csv" is the CSV layout; every other filter, the empty one included, is CLS.
LogLayout layoutFromFilter(const QString& filter);

// Header of the calibration log; the CLS layout starts with its "n251" line.
QByteArray calibrationLogHeader(LogLayout layout, bool color, double unitFactor);

// Header of the raw gas log (always comma-separated).
QByteArray rawLogHeader(double unitFactor);

// Six digits with leading zeros; from 10000 on a single "0" goes in front, so
// 100000 and more come out seven digits or longer.
QString formatRecordNumber(int number);

// Equivalent air pressure (bar) in the log's unit; "n/a" for the no-flow value -1.
QString formatPressure(float pressureBar, double unitFactor);
QString formatTemperature(float celsius);
// O2 share of the flow in percent; "n/a" for the no-flow value -1.
QString formatO2Percent(float pressureBar);

struct RecordValues
{
    int number = 0;            // the record counter after its increment
    float pressureBar = -1.0f; // equivalent air pressure; exactly -1 when both flows are 0
    float temperature = 0.0f;  // sample temperature, degrees C
    QString n2Text;            // flow readouts exactly as displayed
    QString o2Text;
};

// The camera images a record names, in the order the record names them: with
// colour a "_p" and an "_r" image, without it one.
QStringList imageNames(bool color, int number);

QByteArray calibrationRecord(LogLayout layout, bool color, double unitFactor,
                             const RecordValues& values);
QByteArray rawRecord(double unitFactor, const RecordValues& values);

} // namespace records
