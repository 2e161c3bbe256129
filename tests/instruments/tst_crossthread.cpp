#include "crossthread.h"

#include <QThread>
#include <QtTest>

#include <memory>

namespace {

// A receiver that runs posted calls and counts every other event it gets.
class Receiver : public QObject
{
public:
    int otherEvents = 0;

protected:
    bool event(QEvent* event) override
    {
        if (crossthread::runPostedCall(event))
            return true;
        if (event->type() == QEvent::User)
            ++otherEvents;
        return QObject::event(event);
    }
};

} // namespace

class TestCrossThread : public QObject
{
    Q_OBJECT

private slots:
    // Calls posted from another thread run on the receiver's thread, in the
    // order they were posted, and leave the receiver's own events to it.
    void callsRunOnTheReceiversThreadInOrder()
    {
        Receiver receiver;
        QList<int> order;
        bool allOnReceiverThread = true;
        std::unique_ptr<QThread> poster(QThread::create([&] {
            for (int i = 0; i < 100; ++i)
                crossthread::postCall(&receiver, [&, i] {
                    allOnReceiverThread &= QThread::currentThread() == receiver.thread();
                    order.append(i);
                });
            QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
        }));
        poster->start();
        QVERIFY(poster->wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(receiver.otherEvents, 1, 5000);
        QCOMPARE(order.size(), 100);
        for (int i = 0; i < order.size(); ++i)
            QCOMPARE(order.at(i), i);
        QVERIFY(allOnReceiverThread);
    }

    // A receiver going away serves its queued calls at once, and only those.
    void queuedCallsRunOnDemand()
    {
        Receiver receiver;
        int calls = 0;
        crossthread::postCall(&receiver, [&] { ++calls; });
        crossthread::postCall(&receiver, [&] { ++calls; });
        QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
        crossthread::runQueuedCalls(&receiver);
        QCOMPARE(calls, 2);
        QCOMPARE(receiver.otherEvents, 0);
        QCoreApplication::sendPostedEvents(&receiver);
        QCOMPARE(calls, 2);
        QCOMPARE(receiver.otherEvents, 1);
    }
};

QTEST_GUILESS_MAIN(TestCrossThread)
#include "tst_crossthread.moc"
