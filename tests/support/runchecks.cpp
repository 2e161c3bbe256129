#include "runchecks.h"

#include <QFile>

#include <cmath>

QStringList logLines(const QString& path, bool* allCrLf)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (allCrLf) {
        const int lf = int(bytes.count('\n'));
        *allCrLf = bytes.endsWith("\r\n") && int(bytes.count("\r\n")) == lf;
    }
    QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QList<double> temperatureSetPoints(const boxsim::BoxSimulator& box)
{
    QList<double> result;
    for (const boxsim::Frame& frame : box.frames(boxsim::Temperature)) {
        const QByteArray& b = frame.bytes;
        if (b.size() == 8 && quint8(b[1]) == 0x06 && quint8(b[2]) == 0x03 && quint8(b[3]) == 0xEA)
            result.append(qint16(quint16(quint8(b[4]) << 8 | quint8(b[5]))) / 10.0);
    }
    return result;
}

QString checkRecordsAgainstTruth(const boxsim::BoxSimulator& box, const QStringList& lines)
{
    // A pulse the generator refused took no image.
    QList<boxsim::PulseTruth> truth;
    for (const boxsim::PulseTruth& pulse : box.pulseTruth())
        if (!pulse.refused)
            truth.append(pulse);
    const int records = lines.size() - 1;
    if (records != truth.size())
        return QStringLiteral("%1 records but %2 pulses").arg(records).arg(truth.size());
    for (int i = 0; i < records; ++i) {
        const QStringList fields = lines[i + 1].split(QLatin1Char(','));
        if (fields.size() != 6)
            return QStringLiteral("record %1 has %2 fields").arg(i + 1).arg(fields.size());
        const double p = fields[0].toDouble();
        const double t = fields[1].toDouble();
        if (std::fabs(t - truth[i].sampleTemperatureC) > 0.1)
            return QStringLiteral("record %1: T %2, box %3")
                .arg(i + 1)
                .arg(t)
                .arg(truth[i].sampleTemperatureC);
        if (std::fabs(p - truth[i].airPressureBar) > 0.01)
            return QStringLiteral("record %1: P %2, box %3")
                .arg(i + 1)
                .arg(p)
                .arg(truth[i].airPressureBar);
        const QString n = QStringLiteral("%1").arg(i + 1, 6, 10, QLatin1Char('0'));
        if (fields[2] != QStringLiteral("calib_%1_p.tif").arg(n) ||
            fields[3] != QLatin1String("1") ||
            fields[4] != QStringLiteral("calib_%1_r.tif").arg(n) || fields[5] != QLatin1String("1"))
            return QStringLiteral("record %1: image columns %2").arg(i + 1).arg(lines[i + 1]);
    }
    return QString();
}
