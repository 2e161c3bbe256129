#include "flowprotocol.h"

#include <algorithm>
#include <cmath>

namespace flow {

namespace {

// Field 1 to 4: signed numbers; field 5 differs between the grammars.
const char kSignedFields[] = R"(^A ((\+|\-)\d+\.\d+)\s((\+|\-)\d+\.\d+)\s((\+|\-)\d+\.\d+)\s)"
                             R"(((\+|\-)\d+\.\d+)\s)";
const char kUnsignedSetPoint[] = R"((\d+\.\d+)\s+)";
const char kOptionallySignedSetPoint[] = R"(((\+|\-)?\d+\.\d+)\s+)";

QString gasAlternation()
{
    return QLatin1Char('(') + gasNames().join(QLatin1Char('|')) + QLatin1Char(')');
}

} // namespace

QByteArray threadPollFrame()
{
    return QByteArray("A\r");
}

QByteArray windowPollFrame()
{
    return QByteArray("A\r\0", 3);
}

QByteArray unitIdFrame()
{
    return QByteArray("\r\r*@=A\r");
}

QByteArray gasSelectFrame(int gasIndex)
{
    return "A$$" + QByteArray::number(gasIndex) + '\r';
}

QByteArray registerWriteFrame()
{
    return QByteArray("A$$W20=9239\r");
}

float fullScale(uchar id)
{
    return id == kO2Id ? 10.0f : 20.0f;
}

quint16 port(uchar id)
{
    return quint16(4001 + (id == kO2Id ? 1 : 0));
}

qint64 setPointCounts(float slpm, uchar id)
{
    const double counts = std::trunc(double(slpm) * 64000.0 / double(fullScale(id)));
    // Only absurd requests get here; keep the conversion defined.
    if (!(std::fabs(counts) < 1e15))
        return 0;
    return qint64(counts);
}

QByteArray setPointFrame(float slpm, uchar id)
{
    const QString text = QStringLiteral("%1").arg(setPointCounts(slpm, id), 0, 10);
    return 'A' + text.toLatin1() + '\r';
}

double heldSetPoint(float slpm, uchar id)
{
    const qint64 counts = std::clamp<qint64>(setPointCounts(slpm, id), 0, kCountsAtFullScale);
    return double(counts) * double(fullScale(id)) / kCountsAtFullScale;
}

bool reportsSetPoint(float reportedSlpm, float sentSlpm, uchar id)
{
    constexpr double kMarginSlpm = 0.006;
    return std::fabs(double(reportedSlpm) - heldSetPoint(sentSlpm, id)) <= kMarginSlpm;
}

bool flowSettled(float massFlowSlpm, float setPointSlpm, uchar id)
{
    const double margin = 0.002 * double(fullScale(id));
    return std::fabs(double(massFlowSlpm) - double(setPointSlpm)) <= margin;
}

const QStringList& gasNames()
{
    static const QStringList names = {
        QStringLiteral("Air"),   QStringLiteral("Ar"),      QStringLiteral("CH4"),
        QStringLiteral("CO"),    QStringLiteral("CO2"),     QStringLiteral("C2H6"),
        QStringLiteral("H2"),    QStringLiteral("He"),      QStringLiteral("N2"),
        QStringLiteral("N2O"),   QStringLiteral("Ne"),      QStringLiteral("O2"),
        QStringLiteral("C3H8"),  QStringLiteral("n-C4H10"), QStringLiteral("C2H2"),
        QStringLiteral("C2H4"),  QStringLiteral("i-C2H10"), QStringLiteral("Kr"),
        QStringLiteral("Xe"),    QStringLiteral("SF6"),     QStringLiteral("C-25"),
        QStringLiteral("C-10"),  QStringLiteral("C-8"),     QStringLiteral("C-2"),
        QStringLiteral("C-75"),  QStringLiteral("A-75"),    QStringLiteral("A-25"),
        QStringLiteral("A1025"), QStringLiteral("Star29"),  QStringLiteral("P-5"),
    };
    return names;
}

QString windowGrammar()
{
    return QLatin1String(kSignedFields) + QLatin1String(kUnsignedSetPoint) + gasAlternation();
}

QString o2PollerGrammar()
{
    return QLatin1String(kSignedFields) + QLatin1String(kOptionallySignedSetPoint) +
           gasAlternation();
}

QString n2PollerGrammar()
{
    return o2PollerGrammar() + QStringLiteral(".*");
}

QRegularExpression compileGrammar(const QString& pattern)
{
    return QRegularExpression(pattern, QRegularExpression::UseUnicodePropertiesOption |
                                           QRegularExpression::DotMatchesEverythingOption);
}

PollerReply parsePollerReply(const QRegularExpression& grammar, const QString& text)
{
    PollerReply reply;
    const QRegularExpressionMatch match = grammar.match(text);
    if (!match.hasMatch())
        return reply;
    const float setPoint = match.captured(kSetPointCapture).toFloat();
    const float massFlow = match.captured(kMassFlowCapture).toFloat();
    // A field of a mangled line may hold more digits than a float can: an
    // infinite flow would become an infinite pressure in the log.
    if (!std::isfinite(setPoint) || !std::isfinite(massFlow))
        return reply;
    reply.matched = true;
    reply.setPoint = setPoint;
    reply.massFlow = massFlow;
    return reply;
}

QList<QByteArray> LineAssembler::feed(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    for (char c : bytes) {
        if (c == '\r') {
            if (!m_buffer.isEmpty() && !m_overlong)
                lines.append(m_buffer);
            m_buffer.clear();
            m_overlong = false;
            continue;
        }
        // CR LF endings: the LF would otherwise start the next line.
        if (c == '\n' && m_buffer.isEmpty())
            continue;
        if (m_buffer.size() >= kMaxLine) {
            // Whatever ends this line is no reply of ours: drop it up to the next CR.
            m_buffer.clear();
            m_overlong = true;
        }
        m_buffer.append(c);
    }
    return lines;
}

} // namespace flow
