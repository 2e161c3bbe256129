#include "workerthread.h"

#include "boxlink.h"

#include <QDebug>

namespace {

BoxPoller::Cycle temperatureCycle()
{
    return BoxPoller::Cycle{boxlink::kTemperaturePort, boxlink::kTemperaturePoll.connectMs,
                            boxlink::kTemperaturePoll.writeMs, boxlink::kTemperaturePollSleepMs,
                            modbus::pollRequest()};
}

} // namespace

WorkerThread::WorkerThread(QString boxAddress, QObject* parent)
    : BoxPoller(boxAddress, temperatureCycle(), parent)
{
}

WorkerThread::~WorkerThread()
{
    stopAndWait();
}

void WorkerThread::run()
{
    pollUntilStopped(true);
}

void WorkerThread::readTemperatureData()
{
    if (!onPollerThread())
        return; // the socket belongs to the poller thread
    const int exceptionsBefore = m_answers.exceptionsDropped();
    const QList<QByteArray> answers = m_answers.feed(readAnswerBytes());
    for (const QByteArray& answer : answers) {
        const float celsius = modbus::decodeTenths(modbus::replyRegisterValue(answer, 3));
        deliver([this, celsius] {
            emit valueChangedT(celsius);
            emit checkSignal();
        });
    }
    if (m_answers.exceptionsDropped() != exceptionsBefore)
        qDebug() << "WorkerThread: exception answer from the temperature controller dropped";
}

void WorkerThread::errorSocket(QAbstractSocket::SocketError)
{
    emit connectionLost();
}

void WorkerThread::connectFailed()
{
    if (!beginLoss())
        return; // tried again, still away: reported already
    deliver([this] {
        emit connectionLost();
        emit debugSignal(QStringLiteral("Stopped"));
    });
}
