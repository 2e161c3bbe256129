// Runs carried out by the box session alone, against the in-process box
// simulator: what the logs hold and what the box was sent, whichever
// front-end asked for the run.
#include "boxsession.h"

#include "boxsimulator.h"
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

QStringList lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList result = QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
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

} // namespace

Q_DECLARE_METATYPE(Grid)

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
    QList<double> temperatureSetPoints() const;

private slots:
    void initTestCase();
    void cleanup();
    void gridsAsPlanned_data();
    void gridsAsPlanned();
    void stopInTheMiddleMovesNothingMore();
    void stopBeforeThePulseTakesTheRecordBack();
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

QList<double> TestBoxSession::temperatureSetPoints() const
{
    QList<double> result;
    for (const boxsim::Frame& frame : box->frames(boxsim::Temperature)) {
        const QByteArray& b = frame.bytes;
        if (b.size() == 8 && quint8(b[1]) == 0x06 && quint8(b[2]) == 0x03 && quint8(b[3]) == 0xEA)
            result.append(qint16(quint16(quint8(b[4]) << 8 | quint8(b[5]))) / 10.0);
    }
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

    const QStringList records = lines(log).mid(cls ? 2 : 1);
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
    QCOMPARE(lines(records::rawLogNameFor(log)).size(), records.size() + 1);
    QCOMPARE(temperatureSetPoints(), temperatures);
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
    const int records = lines(log).size() - 1;
    QVERIFY2(records >= 2 && records <= 3, qPrintable(lines(log).join('\n')));
    // Every record kept has its images.
    QCOMPARE(records, box->pulseTruth().size());
    const int pulses = box->pulseTruth().size();
    const int setPoints = temperatureSetPoints().size();
    QTest::qWait(1500);
    QCOMPARE(box->pulseTruth().size(), pulses);
    QCOMPARE(temperatureSetPoints().size(), setPoints);
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
        if (lines(log).size() == 2 && ended == 0) {
            stopper.stop();
            session->stop();
        }
    });
    stopper.start(10);
    QVERIFY(session->startRun(setup));
    QVERIFY(waitUntil([this] { return ended > 0; }, 10000));
    QVERIFY2(waitUntil([&] { return lines(log).size() == 1; }, 5000),
             qPrintable(lines(log).join('\n')));
    QTest::qWait(300);
    QVERIFY(box->frames(boxsim::Pulse).isEmpty());
    QCOMPARE(lines(records::rawLogNameFor(log)).size(), 1);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

QTEST_GUILESS_MAIN(TestBoxSession)
#include "tst_boxsession.moc"
