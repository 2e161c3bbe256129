#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM as a Qt signal on the thread that made this object. The
// handler only writes the signal's number into a socket pair; the event loop
// reads it there, so no work happens inside the handler.
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    // One object per process; a second one installs nothing (isValid() false).
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;
    bool isValid() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
};
