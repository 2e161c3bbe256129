#pragma once

#include <QMap>
#include <QSettings>
#include <QString>

#include <optional>

// INI preset files: the operator's whole working set (unit, pulse timing,
// manual set points, sweep plan). Pressures are in the unit the preset names.
namespace records {

struct PresetValues
{
    // Main
    std::optional<double> unitFactor; // none: no recognised unit, keep the current one
    int waitBeforePulse = 0;          // seconds
    int extraWaitBeforeZero = 0;      // seconds
    bool waitCameraFeedback = false;
    int delayBetweenPulses = 0;                 // seconds
    QString pulseWidth = QStringLiteral("010"); // milliseconds, three digits
    // Manual
    double manualT = 22.0;
    double manualP = 0.0;
    // Auto
    bool autoPOn = false;
    double autoPFrom = 0.0;
    double autoPTo = 0.0;
    double autoPDelta = 0.0;
    bool autoTOn = false;
    double autoTFrom = 0.0;
    double autoTTo = 0.0;
    double autoTDelta = 0.0;
    bool addRefP = false;
};

// Ranges of the pulse timing dialogs; a preset value outside is clamped.
constexpr int kMaxWaitBeforePulse = 99999;
constexpr int kMaxExtraWaitBeforeZero = 99999;
constexpr int kMaxDelayBetweenPulses = 99;
constexpr int kMinPulseWidth = 1;
constexpr int kMaxPulseWidth = 999;

// "005", "050", "999": the generator takes exactly three digits. Values
// outside 1..999 are clamped first.
QString padPulseWidth(int milliseconds);

// A pulse width given as text: only decimal digits, 1..999.
std::optional<int> parsePulseWidth(const QString& text);

// "Bar", "Pascal" or "psi" for the factors 1, 100 and 14.5038 (exact); empty otherwise.
QString unitsTextForFactor(double unitFactor);
// The inverse, exact and case-sensitive; none for any other text.
std::optional<double> unitFactorForText(const QString& text);

struct PresetReadResult
{
    PresetValues values;
    // PULSE_WIDTH held something other than a width of 1..999 ms; values.pulseWidth
    // is then the default and the window keeps its current width instead.
    bool pulseWidthRejected = false;
    QString rejectedPulseWidth; // the text as found in the file
    QSettings::Status status = QSettings::NoError;
};

// A boolean key's text: "true" or "1" is true, "false" or "0" false; any
// other text is none (and the key reads as false).
std::optional<bool> presetBoolFromText(const QString& text);

// The bytes of a preset file: every value in its group, nothing else, laid
// out as the toolkit's INI settings format writes them. UNITS is left out for
// a factor that is none of the three units.
QByteArray presetToText(const PresetValues& values);

// The bytes of a preset file read: absent keys take the defaults of
// PresetValues; numbers that do not convert read as 0, as the toolkit
// converts them; integers are clamped to their dialog ranges; a boolean that
// is not one of presetBoolFromText()'s reads as false.
PresetReadResult presetFromText(const QByteArray& text);

// Every key of the bytes ("Group/KEY") with its text as found, read the way
// presetFromText() reads it: for checks the conversions above would hide (a
// value that is not a number reads as 0 there).
QMap<QString, QString> presetKeyTexts(const QByteArray& text);
// presetFromText() of the bytes these keys were read from.
PresetReadResult presetFromKeys(const QMap<QString, QString>& keys);

// The file forms of the above. writePreset() replaces the file whole, making
// its folder if need be; false when it could not be written.
bool writePreset(const QString& path, const PresetValues& values);
// A file that does not exist reads as empty; one that cannot be read gives
// the defaults with an access error.
PresetReadResult readPreset(const QString& path);
QMap<QString, QString> readPresetText(const QString& path);

// Status-bar text when a preset's pulse width was not taken.
QString rejectedPulseWidthMessage(const QString& rejected, const QString& kept);

} // namespace records
