#pragma once

#include "boxpoller.h"
#include "modbusframes.h"

#include <QAbstractSocket>
#include <QString>

// Polls the temperature controller on port 4000 about every 0.7 s. A lost box
// is reported once per loss (connectionLost(), then debugSignal("Stopped"));
// the poller tries again every 2 s and polls as soon as the box accepts.
class WorkerThread : public BoxPoller
{
    Q_OBJECT

public:
    explicit WorkerThread(QString boxAddress, QObject* parent = nullptr);
    ~WorkerThread() override;

signals:
    void valueChangedT(float newvalue);
    void checkSignal();
    void connectionLost();
    void debugSignal(QString);

public slots:
    // Runs on the poller thread whenever answer bytes arrive.
    void readTemperatureData();
    // Kept for the method table: nothing connects it (the session reports a
    // failed connection through connectFailed()).
    void errorSocket(QAbstractSocket::SocketError);
    void run() override;

protected:
    void answerReady() override { readTemperatureData(); }
    void connectFailed() override;
    void connectionReset() override { m_answers.clear(); }

private:
    modbus::AnswerAssembler m_answers; // poller thread only
};
