// The pulse sequence against the simulated generator: command bytes, the
// camera's answers, several pulses per point and a generator that is silent.
#include "boxfixture.h"
#include "boxlink.h"
#include "resourcesinit.h"
#include "testenv.h"
#include "unacceptingport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QtTest>

using boxsim::Device;

class PulseTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void manualPulseWithoutCamera();
    void cameraAnswers_data();
    void cameraAnswers();
    void severalPulsesPerPoint();
    void splitAnswerIsCollected();
    void silentGeneratorDoesNotHoldTheSequence();
    void unreachableGeneratorIsNotWaitedFor();
    void windowAnswersWhileTheGeneratorNeverAccepts();
    void timingDialogs();
};

namespace {

QStringList pulseCommands(const BoxFixture& f)
{
    QStringList commands;
    for (const boxsim::Frame& frame : f.box->frames(Device::Pulse))
        commands.append(QString::fromLatin1(frame.bytes));
    return commands;
}

} // namespace

void PulseTest::initTestCase()
{
    testenv::isolateSettings();
    registerBarotermResources();
}

void PulseTest::manualPulseWithoutCamera()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const int e0 = f.eventMark();
    findIn<QAction>(w, "actionManual_Pulse")->trigger();
    QCOMPARE(pulseCommands(f), QStringList{QStringLiteral("#010")});
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("OK"));
    // No poll reached any instrument while the pulse was out.
    const QList<boxsim::Event> events = f.box->events();
    qint64 pulseAt = -1, answerDone = -1;
    for (int i = e0; i < events.size(); ++i) {
        if (events[i].device == Device::Pulse && events[i].kind == boxsim::Event::Data)
            pulseAt = events[i].msecs;
    }
    QVERIFY(pulseAt >= 0);
    answerDone = pulseAt + 30; // the simulated generator answers within a few ms
    // A poll that left just before the pause may arrive with the pulse; the
    // pause closes its connection at once, and no poller connects again
    // before the answer.
    auto closedByAnswer = [&](int from, quint64 connection) {
        for (int j = from; j < events.size() && events[j].msecs <= answerDone; ++j)
            if (events[j].kind == boxsim::Event::Disconnected && events[j].connection == connection)
                return true;
        return false;
    };
    for (int i = e0; i < events.size(); ++i) {
        const boxsim::Event& e = events[i];
        if (e.device == Device::Pulse || e.msecs < pulseAt - 50 || e.msecs > answerDone)
            continue;
        if (e.kind == boxsim::Event::Connected)
            QVERIFY2(e.msecs <= pulseAt,
                     qPrintable(QStringLiteral("connection during the pulse on %1").arg(e.device)));
        if (e.kind == boxsim::Event::Data)
            QVERIFY2(closedByAnswer(i, e.connection),
                     qPrintable(QStringLiteral("poll during the pulse on %1").arg(e.device)));
    }
    // The pollers come back afterwards.
    QVERIFY(f.box->waitForFrames(Device::Temperature, f.mark(Device::Temperature) + 1, 3000));
}

void PulseTest::cameraAnswers_data()
{
    QTest::addColumn<bool>("cameraAnswers");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("boxes");
    QTest::newRow("KE2") << true << false << "Camera answer received" << 0;
    QTest::newRow("RR2") << false << false
                         << "Warning: Camera did not answer after 5 seconds @ T:" << 0;
    // A refused pulse took no image: the warning names it after the box.
    QTest::newRow("RR1") << true << true
                         << "Warning: The pulse generator refused pulse 1 of 1 @ T:" << 1;
}

void PulseTest::cameraAnswers()
{
    QFETCH(bool, cameraAnswers);
    QFETCH(bool, fails);
    QFETCH(QString, status);
    QFETCH(int, boxes);
    BoxFixture f;
    boxsim::Options options = BoxFixture::fastOptions();
    options.cameraAnswers = cameraAnswers;
    QVERIFY(f.startBox(options));
    boxsim::Faults faults;
    faults.pulseFails = fails;
    f.box->setFaults(Device::Pulse, faults);
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    findIn<QAction>(w, "actionSet_Camera_Feedback")->setChecked(true);
    w->doPulse();
    QCOMPARE(pulseCommands(f), QStringList{QStringLiteral("$010")});
    QVERIFY2(w->statusBar()->currentMessage().startsWith(status),
             qPrintable(w->statusBar()->currentMessage()));
    QCOMPARE(f.dialogs.count(QStringLiteral("warning")), boxes);
    if (boxes) {
        QCOMPARE(f.dialogs.last().title, QStringLiteral("Pulse ERROR"));
        QCOMPARE(f.dialogs.last().label, QStringLiteral("Pulse did not sent!"));
    }
    if (!cameraAnswers || fails)
        QVERIFY(w->statusBar()->styleSheet().contains(QStringLiteral("rgb(255,0,0)")));
    // The next pulse puts back the normal style and goes out again.
    f.box->setFaults(Device::Pulse, boxsim::Faults());
    findIn<QAction>(w, "actionSet_Camera_Feedback")->setChecked(false);
    w->doPulse();
    QCOMPARE(pulseCommands(f).size(), 2);
    QVERIFY(w->statusBar()->styleSheet().contains(QStringLiteral("rgb(0,0,0)")));
}

void PulseTest::severalPulsesPerPoint()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    f.dialogs.pushAccept(3);
    f.dialogs.pushAccept(1);
    w->pulsePerPoint();
    f.dialogs.pushAccept(5);
    w->setPulseWidth();
    QElapsedTimer timer;
    timer.start();
    w->doPulse();
    QCOMPARE(pulseCommands(f),
             (QStringList{QStringLiteral("#005"), QStringLiteral("#005"), QStringLiteral("#005")}));
    // Two delays of 1 s between three pulses, none after the last.
    QVERIFY(timer.elapsed() >= 2000);
    QVERIFY(timer.elapsed() < 4500 * testenv::timingSlack());
    const QList<boxsim::Frame> frames = f.box->frames(Device::Pulse);
    QVERIFY(frames[1].msecs - frames[0].msecs >= 950);
}

void PulseTest::splitAnswerIsCollected()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    boxsim::Faults split;
    split.split = true;
    split.splitPauseMs = 40;
    f.box->setFaults(Device::Pulse, split);
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    findIn<QAction>(w, "actionSet_Camera_Feedback")->setChecked(true);
    w->doPulse();
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Camera answer received"));
    w->doPulse();
    QCOMPARE(pulseCommands(f).size(), 2);
}

void PulseTest::silentGeneratorDoesNotHoldTheSequence()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    boxsim::Faults silent;
    silent.silent = true;
    f.box->setFaults(Device::Pulse, silent);
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    QElapsedTimer timer;
    timer.start();
    w->doPulse();
    QVERIFY(timer.elapsed() < 15000 * testenv::timingSlack());
    QVERIFY(w->statusBar()->styleSheet().contains(QStringLiteral("rgb(255,0,0)")));
    QVERIFY(w->statusBar()->currentMessage().startsWith(QStringLiteral("Warning:")));
    // Not stuck: a second pulse goes out, on a connection of its own, so a
    // late answer to the first could not pass for the second's.
    f.box->setFaults(Device::Pulse, boxsim::Faults());
    w->doPulse();
    const QList<boxsim::Frame> frames = f.box->frames(Device::Pulse);
    QCOMPARE(frames.size(), 2);
    QVERIFY(frames[1].connection != frames[0].connection);
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("OK"));
}

void PulseTest::unreachableGeneratorIsNotWaitedFor()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    // A busy device server accepts and hangs up at once.
    boxsim::Faults refuse;
    refuse.refuse = true;
    f.box->setFaults(Device::Pulse, refuse);
    QElapsedTimer timer;
    timer.start();
    w->doPulse();
    QVERIFY(timer.elapsed() < 3000 * testenv::timingSlack());
    QCOMPARE(w->statusBar()->currentMessage(),
             QStringLiteral("Warning: Can't reach the pulse generator, pulse not sent."));
    QVERIFY(pulseCommands(f).isEmpty());

    // The generator is back: the next pulse connects again and goes out.
    f.box->setFaults(Device::Pulse, boxsim::Faults());
    w->doPulse();
    QCOMPARE(pulseCommands(f), QStringList{QStringLiteral("#010")});
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("OK"));

    // Nobody listens at all.
    f.box->stop();
    timer.restart();
    w->doPulse();
    QVERIFY(timer.elapsed() < 3000 * testenv::timingSlack());
    QVERIFY(w->statusBar()->currentMessage().startsWith(QStringLiteral("Warning: Can't reach")));
}

void PulseTest::windowAnswersWhileTheGeneratorNeverAccepts()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    // The generator's port listens but never accepts: the command waits up to
    // 30 s for its connection.
    f.box->stop();
    UnacceptingPort generator(f.host, boxlink::kPulsePort);
    QVERIFY(generator.ready());

    // A timer every 20 ms: the longest time between two of its events is how
    // long the window went without answering.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longestGap = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        longestGap = qMax(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    // A close ends the connection wait at once.
    qint64 closedAt = -1;
    QTimer::singleShot(1500, this, [&] {
        closedAt = clock.elapsed();
        w->close();
    });
    ticker.start(20);
    w->doPulse();
    const qint64 endedAt = clock.elapsed();
    ticker.stop();
    QVERIFY(closedAt >= 0);
    QVERIFY2(endedAt - closedAt < 1000 * testenv::timingSlack(),
             qPrintable(QString::number(endedAt - closedAt)));
    QVERIFY2(longestGap < 100, qPrintable(QString::number(longestGap)));
    QVERIFY(pulseCommands(f).isEmpty());
    QVERIFY(f.waitUntil([&] { return !f.dialogs.exitCalls().isEmpty(); }, 10000));
}

void PulseTest::timingDialogs()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    f.dialogs.pushCancel();  // pulses per point
    f.dialogs.pushAccept(7); // delay between pulses
    w->pulsePerPoint();
    QCOMPARE(f.dialogs.count(QStringLiteral("int")), 2);
    const QList<ScriptedDialogs::Question> asked = f.dialogs.questions(QStringLiteral("int"));
    QCOMPARE(asked[0].title, QStringLiteral("Set N-pulses per data point"));
    QCOMPARE(asked[1].label, QStringLiteral("Delay between pulses (sec):"));
    QCOMPARE(asked[1].args.value(2).toInt(), 99);

    f.dialogs.pushAccept(50);
    w->setPulseWidth();
    QCOMPARE(f.dialogs.last().args.value(0).toInt(), 10); // opens at the current width
    f.dialogs.pushCancel();
    w->setPulseWidth();
    QCOMPARE(f.dialogs.last().args.value(0).toInt(), 50);

    f.dialogs.pushAccept(99999);
    w->setWaitBeforePulse();
    QCOMPARE(f.dialogs.last().title, QStringLiteral("Set Timeout"));
    f.dialogs.pushAccept(12);
    w->setExtraWaitForZeroP();
    QCOMPARE(f.dialogs.last().title, QStringLiteral("Set Extra Timeout"));
    QCOMPARE(f.dialogs.last().args.value(2).toInt(), 99999);
}

QTEST_MAIN(PulseTest)
#include "tst_pulse.moc"
