#include "flowpollers.h"

#include "boxlink.h"

namespace {

BoxPoller::Cycle flowCycle(quint16 port)
{
    return BoxPoller::Cycle{port, boxlink::kFlowPoll.connectMs, boxlink::kFlowPoll.writeMs,
                            boxlink::kFlowPollSleepMs, flow::threadPollFrame()};
}

// The replies in whole lines that match the poller's grammar. A line that is
// no data frame says nothing about the flow, so it yields nothing.
QList<flow::PollerReply> matchedReplies(flow::LineAssembler& lines,
                                        const QRegularExpression& grammar, const QByteArray& bytes)
{
    QList<flow::PollerReply> replies;
    for (const QByteArray& line : lines.feed(bytes)) {
        const flow::PollerReply reply = flow::parsePollerReply(grammar, QString::fromLatin1(line));
        if (reply.matched)
            replies.append(reply);
    }
    return replies;
}

} // namespace

workerN2::workerN2(QString boxAddress, QObject* parent)
    : BoxPoller(boxAddress, flowCycle(boxlink::kN2Port), parent),
      m_grammar(flow::compileGrammar(flow::n2PollerGrammar()))
{
}

workerN2::~workerN2()
{
    stopAndWait();
}

void workerN2::run()
{
    pollUntilStopped(false);
}

void workerN2::readPressureData()
{
    if (!onPollerThread())
        return; // the socket belongs to the poller thread
    for (const flow::PollerReply& reply : matchedReplies(m_lines, m_grammar, readAnswerBytes()))
        deliver([this, reply] { emit valueChangedN2(reply.setPoint, reply.massFlow); });
}

void workerN2::connectFailed()
{
    // Lost before the report is queued, so whoever hears it finds the poller lost.
    if (beginLoss())
        deliver([this] { emit connectionLost(); });
}

workerO2::workerO2(QString boxAddress, QObject* parent)
    : BoxPoller(boxAddress, flowCycle(boxlink::kO2Port), parent),
      m_grammar(flow::compileGrammar(flow::o2PollerGrammar()))
{
}

workerO2::~workerO2()
{
    stopAndWait();
}

void workerO2::run()
{
    pollUntilStopped(false);
}

void workerO2::readPressureData()
{
    if (!onPollerThread())
        return; // the socket belongs to the poller thread
    for (const flow::PollerReply& reply : matchedReplies(m_lines, m_grammar, readAnswerBytes())) {
        deliver([this, reply] {
            emit valueChangedO2(reply.setPoint, reply.massFlow);
            emit checkSignalP();
        });
    }
}
