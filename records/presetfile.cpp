#include "presetfile.h"

#include "settingskeys.h"
#include "units.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QVariant>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace records {

namespace {

using namespace presetkeys;

// Every key of a preset, in the order the toolkit's INI format writes them:
// groups, then keys within a group, sorted by name.
enum PresetKey
{
    AddRefP,
    AutoPDelta,
    AutoPFrom,
    AutoPOn,
    AutoPTo,
    AutoTDelta,
    AutoTFrom,
    AutoTOn,
    AutoTTo,
    DelayBetweenPulses,
    PulseWidth,
    Units,
    WaitBeforePulse,
    WaitCameraFeedback,
    WaitExtraBeforeZero,
    ManualP,
    ManualT,
    KeyCount
};

struct KeyName
{
    const char* group;
    const char* key;
};

constexpr KeyName kKeyNames[KeyCount] = {
    {kAutoGroup, kAddRefP},
    {kAutoGroup, kAutoPDelta},
    {kAutoGroup, kAutoPFrom},
    {kAutoGroup, kAutoPOn},
    {kAutoGroup, kAutoPTo},
    {kAutoGroup, kAutoTDelta},
    {kAutoGroup, kAutoTFrom},
    {kAutoGroup, kAutoTOn},
    {kAutoGroup, kAutoTTo},
    {kMainGroup, kDelayBetweenPulses},
    {kMainGroup, kPulseWidth},
    {kMainGroup, kUnits},
    {kMainGroup, kWaitBeforePulse},
    {kMainGroup, kWaitCameraFeedback},
    {kMainGroup, kWaitExtraBeforeZero},
    {kManualGroup, kManualP},
    {kManualGroup, kManualT},
};

// "Group/KEY", as a reader outside the group names a key; made once.
const QString& groupKey(PresetKey key)
{
    static const QVector<QString> names = [] {
        QVector<QString> made;
        for (const KeyName& name : kKeyNames)
            made << QLatin1String(name.group) + QLatin1Char('/') + QLatin1String(name.key);
        return made;
    }();
    return names.at(key);
}

const char kUnitsBar[] = "Bar";
const char kUnitsKpa[] = "Pascal";
const char kUnitsPsi[] = "psi";

// Hand-edited files may hold anything. Reading through 64 bits keeps a huge
// number from wrapping into a small or negative int before it is clamped.
int clampedInt(const QVariant& value, int maximum)
{
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok)
        return 0;
    return int(std::clamp<qlonglong>(number, 0, maximum));
}

// A NaN or infinity would poison the spin boxes and the sweep arithmetic.
double finiteDouble(const QVariant& value)
{
    const double number = value.toDouble();
    return std::isfinite(number) ? number : 0.0;
}

// Sections and key=value lines, every value kept as the plain text it is:
// the toolkit's own INI reader would turn values such as "@Variant(...)" back
// into serialised objects, and a hand-edited or damaged file can make that
// allocate without bound. Presets only ever hold plain numbers and words.
QMap<QString, QString> plainIniKeys(const QByteArray& bytes)
{
    QMap<QString, QString> keys;
    QString section;
    // Decoded at once, and cut into lines as the file was always read: each
    // line on its own, so each loses a byte order mark at its start, and in
    // Qt 5 ends at a zero byte.
    const QString text = QString::fromUtf8(bytes.constData(), int(bytes.size()));
    const QStringView all(text);
    qsizetype from = 0;
    while (from < all.size()) {
        const auto newline = all.indexOf(QLatin1Char('\n'), from);
        const qsizetype end = newline < 0 ? all.size() : newline + 1;
        QStringView raw = all.mid(from, end - from);
        if (from > 0 && raw.startsWith(QChar(QChar::ByteOrderMark)))
            raw = raw.mid(1);
        from = end;
#if QT_VERSION_MAJOR < 6
        const auto zero = raw.indexOf(QChar(0));
        if (zero >= 0)
            raw = raw.left(zero);
#endif
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.front() == QLatin1Char(';') || line.front() == QLatin1Char('#'))
            continue;
        if (line.front() == QLatin1Char('[')) {
            const auto close = line.indexOf(QLatin1Char(']'));
            section = line.mid(1, close < 0 ? -1 : close - 1).trimmed().toString();
            if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                section.clear();
            continue;
        }
        const auto equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QStringView key = line.left(equals).trimmed();
        QStringView value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        QString name = section;
        if (!name.isEmpty())
            name += QLatin1Char('/');
        name.append(key.data(), int(key.size()));
        keys.insert(name, value.toString());
    }
    return keys;
}

bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The letter of a C escape the INI format writes for `c`, or 0.
char escapeLetter(char16_t c)
{
    switch (c) {
    case u'\a':
        return 'a';
    case u'\b':
        return 'b';
    case u'\f':
        return 'f';
    case u'\n':
        return 'n';
    case u'\r':
        return 'r';
    case u'\t':
        return 't';
    case u'\v':
        return 'v';
    case u'"':
        return '"';
    case u'\\':
        return '\\';
    default:
        return 0;
    }
}

constexpr bool kEscapeFrom7F = QT_VERSION_MAJOR < 6;

// Qt 6 writes a text's unescaped characters through one UTF-8 encoder,
// which holds back a surrogate until the next such character: a high and a
// low one make a character, any other held one becomes the replacement
// character, and one still held at the end is dropped.
void appendUtf8(QByteArray& out, char16_t c, char16_t& held)
{
    if (held && QChar::isHighSurrogate(held) && QChar::isLowSurrogate(c)) {
        out += (QString(QChar(held)) + QChar(c)).toUtf8();
        held = 0;
        return;
    }
    if (held)
        out += "\xEF\xBF\xBD";
    held = 0;
    if (QChar::isSurrogate(c))
        held = c;
    else
        out += QString(QChar(c)).toUtf8();
}

// A text value as the toolkit's INI format writes it: a leading '@' doubled
// (or the whole text marked as a string when it holds a zero), control
// characters escaped, and quotes around a text that holds a list or comment
// separator or starts or ends with a blank. The toolkit escapes the
// characters from 0x7F on in Qt 5 and writes them as UTF-8 in Qt 6.
QByteArray iniValueText(QString text)
{
    if (text.contains(QChar(0)))
        text = QLatin1String("@String(") + text + QLatin1Char(')');
    else if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));

    QByteArray out;
    bool quoted = false;
    bool afterHexEscape = false; // a hex digit next would extend the escape
    char16_t heldSurrogate = 0;
    const auto hexEscape = [&out](char16_t c) { out += "\\x" + QByteArray::number(uint(c), 16); };
    for (int i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u';' || c == u',' || c == u'=')
            quoted = true;
        if (afterHexEscape && isHexDigit(c)) {
            hexEscape(c);
            continue;
        }
        afterHexEscape = false;
        const char letter = escapeLetter(c);
        if (c == 0) {
            out += "\\0";
            afterHexEscape = true;
        } else if (letter) {
            out += '\\';
            out += letter;
        } else if (c < 0x20 || (c >= 0x7F && kEscapeFrom7F)) {
            hexEscape(c);
            afterHexEscape = true;
        } else if (kEscapeFrom7F) {
            out += char(c);
        } else {
            appendUtf8(out, c, heldSurrogate);
        }
    }
    if (quoted || out.startsWith(' ') || out.endsWith(' '))
        out = '"' + out + '"';
    return out;
}

QByteArray fileBytes(const QString& path, QSettings::Status* status)
{
    *status = QSettings::NoError;
    // A file that is not there reads as empty, as one that has no bytes.
    const QFileInfo info(path);
    if (!info.exists())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *status = QSettings::AccessError;
        return QByteArray();
    }
    return file.size() == 0 ? QByteArray() : file.readAll();
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

std::optional<bool> presetBoolFromText(const QString& text)
{
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return std::nullopt;
}

QByteArray presetToText(const PresetValues& values)
{
    // As the toolkit writes each type: numbers need no escapes.
    const auto number = [](double value) { return QVariant(value).toString().toLatin1(); };
    const auto flag = [](bool value) { return QByteArray(value ? "true" : "false"); };
    QByteArray texts[KeyCount];
    texts[AddRefP] = flag(values.addRefP);
    texts[AutoPDelta] = number(values.autoPDelta);
    texts[AutoPFrom] = number(values.autoPFrom);
    texts[AutoPOn] = flag(values.autoPOn);
    texts[AutoPTo] = number(values.autoPTo);
    texts[AutoTDelta] = number(values.autoTDelta);
    texts[AutoTFrom] = number(values.autoTFrom);
    texts[AutoTOn] = flag(values.autoTOn);
    texts[AutoTTo] = number(values.autoTTo);
    texts[DelayBetweenPulses] = QByteArray::number(values.delayBetweenPulses);
    texts[PulseWidth] = iniValueText(values.pulseWidth);
    texts[Units] =
        (values.unitFactor ? unitsTextForFactor(*values.unitFactor) : QString()).toLatin1();
    texts[WaitBeforePulse] = QByteArray::number(values.waitBeforePulse);
    texts[WaitCameraFeedback] = flag(values.waitCameraFeedback);
    texts[WaitExtraBeforeZero] = QByteArray::number(values.extraWaitBeforeZero);
    texts[ManualP] = number(values.manualP);
    texts[ManualT] = number(values.manualT);

    QByteArray text;
    text.reserve(512);
    const char* group = nullptr;
    for (int key = 0; key < KeyCount; ++key) {
        if (key == Units && texts[key].isEmpty())
            continue; // a factor that is none of the three units
        const KeyName& name = kKeyNames[key];
        if (name.group != group) {
            if (group)
                text += '\n';
            group = name.group;
            text.append('[').append(group).append("]\n");
        }
        text.append(name.key).append('=').append(texts[key]).append('\n');
    }
    return text;
}

PresetReadResult presetFromText(const QByteArray& text)
{
    return presetFromKeys(plainIniKeys(text));
}

PresetReadResult presetFromKeys(const QMap<QString, QString>& keys)
{
    // The value of a key as the toolkit's settings would give it.
    const auto value = [&keys](PresetKey key, const QVariant& fallback) {
        const auto found = keys.constFind(groupKey(key));
        return found == keys.cend() ? fallback : QVariant(*found);
    };
    const auto flag = [&keys](PresetKey key) {
        const auto found = keys.constFind(groupKey(key));
        return found != keys.cend() && presetBoolFromText(*found).value_or(false);
    };
    PresetReadResult result;
    PresetValues& v = result.values;
    const PresetValues defaults;

    v.unitFactor = unitFactorForText(value(Units, QVariant()).toString());
    v.waitBeforePulse = clampedInt(value(WaitBeforePulse, 0), kMaxWaitBeforePulse);
    v.extraWaitBeforeZero = clampedInt(value(WaitExtraBeforeZero, 0), kMaxExtraWaitBeforeZero);
    v.waitCameraFeedback = flag(WaitCameraFeedback);
    v.delayBetweenPulses = clampedInt(value(DelayBetweenPulses, 0), kMaxDelayBetweenPulses);

    const QString width = value(PulseWidth, defaults.pulseWidth).toString();
    if (const std::optional<int> ms = parsePulseWidth(width)) {
        v.pulseWidth = padPulseWidth(*ms);
    } else {
        result.pulseWidthRejected = true;
        result.rejectedPulseWidth = width;
    }

    v.manualT = finiteDouble(value(ManualT, defaults.manualT));
    v.manualP = finiteDouble(value(ManualP, defaults.manualP));

    v.autoPOn = flag(AutoPOn);
    v.autoPFrom = finiteDouble(value(AutoPFrom, defaults.autoPFrom));
    v.autoPTo = finiteDouble(value(AutoPTo, defaults.autoPTo));
    v.autoPDelta = finiteDouble(value(AutoPDelta, defaults.autoPDelta));
    v.autoTOn = flag(AutoTOn);
    v.autoTFrom = finiteDouble(value(AutoTFrom, defaults.autoTFrom));
    v.autoTTo = finiteDouble(value(AutoTTo, defaults.autoTTo));
    v.autoTDelta = finiteDouble(value(AutoTDelta, defaults.autoTDelta));
    v.addRefP = flag(AddRefP);
    return result;
}

QMap<QString, QString> presetKeyTexts(const QByteArray& text)
{
    return plainIniKeys(text);
}

bool writePreset(const QString& path, const PresetValues& values)
{
    // As the toolkit's settings write a file: an existing one must be
    // writable, a new one's folder is made; writers of one file take turns,
    // and the file is replaced whole or not at all.
    const QFileInfo info(path);
    const bool exists = info.exists();
    if (exists) {
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite))
            return false;
    } else if (!QDir().mkpath(info.absolutePath())) {
        return false;
    }
    QLockFile lock(path + QLatin1String(".lock"));
    if (!lock.lock())
        return false;
    QSaveFile file(path);
    const QByteArray text = presetToText(values);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return false;
    if (!exists)
        QFile::setPermissions(path,
                              QFile::permissions(path) | QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

PresetReadResult readPreset(const QString& path)
{
    QSettings::Status status;
    const QByteArray text = fileBytes(path, &status);
    PresetReadResult result = presetFromText(text);
    result.status = status;
    return result;
}

QMap<QString, QString> readPresetText(const QString& path)
{
    QSettings::Status status;
    return presetKeyTexts(fileBytes(path, &status));
}

QString rejectedPulseWidthMessage(const QString& rejected, const QString& kept)
{
    return QCoreApplication::translate(
               "BarotermClass",
               "Warning: Preset pulse width \"%1\" is not 1 to 999 ms; keeping %2 ms.")
        .arg(rejected, kept);
}

} // namespace records
