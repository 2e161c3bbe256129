#include "logformat.h"

#include "units.h"

namespace records {

namespace {

const char kCrLf[] = "\r\n";
const float kNoFlow = -1.0f;

// Everything but the flow readouts is ASCII; those go out in the local 8-bit
// encoding, as a default text stream would write them.
QByteArray line(const QString& text)
{
    return text.toLocal8Bit() + kCrLf;
}

units::PressureUnit logUnit(double unitFactor)
{
    const units::PressureUnit unit = units::unitFromFactor(unitFactor);
    return unit == units::PressureUnit::Unknown ? units::PressureUnit::Bar : unit;
}

// Pressure names of the headers: the kPa setting logs pascals.
const char* pressureName(units::PressureUnit unit)
{
    switch (unit) {
    case units::PressureUnit::Kpa:
        return "Pa";
    case units::PressureUnit::Psi:
        return "psi";
    default:
        return "Bar";
    }
}

} // namespace

LogLayout layoutFromFilter(const QString& filter)
{
    return filter == QLatin1String("*.csv") ? LogLayout::Csv : LogLayout::Cls;
}

QByteArray calibrationLogHeader(LogLayout layout, bool color, double unitFactor)
{
    const QString unit = QLatin1String(pressureName(logUnit(unitFactor)));
    if (layout == LogLayout::Csv) {
        QString text = QStringLiteral("P[%1],T[C],Isens,Lsens").arg(unit);
        if (color)
            text += QLatin1String(",Iref,Lref");
        return line(text);
    }
    QString text = QStringLiteral("P,%1 T,C Isens Lsens").arg(unit);
    if (color)
        text += QLatin1String(" Iref Lref");
    return line(QStringLiteral("n251")) + line(text);
}

QByteArray rawLogHeader(double unitFactor)
{
    const units::PressureUnit unit = logUnit(unitFactor);
    // Only this header spells bar in lower case.
    const QString name = unit == units::PressureUnit::Bar ? QStringLiteral("bar")
                                                          : QLatin1String(pressureName(unit));
    return line(QStringLiteral("#,N2[slpm],O2[slpm],T[C],Pair[%1],O2[%]").arg(name));
}

QString formatRecordNumber(int number)
{
    const QString digits = QString::number(number);
    if (number < 10)
        return QLatin1String("00000") + digits;
    if (number < 100)
        return QLatin1String("0000") + digits;
    if (number < 1000)
        return QLatin1String("000") + digits;
    if (number < 10000)
        return QLatin1String("00") + digits;
    return QLatin1String("0") + digits;
}

QString formatPressure(float pressureBar, double unitFactor)
{
    if (pressureBar == kNoFlow)
        return QStringLiteral("n/a");
    const double bar = pressureBar;
    switch (logUnit(unitFactor)) {
    case units::PressureUnit::Kpa:
        return QString::number(bar * unitFactor * 1000.0, 'f', 0);
    case units::PressureUnit::Psi:
        return QString::number(bar * unitFactor, 'f', 6);
    default:
        return QString::number(bar, 'f', 6);
    }
}

QString formatTemperature(float celsius)
{
    return QString::number(double(celsius), 'f', 1);
}

QString formatO2Percent(float pressureBar)
{
    if (pressureBar == kNoFlow)
        return QStringLiteral("n/a");
    return QString::number(double(pressureBar) * 2.12235345 * 10.0, 'f', 1);
}

QStringList imageNames(bool color, int number)
{
    const QString n = formatRecordNumber(number);
    if (color)
        return {QStringLiteral("calib_%1_p.tif").arg(n), QStringLiteral("calib_%1_r.tif").arg(n)};
    return {QStringLiteral("calib_%1.tif").arg(n)};
}

QByteArray calibrationRecord(LogLayout layout, bool color, double unitFactor,
                             const RecordValues& values)
{
    const QString sep = layout == LogLayout::Csv ? QStringLiteral(",") : QStringLiteral(" ");
    QStringList fields{formatPressure(values.pressureBar, unitFactor),
                       formatTemperature(values.temperature)};
    for (const QString& image : imageNames(color, values.number))
        fields << image << QStringLiteral("1");
    return line(fields.join(sep));
}

QByteArray rawRecord(double unitFactor, const RecordValues& values)
{
    const QStringList fields{formatRecordNumber(values.number),
                             values.n2Text,
                             values.o2Text,
                             formatTemperature(values.temperature),
                             formatPressure(values.pressureBar, unitFactor),
                             formatO2Percent(values.pressureBar)};
    return line(fields.join(QLatin1Char(',')));
}

} // namespace records
