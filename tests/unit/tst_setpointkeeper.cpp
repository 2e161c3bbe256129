// Lost set points: when the keeper finds one lost, when it is due again, what
// the operator is told, and the retries going out as commands on the queue.
#include "commandrunner.h"
#include "flowprotocol.h"
#include "setpointkeeper.h"
#include "setpointretries.h"

#include <QtTest>

using setpoint::Controller;
using setpoint::SetPointKeeper;

Q_DECLARE_METATYPE(Controller)

namespace {

// A temperature command takes about this long; its echo is judged at its end.
constexpr qint64 kTemperatureCommandMs = 1000;
// A gas command; then the flow controller is read every 500 ms.
constexpr qint64 kFlowCommandMs = 300;
constexpr qint64 kReadingPeriodMs = 500;

struct Outcome
{
    QList<qint64> sends;
    int notices = 0;
    int warnings = 0;
    QString lastNotice;
    bool dueEarly = false;
    SetPointKeeper::State state = SetPointKeeper::State::Idle;
};

// Plays sends of one value against a controller. `arrivals` gives, per send,
// what the controller makes of it: temperature 1 echoed, 0 no echo, -1 the
// echo of another value; flows the data line (1, 2, ...) from which on the
// controller reports it, 0 never. Every due retry is sent at once.
Outcome play(Controller which, const QList<int>& arrivals, double value)
{
    SetPointKeeper keeper(which);
    Outcome out;
    const double other = which == Controller::Temperature ? value + 1.5 : value + 1.0;
    auto note = [&out](const std::optional<setpoint::Notice>& notice) {
        if (!notice)
            return;
        ++out.notices;
        out.warnings += notice->warning ? 1 : 0;
        out.lastNotice = notice->text;
    };
    qint64 now = 0;
    for (int arrival : arrivals) {
        out.sends << now;
        keeper.sending(value, now);
        if (which == Controller::Temperature) {
            now += kTemperatureCommandMs;
            std::optional<double> echo;
            if (arrival != 0)
                echo = arrival > 0 ? value : other;
            note(keeper.echoResult(echo, now));
        } else {
            now += kFlowCommandMs;
            keeper.sent(now);
            for (int reading = 1; reading <= 6 && keeper.state() == SetPointKeeper::State::Judging;
                 ++reading) {
                now += kReadingPeriodMs;
                const bool shows = arrival > 0 && reading >= arrival;
                note(keeper.flowReading(float(shows ? value : other), now));
            }
        }
        if (keeper.state() != SetPointKeeper::State::Lost)
            break;
        out.dueEarly |= keeper.retryDue(keeper.retryAtMs() - 1);
        now = keeper.retryAtMs();
        if (!keeper.retryDue(now))
            break;
    }
    out.state = keeper.state();
    return out;
}

QList<qint64> temperatureSends(int count)
{
    // One second of command and one of pause per retry, then 10 s pauses.
    QList<qint64> sends;
    qint64 at = 0;
    for (int i = 0; i < count; ++i) {
        sends << at;
        at += kTemperatureCommandMs + (i < 5 ? 1000 : 10000);
    }
    return sends;
}

} // namespace

class SetPointKeeperTest : public QObject
{
    Q_OBJECT
private slots:
    void lostAndSentAgain_data();
    void lostAndSentAgain();
    void warningTexts_data();
    void warningTexts();
    void newerSetPointReplacesAPendingRetry();
    void sameValueAgainCountsAsAnotherTry();
    void lostFlowShowingUpLateNeedsNoRetry();
    void readingsDuringTheCommandDoNotCount();
    void retriesGoOutAsCommandsUntilConfirmed();
    void replacedRetryIsNotSent();
    void closeBoundsTheRetries();
    void heldWhileTheBoxIsGone();
};

void SetPointKeeperTest::lostAndSentAgain_data()
{
    QTest::addColumn<Controller>("which");
    QTest::addColumn<double>("value");
    QTest::addColumn<QList<int>>("arrivals");
    QTest::addColumn<QList<qint64>>("sends");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<bool>("confirmed");

    const QList<int> lostSevenTimes{0, 0, 0, 0, 0, 0, 0, 1};
    QTest::newRow("temperature confirmed at once")
        << Controller::Temperature << 25.0 << QList<int>{1} << QList<qint64>{0} << 0 << true;
    QTest::newRow("temperature lost once") << Controller::Temperature << 25.0 << QList<int>{0, 1}
                                           << QList<qint64>{0, 2000} << 0 << true;
    QTest::newRow("echo of another value") << Controller::Temperature << -20.0 << QList<int>{-1, 1}
                                           << QList<qint64>{0, 2000} << 0 << true;
    // Five retries, then the warning and a retry every 10 s.
    QTest::newRow("temperature lost seven times")
        << Controller::Temperature << 30.0 << lostSevenTimes << temperatureSends(8) << 2 << true;
    QTest::newRow("temperature never confirmed")
        << Controller::Temperature << 30.0 << QList<int>{0, 0, 0, 0, 0, 0} << temperatureSends(6)
        << 1 << false;
    QTest::newRow("flow confirmed at once")
        << Controller::N2 << 7.8776464 << QList<int>{1} << QList<qint64>{0} << 0 << true;
    QTest::newRow("flow confirmed on the third reading")
        << Controller::O2 << 2.1223536 << QList<int>{3} << QList<qint64>{0} << 0 << true;
    // Three readings after the command, then a second's pause.
    QTest::newRow("flow lost after three readings")
        << Controller::O2 << 2.1223536 << QList<int>{4, 1} << QList<qint64>{0, 2800} << 0 << true;
    QTest::newRow("flow lost six times")
        << Controller::N2 << 10.0 << QList<int>{0, 0, 0, 0, 0, 0, 1}
        << QList<qint64>{0, 2800, 5600, 8400, 11200, 14000, 25800} << 1 << true;
}

void SetPointKeeperTest::lostAndSentAgain()
{
    QFETCH(Controller, which);
    QFETCH(double, value);
    QFETCH(QList<int>, arrivals);
    const Outcome out = play(which, arrivals, value);
    QTEST(out.sends, "sends");
    QVERIFY(!out.dueEarly);
    // One line for every loss; the last ones are warnings.
    QCOMPARE(out.notices, out.sends.size() - 1 + (out.state == SetPointKeeper::State::Lost));
    QTEST(out.warnings, "warnings");
    QFETCH(bool, confirmed);
    QCOMPARE(out.state == SetPointKeeper::State::Confirmed, confirmed);
    QCOMPARE(out.state == SetPointKeeper::State::Lost, !confirmed);
}

void SetPointKeeperTest::warningTexts_data()
{
    QTest::addColumn<Controller>("which");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("warning");
    QTest::newRow("temperature")
        << Controller::Temperature << 25.0
        << "The temperature controller did not confirm the set point 25.0 °C, sending it again "
           "(retry 1)."
        << "Warning: the temperature controller does not confirm the set point 25.0 °C.";
    QTest::newRow("N2")
        << Controller::N2 << 7.87765
        << "The N2 controller did not confirm the set point 7.87765 slpm, sending "
           "it again (retry 1)."
        << "Warning: the N2 controller does not confirm the set point 7.87765 slpm.";
    QTest::newRow("O2") << Controller::O2 << 0.0
                        << "The O2 controller did not confirm the set point 0 slpm, sending it "
                           "again (retry 1)."
                        << "Warning: the O2 controller does not confirm the set point 0 slpm.";
}

void SetPointKeeperTest::warningTexts()
{
    QFETCH(Controller, which);
    QFETCH(double, value);
    QFETCH(QString, first);
    QFETCH(QString, warning);
    const QList<int> never{0};
    QCOMPARE(play(which, never, value).lastNotice, first);
    const QList<int> sixTimes{0, 0, 0, 0, 0, 0};
    QCOMPARE(play(which, sixTimes, value).lastNotice, warning);
}

void SetPointKeeperTest::newerSetPointReplacesAPendingRetry()
{
    SetPointKeeper keeper(Controller::Temperature);
    keeper.sending(30.0, 0);
    QVERIFY(keeper.echoResult(std::nullopt, 1000));
    QVERIFY(keeper.retryDue(2000));
    // Before the retry: the operator asks for 35. The lost 30 is never due again.
    keeper.sending(35.0, 1500);
    QVERIFY(!keeper.retryDue(2000));
    QCOMPARE(keeper.retryAtMs(), qint64(-1));
    QCOMPARE(keeper.value(), 35.0);
    QCOMPARE(keeper.tries(), 1);
    // Its own echo confirms it; a late echo of 30 would not.
    QVERIFY(keeper.echoResult(30.0, 2500));
    QCOMPARE(keeper.value(), 35.0);
    QVERIFY(keeper.retryDue(3500));
}

void SetPointKeeperTest::sameValueAgainCountsAsAnotherTry()
{
    // The run sends the same gas again while it waits: each send is a try,
    // so a controller that never takes it still gets its warning.
    SetPointKeeper keeper(Controller::N2);
    qint64 now = 0;
    for (int i = 0; i < 6; ++i) {
        keeper.sending(10.0, now);
        keeper.sent(now += 300);
    }
    QCOMPARE(keeper.tries(), 6);
    std::optional<setpoint::Notice> notice;
    for (int i = 0; i < 3; ++i)
        notice = keeper.flowReading(7.878f, now += 500);
    QVERIFY(notice && notice->warning);
    // Confirmed, the next same value starts counting anew.
    keeper.sending(10.0, now);
    keeper.sent(now += 300);
    QVERIFY(!keeper.flowReading(10.0f, now += 500));
    QCOMPARE(keeper.state(), SetPointKeeper::State::Confirmed);
    keeper.sending(10.0, now);
    QCOMPARE(keeper.tries(), 1);
}

void SetPointKeeperTest::lostFlowShowingUpLateNeedsNoRetry()
{
    SetPointKeeper keeper(Controller::O2);
    keeper.sending(2.5, 0);
    keeper.sent(300);
    for (int i = 1; i <= 3; ++i)
        keeper.flowReading(0.0f, 300 + 500 * i);
    QCOMPARE(keeper.state(), SetPointKeeper::State::Lost);
    // The controller's tolerance: a data line printed with two decimals.
    const float shown = float(flow::heldSetPoint(2.5f, flow::kO2Id) + 0.004);
    QVERIFY(!keeper.flowReading(shown, 2000));
    QCOMPARE(keeper.state(), SetPointKeeper::State::Confirmed);
    QVERIFY(!keeper.retryDue(5000));
}

void SetPointKeeperTest::readingsDuringTheCommandDoNotCount()
{
    SetPointKeeper keeper(Controller::N2);
    keeper.sending(5.0, 0);
    for (int i = 0; i < 5; ++i)
        QVERIFY(!keeper.flowReading(0.0f, 10 * i));
    QCOMPARE(keeper.state(), SetPointKeeper::State::Sending);
    keeper.sent(300);
    keeper.flowReading(0.0f, 800);
    keeper.flowReading(0.0f, 1300);
    QCOMPARE(keeper.state(), SetPointKeeper::State::Judging);
}

namespace {

setpoint::Timing fastTiming()
{
    setpoint::Timing timing;
    timing.retryPauseMs = 20;
    timing.slowRetryPauseMs = 60;
    return timing;
}

} // namespace

void SetPointKeeperTest::retriesGoOutAsCommandsUntilConfirmed()
{
    CommandRunner runner;
    SetPointRetries retries(runner, nullptr, fastTiming());
    QList<double> sent;
    QStringList commands;
    connect(&runner, &CommandRunner::commandFinished, this,
            [&](const QString& name, bool, bool) { commands << name; });
    QList<bool> warnings;
    connect(&retries, &SetPointRetries::notice, this,
            [&](const QString&, bool warning) { warnings << warning; });
    // The controller takes the seventh send.
    retries.setSenders(
        [&](double celsius) {
            sent << celsius;
            retries.temperatureSending(celsius);
            retries.temperatureSent(sent.size() >= 7 ? std::optional<float>(float(celsius))
                                                     : std::nullopt);
        },
        {});
    runner.submit(QStringLiteral("set temperature"), [&] {
        sent << 24.0;
        retries.temperatureSending(24.0);
        retries.temperatureSent(std::nullopt);
        return true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 7, 5000);
    QCOMPARE(sent, (QList<double>{24, 24, 24, 24, 24, 24, 24}));
    QCOMPARE(commands.count(QStringLiteral("set temperature again")), 6);
    QCOMPARE(retries.retriesSent(Controller::Temperature), 6);
    QCOMPARE(warnings, (QList<bool>{false, false, false, false, false, true}));
    QTest::qWait(150);
    QCOMPARE(sent.size(), 7);
}

void SetPointKeeperTest::replacedRetryIsNotSent()
{
    CommandRunner runner;
    SetPointRetries retries(runner, nullptr, fastTiming());
    QList<QPair<float, float>> sent;
    auto send = [&](float n2, float o2) {
        sent << qMakePair(n2, o2);
        retries.flowsSending(n2, o2);
        retries.flowsSent();
    };
    retries.setSenders({}, send);
    send(10.0f, 0.0f);
    // N2 keeps reporting the old set point: lost after three readings.
    for (int i = 0; i < 3; ++i) {
        retries.flowReading(Controller::N2, 7.878f);
        retries.flowReading(Controller::O2, 0.0f);
    }
    QCOMPARE(retries.keeper(Controller::N2).state(), SetPointKeeper::State::Lost);
    // A new gas command before the retry's pause is up replaces it.
    send(7.8776464f, 2.1223536f);
    QTest::qWait(100);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(retries.retriesSent(Controller::N2), 0);
    // Lost in turn, the newer one (both flows, as the gas command sends them) goes again.
    for (int i = 0; i < 3; ++i)
        retries.flowReading(Controller::O2, 0.0f);
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 3, 2000);
    QCOMPARE(sent.last(), qMakePair(7.8776464f, 2.1223536f));
    QCOMPARE(retries.retriesSent(Controller::O2), 1);
    QCOMPARE(retries.retriesSent(Controller::N2), 0);
}

void SetPointKeeperTest::closeBoundsTheRetries()
{
    CommandRunner runner;
    SetPointRetries retries(runner, nullptr, fastTiming());
    int temperatureSends = 0;
    int gasSends = 0;
    retries.setSenders(
        [&](double celsius) {
            ++temperatureSends;
            retries.temperatureSending(celsius);
            retries.temperatureSent(std::nullopt);
        },
        [&](float n2, float o2) {
            ++gasSends;
            retries.flowsSending(n2, o2);
            retries.flowsSent();
        });
    retries.flowsSending(0, 0);
    retries.flowsSent();
    retries.temperatureSending(22.0);
    retries.temperatureSent(std::nullopt);
    QStringList notices;
    connect(&retries, &SetPointRetries::notice, this,
            [&](const QString& text, bool) { notices << text; });
    retries.closing(2);
    QVERIFY(retries.closeRetryPending());
    // Flows are not judged any more; the temperature goes out twice more, then
    // the close may end.
    for (int i = 0; i < 5; ++i)
        retries.flowReading(Controller::N2, 7.0f);
    QTRY_VERIFY_WITH_TIMEOUT(!retries.closeRetryPending(), 2000);
    QTest::qWait(100);
    QCOMPARE(temperatureSends, 2);
    QCOMPARE(gasSends, 0);
    // Only a retry that will go out is announced as one.
    QCOMPARE(notices.size(), 2);
    QVERIFY2(notices[0].contains("sending it again"), qPrintable(notices[0]));
    QCOMPARE(notices[1], QStringLiteral("Warning: the set point 22.0 °C of the temperature "
                                        "controller was not confirmed by the end of the run."));
}

void SetPointKeeperTest::heldWhileTheBoxIsGone()
{
    CommandRunner runner;
    SetPointRetries retries(runner, nullptr, fastTiming());
    QList<bool> echoes{false, true};
    int sends = 0;
    retries.setSenders(
        [&](double celsius) {
            ++sends;
            retries.temperatureSending(celsius);
            retries.temperatureSent(echoes.takeFirst() ? std::optional<float>(float(celsius))
                                                       : std::nullopt);
        },
        {});
    retries.hold(true);
    retries.temperatureSending(40.0);
    retries.temperatureSent(std::nullopt);
    QTest::qWait(100);
    QCOMPARE(sends, 0);
    // A close while the box is gone does not wait for it either.
    retries.closing(2);
    QVERIFY(!retries.closeRetryPending());
    retries.hold(false);
    QVERIFY(retries.closeRetryPending());
    QTRY_COMPARE_WITH_TIMEOUT(sends, 2, 2000);
    QVERIFY(!retries.closeRetryPending());
}

QTEST_MAIN(SetPointKeeperTest)
#include "tst_setpointkeeper.moc"
