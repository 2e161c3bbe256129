#include "flowpollers.h"

#include "boxlink.h"

namespace {

BoxPoller::Cycle flowCycle(quint16 port)
{
    return BoxPoller::Cycle{port, boxlink::kFlowPoll.connectMs, boxlink::kFlowPoll.writeMs,
                            boxlink::kFlowPollSleepMs, flow::threadPollFrame()};
}

} // namespace

workerN2::workerN2(QString boxAddress, QObject* parent)
    : BoxPoller(boxAddress, flowCycle(boxlink::kN2Port), parent), m_grammar(flow::n2PollerGrammar())
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
    for (const QByteArray& line : m_lines.feed(readAnswerBytes())) {
        const flow::PollerReply reply =
            flow::parsePollerReply(m_grammar, QString::fromLatin1(line));
        if (!reply.matched)
            continue;
        deliver([this, reply] { emit valueChangedN2(reply.setPoint, reply.massFlow); });
    }
}

void workerN2::connectFailed()
{
    // Paused before the report is queued, so whoever hears it finds the poller paused.
    pauseFromPollerThread();
    deliver([this] { emit connectionLost(); });
}

workerO2::workerO2(QString boxAddress, QObject* parent)
    : BoxPoller(boxAddress, flowCycle(boxlink::kO2Port), parent), m_grammar(flow::o2PollerGrammar())
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
    for (const QByteArray& line : m_lines.feed(readAnswerBytes())) {
        const flow::PollerReply reply =
            flow::parsePollerReply(m_grammar, QString::fromLatin1(line));
        // A line that is no data frame says nothing about the flow: emit nothing.
        if (!reply.matched)
            continue;
        deliver([this, reply] {
            emit valueChangedO2(reply.setPoint, reply.massFlow);
            emit checkSignalP();
        });
    }
}
