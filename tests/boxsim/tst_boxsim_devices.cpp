// The simulated instruments on the wire: frames in, answers out, and the
// physical model behind them.

#include "boxsimulator.h"
#include "rawclient.h"
#include "testenv.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

using namespace boxsim;

namespace {

// The reply grammars the program matches flow controller lines with.
const QString kFields =
    QStringLiteral("^A ((\\+|\\-)\\d+\\.\\d+)\\s((\\+|\\-)\\d+\\.\\d+)\\s((\\+|\\-)\\d+\\.\\d+)\\s"
                   "((\\+|\\-)\\d+\\.\\d+)\\s");
const QString kGases = QStringLiteral(
    "(Air|Ar|CH4|CO|CO2|C2H6|H2|He|N2|N2O|Ne|O2|C3H8|n-C4H10|C2H2|C2H4|i-C2H10|Kr|Xe|SF6|"
    "C-25|C-10|C-8|C-2|C-75|A-75|A-25|A1025|Star29|P-5)");
const QString kWindowGrammar = kFields + QStringLiteral("(\\d+\\.\\d+)\\s+") + kGases;
const QString kPollerGrammar = kFields + QStringLiteral("((\\+|\\-)?\\d+\\.\\d+)\\s+") + kGases;

Options fastOptions()
{
    Options o;
    o.host = testenv::uniqueLoopbackHost();
    o.httpPort = 0;
    o.timeScale = 600; // 60 s thermal constant -> 0.1 s, 1 s flow response -> 1.7 ms
    return o;
}

// Mass flow and set point of a data line, as the pollers read them.
QPair<double, double> massAndSetPoint(const QByteArray& line)
{
    const QRegularExpressionMatch m =
        QRegularExpression(kPollerGrammar).match(QString::fromLatin1(line));
    if (!m.hasMatch())
        return {-1, -1};
    return {m.captured(7).toDouble(), m.captured(9).toDouble()};
}

} // namespace

class TestBoxsimDevices : public QObject
{
    Q_OBJECT

private slots:
    void modbusCrc();
    void temperaturePollAndSetPoint();
    void temperatureFollowsSetPoint();
    void temperatureFraming();
    void flowDataLines();
    void flowSetPointsAndPressure();
    void flowInitialisationFrames();
    void pulseAnswers();
    void pulseTruthAndFraming();
};

void TestBoxsimDevices::modbusCrc()
{
    QCOMPARE(wire::modbusCrc("123456789"), quint16(0x4B37));
    QCOMPARE(wire::withCrc(modbus("010403E80004")), modbus("010403E8000471B9"));
    QCOMPARE(wire::withCrc(modbus("010603EA00DC")), modbus("010603EA00DCA9E3"));
    QCOMPARE(wire::withCrc(modbus("010603EC0001")), modbus("010603EC000189BB"));
}

void TestBoxsimDevices::temperaturePollAndSetPoint()
{
    Options o = fastOptions();
    o.timeScale = 1;
    BoxSimulator sim(o);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    RawClient c;
    QVERIFY(c.open(o.host, sim.port(Temperature)));

    // 22.0 C at start: register 1000 holds 220, then 1001..1003.
    c.send(modbus("010403E8000471B9"));
    QByteArray answer = c.readAtLeast(13);
    QCOMPARE(answer.size(), 13);
    QCOMPARE(answer.left(5), modbus("01040800DC"));
    QVERIFY(wire::crcMatches(answer));

    // Negative temperatures go out in two's complement.
    sim.setSampleTemperatureC(-10.0);
    c.send(modbus("010403E8000471B9"));
    answer = c.readAtLeast(13);
    QCOMPARE(answer.mid(3, 2), modbus("FF9C"));

    // Write single register is echoed and kept; 1002 becomes the set point.
    c.send(modbus("010603EA00DCA9E3"));
    QCOMPARE(c.readAtLeast(8), modbus("010603EA00DCA9E3"));
    c.send(modbus("010603EC000189BB"));
    QCOMPARE(c.readAtLeast(8), modbus("010603EC000189BB"));
    QCOMPARE(sim.registers().value(1002), 220);
    QCOMPARE(sim.registers().value(1004), 1);
    QCOMPARE(sim.temperatureSetPointC(), 22.0);

    // The set point reads back as register 1002.
    c.send(wire::withCrc(modbus("010403EA0001")));
    QCOMPARE(c.readAtLeast(7), wire::withCrc(modbus("01040200DC")));
    QCOMPARE(sim.frames(Temperature).size(), 5);
}

void TestBoxsimDevices::temperatureFollowsSetPoint()
{
    Options o = fastOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    RawClient c;
    QVERIFY(c.open(o.host, sim.port(Temperature)));
    // Register 1004 = 0 (as after the initialisation) must not stop the control.
    c.send(wire::withCrc(modbus("010603EC0000")));
    QCOMPARE(c.readAtLeast(8).size(), 8);

    auto readTenths = [&c]() {
        c.send(modbus("010403E8000471B9"));
        const QByteArray a = c.readAtLeast(13);
        return a.size() == 13 ? int(qint16((quint8(a.at(3)) << 8) | quint8(a.at(4)))) : -9999;
    };

    // 30.0 C: rises without overshoot and settles on the set point.
    c.send(wire::withCrc(modbus("010603EA012C")));
    QCOMPARE(c.readAtLeast(8).size(), 8);
    int last = readTenths();
    QVERIFY(last >= 220 && last <= 300);
    QVERIFY(sim.waitFor([&] { return qAbs(sim.sampleTemperatureC() - 30.0) < 0.01; }, 3000));
    QCOMPARE(readTenths(), 300);

    // -5.0 C: falls, first-order, towards a negative set point.
    c.send(wire::withCrc(modbus("010603EAFFCE")));
    QCOMPARE(c.readAtLeast(8).size(), 8);
    QCOMPARE(sim.temperatureSetPointC(), -5.0);
    double previous = sim.sampleTemperatureC();
    QVERIFY(previous > -5.0);
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(5);
        const double now = sim.sampleTemperatureC();
        QVERIFY(now <= previous && now >= -5.0);
        previous = now;
    }
    QVERIFY(sim.waitFor([&] { return sim.sampleTemperatureC() == -5.0; }, 3000));
    QCOMPARE(readTenths(), -50);

    // A slower time scale slows the response down accordingly.
    sim.setTimeScale(1);
    c.send(wire::withCrc(modbus("010603EA00C8"))); // 20.0 C
    QCOMPARE(c.readAtLeast(8).size(), 8);
    QTest::qWait(100);
    QVERIFY(sim.sampleTemperatureC() < -4.5);
}

void TestBoxsimDevices::temperatureFraming()
{
    Options o = fastOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    RawClient c;
    QVERIFY(c.open(o.host, sim.port(Temperature)));
    const QByteArray poll = modbus("010403E8000471B9");

    // Two requests in one segment: two answers.
    c.send(poll + modbus("010603EA00DCA9E3"));
    QCOMPARE(c.readAtLeast(13).size(), 13);
    QCOMPARE(c.readAtLeast(8), modbus("010603EA00DCA9E3"));

    // One request in two segments: one answer.
    c.send(poll.left(3));
    QVERIFY(sim.waitForEvent([&](const Event& e) { return e.bytes == poll.left(3); }, 2000));
    c.send(poll.mid(3));
    QCOMPARE(c.readAtLeast(13).size(), 13);

    // A bad CRC and another slave address get no answer: the first answer to
    // come is the one to the good request that follows them.
    QByteArray badCrc = poll;
    badCrc[7] = char(0xB8);
    const QByteArray otherSlave = wire::withCrc(modbus("020403E80004"));
    c.send(badCrc);
    c.send(otherSlave);
    c.send(modbus("010603EA00DCA9E3"));
    QCOMPARE(c.readAtLeast(8), modbus("010603EA00DCA9E3"));
    QCOMPARE(c.readFor(100), QByteArray());

    const QList<Frame> frames = sim.frames(Temperature);
    QCOMPARE(frames.size(), 6);
    QCOMPARE(frames.at(3).bytes, badCrc);
    QCOMPARE(frames.at(4).bytes, otherSlave);
    for (const Frame& f : frames)
        QCOMPARE(f.connection, frames.first().connection);
}

void TestBoxsimDevices::flowDataLines()
{
    Options o = fastOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    for (Device device : {N2, O2}) {
        RawClient c;
        QVERIFY(c.open(o.host, sim.port(device)));
        c.send("A\r");
        const QByteArray line = c.readUntil('\r');
        QVERIFY2(QRegularExpression(kWindowGrammar).match(QString::fromLatin1(line)).hasMatch(),
                 line.constData());
        QVERIFY(line.endsWith(device == N2 ? " N2\r" : " O2\r"));
        QCOMPARE(massAndSetPoint(line), qMakePair(0.0, 0.0));
        // No leading sign on the set point: the window's grammar has none.
        QVERIFY2(line.contains(" +000.000 000.000 "), line.constData());
    }
}

void TestBoxsimDevices::flowSetPointsAndPressure()
{
    Options o = fastOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    RawClient n2;
    RawClient o2;
    QVERIFY(n2.open(o.host, sim.port(N2)));
    QVERIFY(o2.open(o.host, sim.port(O2)));

    // 1 bar: O2 2.12235345 slpm (full scale 10), N2 the rest of 10 (full scale 20).
    const int o2Counts = int(2.12235345 * 64000.0 / 10.0);
    const int n2Counts = int((10.0 - 2.12235345) * 64000.0 / 20.0);
    o2.send("A" + QByteArray::number(o2Counts) + "\r");
    n2.send("A" + QByteArray::number(n2Counts) + "\r");
    const QByteArray o2Answer = o2.readUntil('\r');
    QVERIFY2(QRegularExpression(kWindowGrammar).match(QString::fromLatin1(o2Answer)).hasMatch(),
             o2Answer.constData());
    QCOMPARE(massAndSetPoint(o2Answer).second, 2.122);
    QCOMPARE(massAndSetPoint(n2.readUntil('\r')).second, 7.878);
    QCOMPARE(sim.flowSetPoint(O2), o2Counts * 10.0 / 64000.0);

    QVERIFY(sim.waitFor([&] { return sim.massFlow(O2) == sim.flowSetPoint(O2); }, 2000));
    QVERIFY(sim.waitFor([&] { return sim.massFlow(N2) == sim.flowSetPoint(N2); }, 2000));
    n2.send("A\r");
    o2.send("A\r");
    const double n2Mass = massAndSetPoint(n2.readUntil('\r')).first;
    const double o2Mass = massAndSetPoint(o2.readUntil('\r')).first;
    QCOMPARE(o2Mass, 2.122);
    QCOMPARE(n2Mass, 7.878);
    QVERIFY(qAbs(o2Mass / (n2Mass + o2Mass) / 2.12235345 * 10 - 1.0) < 0.001);
    QVERIFY(qAbs(sim.airPressureBar() - 1.0) < 0.001);

    // Out-of-range requests are clamped to the controller's range.
    o2.send("A99999\r");
    QCOMPARE(massAndSetPoint(o2.readUntil('\r')).second, 10.0);
    o2.send("A-5\r");
    QCOMPARE(massAndSetPoint(o2.readUntil('\r')).second, 0.0);
    n2.send("A0\r");
    QVERIFY(!n2.readUntil('\r').isEmpty());
    QVERIFY(sim.waitFor([&] { return sim.airPressureBar() == -1; }, 2000));
}

void TestBoxsimDevices::flowInitialisationFrames()
{
    Options o = fastOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    RawClient c;
    QVERIFY(c.open(o.host, sim.port(N2)));
    c.send("\r\r*@=A\r");
    c.send("A$$11\r");
    c.send("A$$W20=9239\r");
    c.send("A\r");
    c.send(QByteArray("A\r\0", 3)); // the window's poll
    c.send("B\r");                  // another unit: not answered
    c.send("A$$8\r");
    QVERIFY(sim.waitForFrames(N2, 7, 2000));
    QList<QByteArray> lines;
    for (int i = 0; i < 6; ++i)
        lines << c.readUntil('\r');
    QVERIFY2(lines.at(0).endsWith(" N2\r"), lines.join('|').constData());
    QVERIFY(lines.at(1).endsWith(" O2\r")); // gas index 11 selected
    QVERIFY(lines.at(4).endsWith(" O2\r"));
    QVERIFY(lines.at(5).endsWith(" N2\r"));
    QCOMPARE(c.readFor(50), QByteArray());

    QList<QByteArray> frames;
    for (const Frame& f : sim.frames(N2))
        frames << f.bytes;
    QCOMPARE(frames, QList<QByteArray>(
                         {"*@=A\r", "A$$11\r", "A$$W20=9239\r", "A\r", "A\r", "B\r", "A$$8\r"}));
    QCOMPARE(sim.flowRegisters(N2).value(20), 9239);
    QCOMPARE(sim.gasName(N2), QByteArray("N2"));
    QCOMPARE(sim.gasName(O2), QByteArray("O2"));
}

void TestBoxsimDevices::pulseAnswers()
{
    Options o = fastOptions();
    o.timeScale = 50; // camera 200 ms -> 4 ms, camera time-out 5 s -> 100 ms
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    QElapsedTimer timer;

    auto pulse = [&](const QByteArray& command) {
        RawClient c;
        if (!c.open(o.host, sim.port(Pulse)))
            return QByteArray("no connection");
        timer.start();
        c.send(command);
        return c.readAtLeast(4, 3000);
    };

    QCOMPARE(pulse("#010"), QByteArray("KE1\r"));
    QCOMPARE(pulse("$010"), QByteArray("KE2\r"));
    // The pulse width holds the answer back.
    QCOMPARE(pulse("#150"), QByteArray("KE1\r"));
    QVERIFY(timer.elapsed() >= 150);
    sim.setCameraAnswers(false);
    QCOMPARE(pulse("$010"), QByteArray("RR2\r"));
    QVERIFY(timer.elapsed() >= 100);
    Faults f;
    f.pulseFails = true;
    sim.setFaults(Pulse, f);
    QCOMPARE(pulse("#010"), QByteArray("RR1\r"));
    QCOMPARE(pulse("$010"), QByteArray("RR1\r"));
}

void TestBoxsimDevices::pulseTruthAndFraming()
{
    Options o = fastOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    RawClient c;
    QVERIFY(c.open(o.host, sim.port(Pulse)));
    // Noise before a command is skipped, a command split in two is put together.
    c.send("x#0");
    QVERIFY(sim.waitFor([&] { return sim.events(Pulse).size() >= 2; }, 2000));
    c.send("05");
    QCOMPARE(c.readAtLeast(4), QByteArray("KE1\r"));

    RawClient n2;
    RawClient o2;
    QVERIFY(n2.open(o.host, sim.port(N2)));
    QVERIFY(o2.open(o.host, sim.port(O2)));
    n2.send("A25208\r");
    o2.send("A13583\r");
    QVERIFY(!n2.readUntil('\r').isEmpty() && !o2.readUntil('\r').isEmpty());
    QVERIFY(sim.waitFor([&] { return sim.massFlow(N2) == sim.flowSetPoint(N2); }, 2000));
    QVERIFY(sim.waitFor([&] { return sim.massFlow(O2) == sim.flowSetPoint(O2); }, 2000));
    sim.setTimeScale(1); // keeps the sample where it is put for the moment of the pulse
    sim.setSampleTemperatureC(12.5);
    c.send("$020");
    QCOMPARE(c.readAtLeast(4), QByteArray("KE2\r"));

    const QList<PulseTruth> truth = sim.pulseTruth();
    QCOMPARE(truth.size(), 2);
    QCOMPARE(truth.at(0).command, QByteArray("#005"));
    QCOMPARE(truth.at(0).airPressureBar, -1.0);
    QCOMPARE(truth.at(1).command, QByteArray("$020"));
    QCOMPARE(truth.at(1).n2MassFlow, 25208 * 20.0 / 64000.0);
    QCOMPARE(truth.at(1).o2MassFlow, 13583 * 10.0 / 64000.0);
    QVERIFY(qAbs(truth.at(1).airPressureBar - 1.0) < 0.001);
    QVERIFY(qAbs(truth.at(1).sampleTemperatureC - 12.5) < 0.5);
    QVERIFY(truth.at(1).msecs >= truth.at(0).msecs);
}

QTEST_GUILESS_MAIN(TestBoxsimDevices)
#include "tst_boxsim_devices.moc"
