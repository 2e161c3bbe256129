#include "presetfile.h"

#include "settingskeys.h"
#include "units.h"

#include <QCoreApplication>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace records {

namespace {

using namespace presetkeys;

// "Group/KEY", as a reader outside the group names a key.
QString groupKey(const char* group, const char* key)
{
    return QString::fromLatin1(group) + QLatin1Char('/') + QLatin1String(key);
}

const char kUnitsBar[] = "Bar";
const char kUnitsKpa[] = "Pascal";
const char kUnitsPsi[] = "psi";

// Hand-edited files may hold anything. Reading through 64 bits keeps a huge
// number from wrapping into a small or negative int before it is clamped.
int readClampedInt(const QSettings& settings, const QString& key, int maximum)
{
    bool ok = false;
    const qlonglong value = settings.value(key, 0).toLongLong(&ok);
    if (!ok)
        return 0;
    return int(std::clamp<qlonglong>(value, 0, maximum));
}

// A NaN or infinity would poison the spin boxes and the sweep arithmetic.
double readDouble(const QSettings& settings, const QString& key, double fallback)
{
    const double value = settings.value(key, fallback).toDouble();
    return std::isfinite(value) ? value : 0.0;
}

// The toolkit's INI reader turns values such as "@Variant(...)" back into
// serialised objects, and a hand-edited or damaged file can make that
// allocate without bound. Presets only ever hold plain numbers and words, so
// they are read through a format that keeps every value a plain string.
bool readPlainIni(QIODevice& device, QSettings::SettingsMap& map)
{
    QString section;
    while (!device.atEnd()) {
        const QString line = QString::fromUtf8(device.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const int end = line.indexOf(QLatin1Char(']'));
            section = line.mid(1, end < 0 ? -1 : end - 1).trimmed();
            if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                section.clear();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        map.insert(section.isEmpty() ? key : section + QLatin1Char('/') + key, value);
    }
    return true;
}

bool refuseToWrite(QIODevice&, const QSettings::SettingsMap&)
{
    return false;
}

QSettings::Format plainIniFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readPlainIni, refuseToWrite);
    return format;
}

} // namespace

QString padPulseWidth(int milliseconds)
{
    const int width = qBound(kMinPulseWidth, milliseconds, kMaxPulseWidth);
    return QStringLiteral("%1").arg(width, 3, 10, QLatin1Char('0'));
}

std::optional<int> parsePulseWidth(const QString& text)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int value = text.toInt();
    if (value < kMinPulseWidth || value > kMaxPulseWidth)
        return std::nullopt;
    return value;
}

QString unitsTextForFactor(double unitFactor)
{
    if (unitFactor == units::kBarFactor)
        return QLatin1String(kUnitsBar);
    if (unitFactor == units::kKpaFactor)
        return QLatin1String(kUnitsKpa);
    if (unitFactor == units::kPsiFactor)
        return QLatin1String(kUnitsPsi);
    return QString();
}

std::optional<double> unitFactorForText(const QString& text)
{
    if (text == QLatin1String(kUnitsBar))
        return units::kBarFactor;
    if (text == QLatin1String(kUnitsKpa))
        return units::kKpaFactor;
    if (text == QLatin1String(kUnitsPsi))
        return units::kPsiFactor;
    return std::nullopt;
}

bool writePreset(const QString& path, const PresetValues& values)
{
    QSettings settings(path, QSettings::IniFormat);
    // Keys of an earlier preset at this path would otherwise survive, a stale
    // UNITS among them.
    settings.clear();

    settings.beginGroup(QLatin1String(kMainGroup));
    const QString unitsText =
        values.unitFactor ? unitsTextForFactor(*values.unitFactor) : QString();
    if (!unitsText.isEmpty())
        settings.setValue(QLatin1String(kUnits), unitsText);
    settings.setValue(QLatin1String(kWaitBeforePulse), values.waitBeforePulse);
    settings.setValue(QLatin1String(kWaitExtraBeforeZero), values.extraWaitBeforeZero);
    settings.setValue(QLatin1String(kWaitCameraFeedback), values.waitCameraFeedback);
    settings.setValue(QLatin1String(kDelayBetweenPulses), values.delayBetweenPulses);
    settings.setValue(QLatin1String(kPulseWidth), values.pulseWidth);
    settings.endGroup();

    settings.beginGroup(QLatin1String(kManualGroup));
    settings.setValue(QLatin1String(kManualT), values.manualT);
    settings.setValue(QLatin1String(kManualP), values.manualP);
    settings.endGroup();

    settings.beginGroup(QLatin1String(kAutoGroup));
    settings.setValue(QLatin1String(kAutoPOn), values.autoPOn);
    settings.setValue(QLatin1String(kAutoPFrom), values.autoPFrom);
    settings.setValue(QLatin1String(kAutoPTo), values.autoPTo);
    settings.setValue(QLatin1String(kAutoPDelta), values.autoPDelta);
    settings.setValue(QLatin1String(kAutoTOn), values.autoTOn);
    settings.setValue(QLatin1String(kAutoTFrom), values.autoTFrom);
    settings.setValue(QLatin1String(kAutoTTo), values.autoTTo);
    settings.setValue(QLatin1String(kAutoTDelta), values.autoTDelta);
    settings.setValue(QLatin1String(kAddRefP), values.addRefP);
    settings.endGroup();

    settings.sync();
    return settings.status() == QSettings::NoError;
}

PresetReadResult readPreset(const QString& path)
{
    const QSettings settings(path, plainIniFormat());
    PresetReadResult result;
    PresetValues& v = result.values;
    const PresetValues defaults;

    v.unitFactor = unitFactorForText(settings.value(groupKey(kMainGroup, kUnits)).toString());
    v.waitBeforePulse =
        readClampedInt(settings, groupKey(kMainGroup, kWaitBeforePulse), kMaxWaitBeforePulse);
    v.extraWaitBeforeZero = readClampedInt(settings, groupKey(kMainGroup, kWaitExtraBeforeZero),
                                           kMaxExtraWaitBeforeZero);
    v.waitCameraFeedback =
        settings.value(groupKey(kMainGroup, kWaitCameraFeedback), false).toBool();
    v.delayBetweenPulses =
        readClampedInt(settings, groupKey(kMainGroup, kDelayBetweenPulses), kMaxDelayBetweenPulses);

    const QString width =
        settings.value(groupKey(kMainGroup, kPulseWidth), defaults.pulseWidth).toString();
    if (const std::optional<int> ms = parsePulseWidth(width)) {
        v.pulseWidth = padPulseWidth(*ms);
    } else {
        result.pulseWidthRejected = true;
        result.rejectedPulseWidth = width;
    }

    v.manualT = readDouble(settings, groupKey(kManualGroup, kManualT), defaults.manualT);
    v.manualP = readDouble(settings, groupKey(kManualGroup, kManualP), defaults.manualP);

    v.autoPOn = settings.value(groupKey(kAutoGroup, kAutoPOn), false).toBool();
    v.autoPFrom = readDouble(settings, groupKey(kAutoGroup, kAutoPFrom), defaults.autoPFrom);
    v.autoPTo = readDouble(settings, groupKey(kAutoGroup, kAutoPTo), defaults.autoPTo);
    v.autoPDelta = readDouble(settings, groupKey(kAutoGroup, kAutoPDelta), defaults.autoPDelta);
    v.autoTOn = settings.value(groupKey(kAutoGroup, kAutoTOn), false).toBool();
    v.autoTFrom = readDouble(settings, groupKey(kAutoGroup, kAutoTFrom), defaults.autoTFrom);
    v.autoTTo = readDouble(settings, groupKey(kAutoGroup, kAutoTTo), defaults.autoTTo);
    v.autoTDelta = readDouble(settings, groupKey(kAutoGroup, kAutoTDelta), defaults.autoTDelta);
    v.addRefP = settings.value(groupKey(kAutoGroup, kAddRefP), false).toBool();

    result.status = settings.status();
    return result;
}

QMap<QString, QString> readPresetText(const QString& path)
{
    const QSettings settings(path, plainIniFormat());
    QMap<QString, QString> text;
    for (const QString& key : settings.allKeys())
        text.insert(key, settings.value(key).toString());
    return text;
}

QString rejectedPulseWidthMessage(const QString& rejected, const QString& kept)
{
    return QCoreApplication::translate(
               "BarotermClass",
               "Warning: Preset pulse width \"%1\" is not 1 to 999 ms; keeping %2 ms.")
        .arg(rejected, kept);
}

} // namespace records
