#pragma once

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// ASCII protocol of the two mass-flow controllers (unit "A", lines ending in CR).
namespace flow {

constexpr uchar kN2Id = 1;
constexpr uchar kO2Id = 2;
constexpr int kCountsAtFullScale = 64000;
constexpr int kN2GasIndex = 8;
constexpr int kO2GasIndex = 11;

// Capture numbers of the poller grammars.
constexpr int kMassFlowCapture = 7;
constexpr int kSetPointCapture = 9;

QByteArray threadPollFrame(); // "A" CR
QByteArray windowPollFrame(); // "A" CR NUL
QByteArray unitIdFrame();     // CR CR "*@=A" CR
QByteArray gasSelectFrame(int gasIndex);
QByteArray registerWriteFrame(); // "A$$W20=9239" CR

// Controller id 2 is the O2 controller; every other id means N2.
float fullScale(uchar id);
quint16 port(uchar id);
qint64 setPointCounts(float slpm, uchar id);
QByteArray setPointFrame(float slpm, uchar id);
// The set point, in slpm, that a controller holds once setPointFrame(slpm, id)
// has reached it: the counts are truncated and kept within 0 .. full scale.
double heldSetPoint(float slpm, uchar id);
// Whether the set point a controller reports (data line field 5) is the one
// it holds after `sentSlpm` was sent. The margin covers a data line printed
// with two decimals; a lost set point differs by a whole pressure step.
bool reportsSetPoint(float reportedSlpm, float sentSlpm, uchar id);
// Whether a controller's mass flow has settled at its set point (within 0.2 %
// of full scale): right after a change the flow is still on its way there.
bool flowSettled(float massFlowSlpm, float setPointSlpm, uchar id);

// The gases in index order (the gas-select frames use these indices).
const QStringList& gasNames();

// The three reply grammars as pattern text. Each is anchored at the start of
// the text only: trailing text after the gas name still matches.
QString windowGrammar();
QString n2PollerGrammar();
QString o2PollerGrammar();

// A grammar compiled the way replies have always been matched: \d and \s take
// any Unicode digit and blank, '.' any character including LF, and '^' holds
// at the start of the text only (no multi-line mode).
QRegularExpression compileGrammar(const QString& pattern);

struct PollerReply
{
    bool matched = false;
    float setPoint = 0; // field 5
    float massFlow = 0; // field 4
};

// Searches `text` from position 0 with a compiled poller grammar. Without a
// match, or when a field is too long for a finite float, both values are 0.
PollerReply parsePollerReply(const QRegularExpression& grammar, const QString& text);

// Collects the bytes of one connection into lines ended by CR. A LF right after
// a CR is dropped, empty lines are skipped, and a line longer than kMaxLine is
// dropped whole.
class LineAssembler
{
public:
    static constexpr int kMaxLine = 512;

    QList<QByteArray> feed(const QByteArray& bytes);
    void clear()
    {
        m_buffer.clear();
        m_overlong = false;
    }
    int pendingBytes() const { return int(m_buffer.size()); }

private:
    QByteArray m_buffer;
    bool m_overlong = false;
};

} // namespace flow
