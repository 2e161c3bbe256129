// Runs carried out by the box session alone, against the in-process box
// simulator: what the logs hold and what the box was sent, whichever
// front-end asked for the run, also when set points or pulses are lost on
// their way.
#include "boxsession.h"

#include "boxsimulator.h"
#include "runchecks.h"
#include "sweep.h"
#include "testenv.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

bool waitUntil(const std::function<bool()>& condition, int ms)
{
    QDeadlineTimer deadline(ms * testenv::timingSlack());
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

// A grid as an operator enters it: pressures in the display unit.
struct Grid
{
    bool tOn = false;
    double tFrom = 22, tTo = 22, tStep = 1;
    bool pOn = false;
    double pFrom = 0, pTo = 0, pStep = 1;
    double unitFactor = 1.0;
    bool reference = false;
    double refT = 22, refP = 1;
};

// When a test loses the run's next set point on its way to the box.
enum class Losing
{
    TemperatureShown, // once the run shows this temperature
    PressureShown,    // once the run shows this pressure
    GasSwitchedOff
};

} // namespace

Q_DECLARE_METATYPE(Grid)
Q_DECLARE_METATYPE(Losing)
Q_DECLARE_METATYPE(boxsim::Device)

class TestBoxSession : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<boxsim::BoxSimulator> box;
    std::unique_ptr<BoxSession> session;
    QStringList warnings;
    int ended = 0;
    int readings = 0;

    // A fresh box and a session connected to it, with a first reading.
    bool connect();
    BoxSession::RunSetup setupFor(const Grid& grid, const QString& log, records::LogLayout layout,
                                  bool color);
    // Gas on by hand at `bar`; true once the box's N2 flow follows.
    bool gasOnByHand(double bar);
    // The set points `device` received, in order: degrees C, or N2 frames.
    QStringList setPointsSent(boxsim::Device device) const;

private slots:
    void initTestCase();
    void cleanup();
    void gridsAsPlanned_data();
    void gridsAsPlanned();
    void stopInTheMiddleMovesNothingMore();
    void stopBeforeThePulseTakesTheRecordBack();
    void lostSetPointInARunIsSentAgain_data();
    void lostSetPointInARunIsSentAgain();
    void pointWithoutPulseIsRepeated();
    void recordIsTrueToALostGasSetPoint_data();
    void recordIsTrueToALostGasSetPoint();
};

void TestBoxSession::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestBoxSession::cleanup()
{
    session.reset();
    box.reset();
    warnings.clear();
    ended = 0;
    readings = 0;
}

bool TestBoxSession::connect()
{
    boxsim::Options options;
    options.host = testenv::uniqueLoopbackHost();
    options.httpPort = 0;
    options.timeScale = 200.0; // the sample reaches each point in about a second
    options.cameraDelayMs = 50;
    box = std::make_unique<boxsim::BoxSimulator>(options);
    QString error;
    if (!box->start(&error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    session = std::make_unique<BoxSession>();
    session->speedUp(10);
    QObject::connect(session.get(), &BoxSession::temperatureRead, this, [this] { ++readings; });
    QObject::connect(session.get(), &BoxSession::message, this,
                     [this](const QString& text, int, PulseSequence::MessageStyle style) {
                         if (style == PulseSequence::MessageStyle::Warning)
                             warnings << text;
                     });
    QObject::connect(session.get(), &BoxSession::runEnded, this, [this] { ++ended; });
    session->connectTo(options.host);
    return waitUntil([this] { return readings > 0; }, 10000);
}

BoxSession::RunSetup TestBoxSession::setupFor(const Grid& grid, const QString& log,
                                              records::LogLayout layout, bool color)
{
    BoxSession::RunSetup setup;
    run::Plan& plan = setup.plan;
    plan.temperatureAxisOn = grid.tOn;
    plan.temperature = sweep::planTemperature(grid.tFrom, grid.tTo, grid.tStep);
    plan.pressureAxisOn = grid.pOn;
    plan.pressure = sweep::planPressure(grid.pFrom, grid.pTo, grid.pStep, grid.unitFactor);
    plan.unitFactor = grid.unitFactor;
    plan.referencePointOn = grid.reference;
    plan.referenceT = grid.refT;
    plan.referenceP = grid.refP;
    plan.writeLog = true;
    plan.gasOff = session->model().gasOff();
    setup.pulses.cameraFeedback = true;
    setup.logFormat = {layout, color, grid.unitFactor};
    setup.journal.plan.layout = layout;
    setup.journal.plan.color = color;
    setup.journal.plan.unitFactor = grid.unitFactor;
    setup.journal.logs = {log, records::rawLogNameFor(log)};
    session->setUnitFactor(grid.unitFactor);
    session->setPulseSettings(setup.pulses);
    session->log().setFiles(setup.journal.logs);
    if (session->log().log().create(setup.logFormat) != records::LogStatus::Ok)
        qWarning("cannot create %s", qPrintable(log));
    return setup;
}

bool TestBoxSession::gasOnByHand(double bar)
{
    session->setShownSetPoints(22, bar);
    session->setGasOff(false);
    session->setGas();
    const double n2 = double(session->flowsForSetPoint().n2);
    return waitUntil([&] { return std::fabs(box->massFlow(boxsim::N2) - n2) < 0.01; }, 10000);
}

QStringList TestBoxSession::setPointsSent(boxsim::Device device) const
{
    QStringList result;
    if (device == boxsim::Temperature) {
        for (double celsius : temperatureSetPoints(*box))
            result << QString::number(celsius, 'f', 1);
        return result;
    }
    for (const boxsim::Frame& frame : box->frames(device))
        if (frame.bytes != "A\r") // a poll
            result << QString::fromLatin1(frame.bytes.chopped(1));
    return result;
}

void TestBoxSession::gridsAsPlanned_data()
{
    QTest::addColumn<Grid>("grid");
    QTest::addColumn<bool>("cls");
    QTest::addColumn<int>("points");
    QTest::addColumn<QList<double>>("temperatures"); // set points sent, in order
    Grid both;
    both.tOn = both.pOn = true;
    both.tTo = 23;
    both.pFrom = 1;
    both.pTo = 2;
    QTest::newRow("bar, both axes, CSV") << both << false << 4 << QList<double>{22, 23, 24, 22};
    Grid kpa;
    kpa.pOn = true;
    kpa.pTo = 200;
    kpa.pStep = 100;
    kpa.unitFactor = 100;
    // The temperature axis off: only the end sends its "From:" value.
    QTest::newRow("kPa pressures, CLS") << kpa << true << 3 << QList<double>{22};
    Grid reference;
    reference.pOn = true;
    reference.reference = true;
    reference.refT = 23;
    reference.refP = 1;
    QTest::newRow("reference point ends the run")
        << reference << false << 2 << QList<double>{23, 22};
}

void TestBoxSession::gridsAsPlanned()
{
    // Every point once, in grid order, each record as the box stood at its
    // pulse; the end leaves the gas off and the "From:" temperature.
    QFETCH(Grid, grid);
    QFETCH(bool, cls);
    QFETCH(int, points);
    QFETCH(QList<double>, temperatures);
    QVERIFY(connect());
    const QString log = dir.filePath(QString::fromLatin1(QTest::currentDataTag()).left(3) +
                                     (cls ? ".cls" : ".csv"));
    const BoxSession::RunSetup setup =
        setupFor(grid, log, cls ? records::LogLayout::Cls : records::LogLayout::Csv, !cls);
    QString error;
    QVERIFY2(session->startRun(setup, &error), qPrintable(error));
    QVERIFY(waitUntil([this] { return ended > 0; }, 60000));
    QVERIFY(waitUntil([this] { return session->controller().canStart(); }, 10000));

    const QStringList records = logLines(log).mid(cls ? 2 : 1);
    const QList<boxsim::PulseTruth> truth = box->pulseTruth();
    QCOMPARE(records.size(), truth.size());
    QCOMPARE(records.size(), points);
    for (int i = 0; i < records.size(); ++i) {
        const QStringList fields = records[i].split(QLatin1Char(cls ? ' ' : ','));
        QCOMPARE(fields.size(), cls ? 4 : 6);
        const double bar = fields[0].toDouble() / (cls ? 100000.0 : 1.0);
        QVERIFY2(std::fabs(bar - truth[i].airPressureBar) < 0.01, qPrintable(records[i]));
        QVERIFY2(std::fabs(fields[1].toDouble() - truth[i].sampleTemperatureC) < 0.1,
                 qPrintable(records[i]));
        const QString number = QStringLiteral("%1").arg(i + 1, 6, 10, QLatin1Char('0'));
        QCOMPARE(fields[2], cls ? QStringLiteral("calib_%1.tif").arg(number)
                                : QStringLiteral("calib_%1_p.tif").arg(number));
    }
    QCOMPARE(logLines(records::rawLogNameFor(log)).size(), records.size() + 1);
    QCOMPARE(temperatureSetPoints(*box), temperatures);
    QCOMPARE(box->flowSetPoint(boxsim::N2), 0.0);
    QCOMPARE(box->flowSetPoint(boxsim::O2), 0.0);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    QVERIFY(!QFile::exists(records::journalPathFor(log)));
}

void TestBoxSession::stopInTheMiddleMovesNothingMore()
{
    QVERIFY(connect());
    Grid grid;
    grid.pOn = true;
    grid.pTo = 4;
    const QString log = dir.filePath(QStringLiteral("stopped.csv"));
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, this, [&] {
        if (box->pulseTruth().size() >= 2) {
            stopper.stop();
            session->stop();
        }
    });
    stopper.start(10);
    QVERIFY(session->startRun(setupFor(grid, log, records::LogLayout::Csv, true)));
    QVERIFY(waitUntil([this] { return ended > 0; }, 10000));
    QVERIFY(waitUntil([this] { return session->controller().canStart(); }, 10000));
    const int records = logLines(log).size() - 1;
    QVERIFY2(records >= 2 && records <= 3, qPrintable(logLines(log).join('\n')));
    // Every record kept has its images.
    QCOMPARE(records, box->pulseTruth().size());
    const int pulses = box->pulseTruth().size();
    const int setPoints = temperatureSetPoints(*box).size();
    QTest::qWait(1500);
    QCOMPARE(box->pulseTruth().size(), pulses);
    QCOMPARE(temperatureSetPoints(*box).size(), setPoints);
    QCOMPARE(box->flowSetPoint(boxsim::O2), 0.0);
    QCOMPARE(ended, 1);
    QVERIFY(!QFile::exists(records::journalPathFor(log)));
}

void TestBoxSession::stopBeforeThePulseTakesTheRecordBack()
{
    // Stopped while the sequence waits before its first pulse: the record
    // whose images were never taken leaves both logs, and nothing is fired.
    QVERIFY(connect());
    Grid grid;
    grid.pOn = true;
    const QString log = dir.filePath(QStringLiteral("before.csv"));
    BoxSession::RunSetup setup = setupFor(grid, log, records::LogLayout::Csv, true);
    setup.pulses.waitBeforeS = 3;
    session->setPulseSettings(setup.pulses);
    // From a timer: the sequence waits in an event loop of its own.
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, this, [&] {
        if (logLines(log).size() == 2 && ended == 0) {
            stopper.stop();
            session->stop();
        }
    });
    stopper.start(10);
    QVERIFY(session->startRun(setup));
    QVERIFY(waitUntil([this] { return ended > 0; }, 10000));
    QVERIFY2(waitUntil([&] { return logLines(log).size() == 1; }, 5000),
             qPrintable(logLines(log).join('\n')));
    QTest::qWait(300);
    QVERIFY(box->frames(boxsim::Pulse).isEmpty());
    QCOMPARE(logLines(records::rawLogNameFor(log)).size(), 1);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestBoxSession::lostSetPointInARunIsSentAgain_data()
{
    QTest::addColumn<Grid>("grid");
    QTest::addColumn<bool>("gasOn"); // by hand at 0 bar before the run
    QTest::addColumn<Losing>("moment");
    QTest::addColumn<double>("shown");
    QTest::addColumn<boxsim::Device>("device");
    QTest::addColumn<int>("records");
    QTest::addColumn<QStringList>("sent"); // by `device` from the lost set point on
    QTest::addColumn<QString>("notice");
    Grid step;
    step.tOn = true;
    step.tTo = 23;
    QTest::newRow("temperature step")
        << step << true << Losing::TemperatureShown << 23.0 << boxsim::Temperature << 2
        << QStringList{"23.0", "23.0", "24.0", "22.0"}
        << QStringLiteral("The temperature controller did not confirm the set point 23.0 °C, "
                          "sending it again (retry 1).");
    Grid reference;
    reference.pOn = true;
    reference.reference = true;
    QTest::newRow("reference point's gas")
        << reference << false << Losing::PressureShown << 1.0 << boxsim::N2 << 2
        << QStringList{"A25208", "A25208", "A0"}
        << QStringLiteral("The N2 controller did not confirm the set point 7.87765 slpm, "
                          "sending it again (retry 1).");
    Grid end;
    end.pOn = true;
    end.pFrom = end.pTo = 1;
    QTest::newRow("gas off at the end")
        << end << false << Losing::GasSwitchedOff << 0.0 << boxsim::N2 << 1
        << QStringList{"A0", "A0"}
        << QStringLiteral("The N2 controller did not confirm the set point 0 slpm, sending it "
                          "again (retry 1).");
}

void TestBoxSession::lostSetPointInARunIsSentAgain()
{
    // The set point goes out once more after a pause; the run waits for it,
    // and every record is true to the box.
    QFETCH(Grid, grid);
    QFETCH(bool, gasOn);
    QFETCH(Losing, moment);
    QFETCH(double, shown);
    QFETCH(boxsim::Device, device);
    QFETCH(int, records);
    QFETCH(QStringList, sent);
    QFETCH(QString, notice);
    QVERIFY(connect());
    // Some gas must flow for the pressure readout to be valid.
    if (gasOn)
        QVERIFY(gasOnByHand(0));
    QStringList notices;
    QObject watcher;
    QObject::connect(session.get(), &BoxSession::setPointNotice, &watcher,
                     [&](const QString& text) { notices << text; });
    int sentBeforeLoss = -1;
    auto loseIf = [&](bool now) {
        if (!now || sentBeforeLoss >= 0)
            return;
        sentBeforeLoss = setPointsSent(device).size();
        boxsim::Faults lose;
        lose.loseSetPoints = 1;
        box->setFaults(device, lose);
    };
    // The run shows a set point before it sends it.
    QObject::connect(
        session.get(), &BoxSession::temperatureSetPointShown, &watcher, [&](double celsius) {
            loseIf(moment == Losing::TemperatureShown && std::fabs(celsius - shown) < 0.01);
        });
    QObject::connect(
        session.get(), &BoxSession::pressureSetPointShown, &watcher, [&](double value) {
            loseIf(moment == Losing::PressureShown && std::fabs(value - shown) < 0.001);
        });
    QObject::connect(session.get(), &BoxSession::gasSwitched, &watcher,
                     [&](bool off) { loseIf(moment == Losing::GasSwitchedOff && off); });
    const QString log = dir.filePath(QString::fromLatin1(QTest::currentDataTag()).left(3) +
                                     QStringLiteral("-lost.csv"));
    QVERIFY(session->startRun(setupFor(grid, log, records::LogLayout::Csv, true)));
    QVERIFY(waitUntil([this] { return ended > 0; }, 60000));
    QVERIFY(sentBeforeLoss >= 0);
    auto sentSinceLoss = [&] { return setPointsSent(device).mid(sentBeforeLoss); };
    // The end's own set point may still be waiting for its retry.
    waitUntil([&] { return sentSinceLoss() == sent; }, 10000);

    QCOMPARE(sentSinceLoss(), sent);
    QCOMPARE(box->faults(device).loseSetPoints, 0);
    const QStringList lines = logLines(log);
    QCOMPARE(lines.size(), records + 1);
    const QString mismatch = checkRecordsAgainstTruth(*box, lines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(box->flowSetPoint(boxsim::O2), 0.0);
    QCOMPARE(session->setPointRetries(device == boxsim::Temperature
                                          ? setpoint::Controller::Temperature
                                          : setpoint::Controller::N2),
             1);
    QCOMPARE(notices, QStringList{notice});
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestBoxSession::pointWithoutPulseIsRepeated()
{
    // The device server turns the first point's pulse away: the record of the
    // point without an image goes, and the point is taken again under its number.
    QVERIFY(connect());
    Grid grid;
    grid.pOn = true;
    grid.pTo = 2;
    grid.pStep = 2;
    boxsim::Faults refuse;
    refuse.refuse = true;
    box->setFaults(boxsim::Pulse, refuse);
    QObject watcher;
    QObject::connect(session.get(), &BoxSession::message, &watcher, [this](const QString& text) {
        if (text.endsWith(QLatin1String("point repeated.")))
            box->setFaults(boxsim::Pulse, boxsim::Faults());
    });
    const QString log = dir.filePath(QStringLiteral("again.csv"));
    QVERIFY(session->startRun(setupFor(grid, log, records::LogLayout::Csv, true)));
    QVERIFY(waitUntil([this] { return ended > 0; }, 60000));

    QCOMPARE(warnings,
             (QStringList{"Warning: Can't reach the pulse generator, pulse not sent.",
                          "Warning: Can't reach the pulse generator @ T:22.0 P:0.0, point "
                          "repeated."}));
    QCOMPARE(box->frames(boxsim::Pulse).size(), 2);
    const QStringList lines = logLines(log);
    QCOMPARE(lines.size(), 3);
    const QString mismatch = checkRecordsAgainstTruth(*box, lines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    const QStringList raw = logLines(records::rawLogNameFor(log));
    QCOMPARE(raw.size(), 3);
    QVERIFY(raw[1].startsWith(QStringLiteral("000001,")));
    QVERIFY(raw[2].startsWith(QStringLiteral("000002,")));
}

void TestBoxSession::recordIsTrueToALostGasSetPoint_data()
{
    QTest::addColumn<bool>("byTheRun");
    QTest::addColumn<double>("n2Recorded");
    // The run's first set points (0 bar) reach O2 only. The temperature
    // controller is silent meanwhile, so no run step comes until the N2
    // poller is back and has read the true, unchanged 7.878 slpm; the record
    // waits until N2 flows at 10 slpm, after those readings were taken.
    QTest::newRow("lost by the run") << true << 10.0;
    // 0 bar by hand reached O2 only: a temperature run sends no gas and
    // records the flows as they are.
    QTest::newRow("lost by hand") << false << 7.878;
}

void TestBoxSession::recordIsTrueToALostGasSetPoint()
{
    QFETCH(bool, byTheRun);
    QFETCH(double, n2Recorded);
    QVERIFY(connect());
    QVERIFY(gasOnByHand(1));
    QVERIFY(std::fabs(box->massFlow(boxsim::N2) - 7.878) < 0.01);
    // The N2 controller refuses connections while 0 bar is sent.
    boxsim::Faults refuse;
    refuse.refuse = true;
    box->setFaults(boxsim::N2, refuse);
    Grid grid;
    grid.pOn = byTheRun;
    grid.tOn = !byTheRun;
    const QString log =
        dir.filePath(byTheRun ? QStringLiteral("run.csv") : QStringLiteral("hand.csv"));
    const BoxSession::RunSetup setup = setupFor(grid, log, records::LogLayout::Csv, true);
    if (byTheRun) {
        boxsim::Faults silent;
        silent.silent = true;
        box->setFaults(boxsim::Temperature, silent);
        QVERIFY(session->startRun(setup));
    } else {
        session->setShownSetPoints(22, 0);
        session->setGas();
    }
    QVERIFY(waitUntil([this] { return box->massFlow(boxsim::O2) < 0.001; }, 10000));
    const int n2Frames = box->frames(boxsim::N2).size();
    box->setFaults(boxsim::N2, boxsim::Faults());
    if (byTheRun) {
        QVERIFY(waitUntil([&] { return box->frames(boxsim::N2).size() >= n2Frames + 3; }, 10000));
        QTest::qWait(300);
        QVERIFY(std::fabs(box->massFlow(boxsim::N2) - 7.878) < 0.01); // the write was lost
        box->setFaults(boxsim::Temperature, boxsim::Faults());
    } else {
        QVERIFY(session->startRun(setup));
    }
    QVERIFY(waitUntil([this] { return ended > 0; }, 60000));

    const QStringList raw = logLines(records::rawLogNameFor(log));
    QCOMPARE(raw.size(), 2);
    const QStringList fields = raw[1].split(QLatin1Char(','));
    QVERIFY2(std::fabs(fields.value(1).toDouble() - n2Recorded) < 0.05, qPrintable(raw[1]));
    QCOMPARE(fields.value(2).toDouble(), 0.0); // O2
    const QString mismatch = checkRecordsAgainstTruth(*box, logLines(log));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

QTEST_GUILESS_MAIN(TestBoxSession)
#include "tst_boxsession.moc"
