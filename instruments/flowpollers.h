#pragma once

#include "boxpoller.h"
#include "flowprotocol.h"

#include <QRegularExpression>
#include <QString>

// Polls the N2 flow controller on port 4001 about every 0.5 s. A lost box
// emits connectionLost() once per loss; the poller tries again every 2 s.
class workerN2 : public BoxPoller
{
    Q_OBJECT

public:
    explicit workerN2(QString boxAddress, QObject* parent = nullptr);
    ~workerN2() override;

signals:
    void valueChangedN2(float, float); // set point, mass flow
    void connectionLost();
    void debugSignal(QString); // kept for the method table: never emitted

public slots:
    // Runs on the poller thread whenever reply bytes arrive.
    void readPressureData();

protected:
    void run() override;
    void answerReady() override { readPressureData(); }
    void connectFailed() override;
    void connectionReset() override { m_lines.clear(); }

private:
    flow::LineAssembler m_lines;  // poller thread only
    QRegularExpression m_grammar; // poller thread only
};

// Polls the O2 flow controller on port 4002 about every 0.5 s and keeps trying
// silently while the controller cannot be reached.
class workerO2 : public BoxPoller
{
    Q_OBJECT

public:
    explicit workerO2(QString boxAddress, QObject* parent = nullptr);
    ~workerO2() override;

signals:
    void valueChangedO2(float, float); // set point, mass flow
    // Kept for the method table: the window receives none of these three,
    // and only checkSignalP() is emitted (with every reading). workerO2 keeps
    // retrying a lost controller, so it never reports one.
    void checkSignalP();
    void valueChangedO2_(QString);
    void connectionLost();

public slots:
    // Runs on the poller thread whenever reply bytes arrive.
    void readPressureData();

protected:
    void run() override;
    void answerReady() override { readPressureData(); }
    void connectFailed() override {}
    void connectionReset() override { m_lines.clear(); }

private:
    flow::LineAssembler m_lines;  // poller thread only
    QRegularExpression m_grammar; // poller thread only
};
