#include "readingsexport.h"

#include <QDateTime>
#include <QStringList>

namespace records {

namespace {

using history::Channel;

QString value(float v, int decimals, double factor = 1.0)
{
    if (!history::known(v))
        return QStringLiteral("n/a");
    return QString::number(double(v) * factor, 'f', decimals);
}

QByteArray line(const QStringList& fields)
{
    return (fields.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

QString eventText(const history::Event& event)
{
    QString text = QString::fromUtf8(event.textUtf8);
    if (event.count > 1)
        text += QStringLiteral(" (%1 times)").arg(event.count);
    return text;
}

const QString kReading = QStringLiteral("reading");

} // namespace

QByteArray readingsCsvLine(qint64 atMs, const std::array<float, history::kChannels>& v,
                           double unitFactor, const QString& event, const QString& kind)
{
    // kPa carries its resolution in two decimals, bar and psi in four.
    const int pDecimals = unitFactor >= 50 ? 2 : 4;
    return line({isoUtcMs(atMs), value(v[history::Temperature], 1),
                 value(v[history::TemperatureSet], 1),
                 value(v[history::Pressure], pDecimals, unitFactor),
                 value(v[history::PressureSet], pDecimals, unitFactor), value(v[history::N2], 3),
                 value(v[history::O2], 3), csvField(event), kind});
}

QString eventKindWord(history::EventKind kind)
{
    return kind == history::EventKind::Record ? QStringLiteral("record")
                                              : QStringLiteral("warning");
}

QString isoUtcMs(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray readingsCsvHeader()
{
    return QByteArrayLiteral("time,T_C,T_set_C,P,P_set,N2_slpm,O2_slpm,event,kind\r\n");
}

QByteArray readingsCsv(const history::ReadingHistory& history, double unitFactor)
{
    QByteArray out = readingsCsvHeader();
    const std::vector<history::Event>& events = history.events();
    std::size_t nextEvent = 0;
    const history::Sample unknown;
    const history::Sample* last = &unknown;
    auto eventsUpTo = [&](qint64 atMs) {
        for (; nextEvent < events.size() && events[nextEvent].atMs <= atMs; ++nextEvent)
            out += readingsCsvLine(events[nextEvent].atMs, last->v, unitFactor,
                                   eventText(events[nextEvent]),
                                   eventKindWord(events[nextEvent].kind));
    };
    for (const history::Span& span : history.spans()) {
        // Events of a folded minute come before its lines, without readings.
        eventsUpTo(span.endMs - 1);
        out += readingsCsvLine(span.startMs, span.min, unitFactor, QString(), kReading);
        out += readingsCsvLine(span.startMs, span.max, unitFactor, QString(), kReading);
    }
    for (std::size_t i = 0; i < history.sampleCount(); ++i) {
        const history::Sample& s = history.sample(i);
        eventsUpTo(s.atMs - 1);
        out += readingsCsvLine(s.atMs, s.v, unitFactor, QString(), kReading);
        last = &s;
    }
    eventsUpTo(std::numeric_limits<qint64>::max());
    return out;
}

} // namespace records
