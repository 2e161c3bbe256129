// Whole runs of the windowless session against the in-process box simulator.
#include "readingsfile.h"
#include "runharness.h"
#include "runsession.h"

#include "boxsimulator.h"
#include "testenv.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QByteArray kGridPreset = "[Main]\nUNITS=Bar\nWAIT_CAMERA_FEEDBACK=true\n"
                               "[Auto]\nAUTO_T_ON=true\nAUTO_T_FROM=22\nAUTO_T_TO=23\n"
                               "AUTO_T_DELTA=1\nAUTO_P_ON=true\nAUTO_P_FROM=1\nAUTO_P_TO=2\n"
                               "AUTO_P_DELTA=1\n";

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

struct Captured
{
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestRunSession : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    BoxFixture fixture;

    QString write(const QString& name, const QByteArray& text)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Runs baroterm-run's session in this process until it ends by itself or
    // `during` (called at every record) has interrupted it.
    int runSession(RunSession::Setup setup, Captured* captured,
                   const std::function<void(RunSession&, int)>& during = {})
    {
        RunSession session(
            setup, [captured](const QByteArray& b) { captured->out += b; },
            [captured](const QByteArray& b) { captured->err += b; });
        int records = 0;
        session.start();
        const bool ended = BoxFixture::waitUntil(
            [&] {
                const int now = int(captured->out.count("record"));
                if (during && now != records)
                    during(session, now);
                records = now;
                return session.hasEnded();
            },
            120000 * testenv::timingSlack());
        return ended ? session.exitStatus() : -1;
    }

    RunSession::Setup prepare(const QStringList& extra, const QByteArray& preset = kGridPreset)
    {
        const QString log = dir.filePath(QStringLiteral("run%1.csv").arg(++m_logs));
        const runner::CommandLine line =
            runner::parseCommandLine(QStringList{"baroterm-run", "--box", fixture.host, "--preset",
                                                 write("grid.ini", preset), "--log", log} +
                                     extra);
        RunSession::Setup setup;
        if (line.action != runner::CommandLine::Action::Run)
            qFatal("refused: %s", qPrintable(line.text));
        if (const std::optional<QString> error = runner::prepareRun(line.options, &setup))
            qFatal("refused: %s", qPrintable(*error));
        setup.speedUp = 10;
        return setup;
    }
    int m_logs = 0;

private slots:
    void initTestCase();
    void gridCompletes();
    void sameSetupAsTheWindow_data();
    void sameSetupAsTheWindow();
    void stopLeavesTheBoxSafe_data();
    void stopLeavesTheBoxSafe();
    void silentBoxEndsTheRun();
    void vanishedBoxEndsTheRunDespiteRetries();
    void pointsAreReportedOncePulsed();
    void sigtermDuringInitKeepsNothing();
    void sigintBeforeThePulseTakesBackSilently();
};

void TestRunSession::initTestCase()
{
    boxsim::Options options = BoxFixture::fastOptions();
    options.timeScale = 200; // the sample reaches each point in about a second
    QVERIFY(fixture.startBox(options));
}

void TestRunSession::gridCompletes()
{
    RunSession::Setup setup = prepare({"--json", "--init"});
    Captured captured;
    QCOMPARE(runSession(setup, &captured), 0);
    // Initialised first: the flow controllers got their unit id.
    const QList<boxsim::Frame> n2 = fixture.box->frames(boxsim::N2);
    QVERIFY(std::any_of(n2.begin(), n2.end(),
                        [](const boxsim::Frame& f) { return f.bytes.contains("*@=A"); }));

    bool crlf = false;
    const QStringList log = logLines(setup.log.log, &crlf);
    QVERIFY(crlf);
    QCOMPARE(log.size(), 1 + 4);
    const QStringList raw = logLines(setup.log.rawLog, &crlf);
    QVERIFY(crlf);
    QCOMPARE(raw.size(), 1 + 4);
    QCOMPARE(checkRecordsAgainstTruth(fixture, log), QString());

    // JSON only on standard output: points, then the end.
    const QList<QByteArray> lines = captured.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 5);
    QList<double> pSets;
    for (int i = 0; i < 4; ++i) {
        const QJsonObject point = QJsonDocument::fromJson(lines[i]).object();
        QCOMPARE(point.value("event").toString(), QString("point"));
        QCOMPARE(point.value("record").toInt(), i + 1);
        QCOMPARE(point.value("total").toInt(), 4);
        QCOMPARE(point.value("t_set").toDouble(), i < 2 ? 22.0 : 23.0);
        pSets << point.value("p_set").toDouble();
    }
    QCOMPARE(pSets, (QList<double>{1, 2, 1, 2}));
    const QJsonObject end = QJsonDocument::fromJson(lines[4]).object();
    QCOMPARE(end.value("status").toInt(), 0);

    // The stop branch: the "From:" temperature and the gas off.
    QCOMPARE(fixture.box->temperatureSetPointC(), 22.0);
    QCOMPARE(fixture.box->flowSetPoint(boxsim::Device::N2), 0.0);
    QCOMPARE(fixture.box->flowSetPoint(boxsim::Device::O2), 0.0);

    // Beside the logs: the readings as the run went, each point's statistics
    // and the report, which names every record.
    QString why;
    const std::optional<records::ReadingsFile> readings =
        records::readingsFileFromBytes(fileBytes(records::readingsPathFor(setup.log.log)), &why);
    QVERIFY2(readings, qPrintable(why));
    QCOMPARE(readings->identity.program.section(' ', 0, 0), QStringLiteral("baroterm-run"));
    int pulsesEnded = 0;
    for (const pointstats::TraceLine& line : readings->lines)
        pulsesEnded += line.kind == pointstats::Kind::PulsesEnd;
    QCOMPARE(pulsesEnded, 4);
    QCOMPARE(readings->lines.back().kind, pointstats::Kind::Stop);
    const QByteArray points = fileBytes(records::pointsPathFor(setup.log.log));
    QCOMPARE(points.count("\r\n"), 1 + 4);
    const QByteArray report = fileBytes(records::reportPathFor(setup.log.log));
    QCOMPARE(report.count("<tbody class=\"point\">"), 4);
    // --report makes them again from the files alone, the points file byte for byte.
    QVERIFY(QFile::remove(records::pointsPathFor(setup.log.log)));
    setup.lock.reset(); // the run's, which --report would wait for
    runner::Options again;
    again.report = setup.log.log;
    QCOMPARE(runner::remakeReport(again), std::nullopt);
    QCOMPARE(fileBytes(records::pointsPathFor(setup.log.log)), points);
}

void TestRunSession::sameSetupAsTheWindow_data()
{
    QTest::addColumn<QByteArray>("preset");
    QTest::addColumn<QString>("filter");
    QTest::newRow("bar grid, CSV") << kGridPreset << QStringLiteral("*.csv");
    QTest::newRow("psi pressures, CLS, pulse timing")
        << QByteArray("[Main]\nUNITS=psi\nWAIT_BEFORE_PULSE=2\nWAIT_EXTRA_BEFORE_ZERO=3\n"
                      "WAIT_CAMERA_FEEDBACK=false\nDELAY_BETWEEN_PULSES=1\nPULSE_WIDTH=50\n"
                      "[Auto]\nAUTO_P_ON=true\nAUTO_P_FROM=0\nAUTO_P_TO=29\nAUTO_P_DELTA=7.3\n")
        << QStringLiteral("*.cls");
    QTest::newRow("kPa temperatures rounded by the boxes")
        << QByteArray("[Main]\nUNITS=Pascal\nPULSE_WIDTH=7\n[Auto]\nAUTO_T_ON=1\n"
                      "AUTO_T_FROM=19.96\nAUTO_T_TO=25.04\nAUTO_T_DELTA=2.5\n")
        << QStringLiteral("*.csv");
}

void TestRunSession::sameSetupAsTheWindow()
{
    // The window and baroterm-run hand the session the same run for the same
    // preset: the same plan, pulses, log format and journal.
    QFETCH(QByteArray, preset);
    QFETCH(QString, filter);
    const QString row = QString::number(qHash(QTest::currentDataTag())) + filter.mid(1);
    const RunSession::Setup prepared =
        prepare({"--pulses", "1", "--log", dir.filePath("run" + row)}, preset);
    const RunSession session(
        prepared, [](const QByteArray&) {}, [](const QByteArray&) {});
    const BoxSession::RunSetup ours = session.runSetup();

    fixture.makeWindow();
    fixture.dialogs.pushAccept(write("window.ini", preset));
    fixture.window->loadPresets();
    chooseLog(fixture, dir.filePath("window" + row), filter);
    const BoxSession::RunSetup theirs = fixture.window->runSetup();
    fixture.window.reset();

    const auto planOnly = [](const BoxSession::RunSetup& setup) {
        records::JournalContents plan;
        plan.plan = setup.journal.plan;
        return records::journalToBytes(plan);
    };
    QCOMPARE(planOnly(ours), planOnly(theirs));
    const run::Plan &a = ours.plan, &b = theirs.plan;
    QCOMPARE(a.temperatureAxisOn, b.temperatureAxisOn);
    QCOMPARE(a.pressureAxisOn, b.pressureAxisOn);
    const double values[][2] = {{a.temperature.start, b.temperature.start},
                                {a.temperature.end, b.temperature.end},
                                {a.temperature.delta, b.temperature.delta},
                                {a.pressure.start, b.pressure.start},
                                {a.pressure.end, b.pressure.end},
                                {a.pressure.delta, b.pressure.delta},
                                {a.unitFactor, b.unitFactor}};
    for (const auto& pair : values)
        QCOMPARE(pair[0], pair[1]);
    QCOMPARE(a.temperature.points, b.temperature.points);
    QCOMPARE(a.pressure.points, b.pressure.points);
    QCOMPARE(a.writeLog, b.writeLog);
    QCOMPARE(a.referencePointOn, b.referencePointOn);
    QCOMPARE(ours.pulses.widthText, theirs.pulses.widthText);
    QCOMPARE(ours.pulses.cameraFeedback, theirs.pulses.cameraFeedback);
    QCOMPARE(ours.pulses.waitBeforeS, theirs.pulses.waitBeforeS);
    QCOMPARE(ours.pulses.extraWaitAtZeroS, theirs.pulses.extraWaitAtZeroS);
    QCOMPARE(ours.pulses.delayBetweenS, theirs.pulses.delayBetweenS);
    QCOMPARE(ours.logFormat.layout, theirs.logFormat.layout);
    QCOMPARE(ours.logFormat.color, theirs.logFormat.color);
}

void TestRunSession::stopLeavesTheBoxSafe_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("status");
    QTest::newRow("SIGINT") << int(SIGINT) << 1 << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 1 << 143;
    // The second signal skips the temperature: only the gas goes off.
    QTest::newRow("SIGINT twice") << int(SIGINT) << 2 << 130;
}

void TestRunSession::stopLeavesTheBoxSafe()
{
    QFETCH(int, signalNumber);
    QFETCH(int, count);
    QFETCH(int, status);
    RunSession::Setup setup = prepare({});
    Captured captured;
    const int ended = runSession(setup, &captured, [&](RunSession& session, int records) {
        if (records == 2)
            for (int i = 0; i < count; ++i)
                session.interrupt(signalNumber);
    });
    QCOMPARE(ended, status);
    bool crlf = false;
    const QStringList log = logLines(setup.log.log, &crlf);
    QVERIFY(crlf);
    QCOMPARE(log.size(), 1 + 2);
    QCOMPARE(logLines(setup.log.rawLog).size(), 1 + 2);
    QCOMPARE(fixture.box->flowSetPoint(boxsim::Device::N2), 0.0);
    QCOMPARE(fixture.box->flowSetPoint(boxsim::Device::O2), 0.0);
    if (count == 1)
        QCOMPARE(fixture.box->temperatureSetPointC(), 22.0);
    QVERIFY2(captured.err.contains(signalNumber == SIGINT ? "SIGINT" : "SIGTERM"),
             captured.err.constData());
}

void TestRunSession::silentBoxEndsTheRun()
{
    // 10 s before the first pulse: the box falls silent meanwhile.
    RunSession::Setup setup =
        prepare({}, QByteArray(kGridPreset).replace("[Main]\n", "[Main]\nWAIT_BEFORE_PULSE=3\n"));
    setup.silenceMs = 1500;
    Captured captured;
    const int ended = runSession(setup, &captured, [this](RunSession&, int records) {
        if (records == 1) {
            boxsim::Faults silent;
            silent.silent = true;
            fixture.box->setFaults(boxsim::Device::Temperature, silent);
        }
    });
    fixture.box->setFaults(boxsim::Device::Temperature, boxsim::Faults());
    QCOMPARE(ended, 4);
    QVERIFY2(captured.err.contains("for 60 s") || captured.err.contains("no temperature reading"),
             captured.err.constData());
    QCOMPARE(fixture.box->flowSetPoint(boxsim::Device::N2), 0.0);
    // The record whose images were taken stays.
    QVERIFY(logLines(setup.log.log).size() >= 2);
}

// The box goes away while a temperature set point waits to be sent again:
// the retries wait for the box, and the silence ends the run.
void TestRunSession::vanishedBoxEndsTheRunDespiteRetries()
{
    RunSession::Setup setup =
        prepare({}, "[Main]\nUNITS=Bar\n[Auto]\nAUTO_T_ON=true\nAUTO_T_FROM=22\nAUTO_T_TO=24\n"
                    "AUTO_T_DELTA=1\n");
    setup.silenceMs = 3000;
    Captured captured;
    QElapsedTimer sinceGone;
    const int ended = runSession(setup, &captured, [&](RunSession&, int records) {
        if (records == 1 && !sinceGone.isValid()) {
            fixture.box->stop();
            sinceGone.start();
        }
    });
    const qint64 gone = sinceGone.elapsed();
    QVERIFY(fixture.box->start());
    QCOMPARE(ended, 4);
    // Retries every second used to restart the silence clock each time.
    QVERIFY2(gone < (3000 + 2500) * testenv::timingSlack(), qPrintable(QString::number(gone)));
    QVERIFY2(captured.err.count("Can't connect to calibration box") == 1, captured.err.constData());
    const QByteArray afterLoss =
        captured.err.mid(captured.err.indexOf("Can't connect to calibration box"));
    QVERIFY2(!afterLoss.contains("sending it again"), captured.err.constData());
}

// A point is reported once its pulses went out: a generator that never takes
// a pulse reports none, and a stop's own take-back is not a warning.
void TestRunSession::pointsAreReportedOncePulsed()
{
    RunSession::Setup setup =
        prepare({"--json"}, "[Main]\nUNITS=Bar\nWAIT_BEFORE_PULSE=1\n[Auto]\nAUTO_P_ON=true\n"
                            "AUTO_P_FROM=1\nAUTO_P_TO=2\nAUTO_P_DELTA=1\n");
    boxsim::Faults refuse;
    refuse.refuse = true;
    fixture.box->setFaults(boxsim::Device::Pulse, refuse);
    Captured captured;
    RunSession* running = nullptr;
    int tries = 0;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, this, [&] {
        const int now = int(captured.err.count("taken back"));
        // Two tries refused, then the generator takes the pulses; the stop
        // comes while the second point waits for its pulse.
        if (now >= 2 && tries < 2)
            fixture.box->setFaults(boxsim::Device::Pulse, boxsim::Faults());
        tries = now;
        if (running && captured.out.count("\"event\":\"point\"") == 1 &&
            logLines(setup.log.log).size() == 3) {
            watch.stop();
            running->interrupt(SIGINT);
        }
    });
    watch.start();
    RunSession session(
        setup, [&](const QByteArray& b) { captured.out += b; },
        [&](const QByteArray& b) { captured.err += b; });
    running = &session;
    session.start();
    QVERIFY(BoxFixture::waitUntil([&] { return session.hasEnded(); }, 60000));
    QCOMPARE(session.exitStatus(), 130);
    QCOMPARE(tries, 2);
    QCOMPARE(captured.err.count("taken back"), 2);
    // One point event: record 1, with no temperature set point sent.
    QList<QJsonObject> points;
    for (const QByteArray& line : captured.out.split('\n'))
        if (line.contains("\"event\":\"point\""))
            points << QJsonDocument::fromJson(line).object();
    QCOMPARE(points.size(), 1);
    QCOMPARE(points[0].value("record").toInt(), 1);
    QVERIFY(points[0].value("t_set").isNull());
    QCOMPARE(logLines(setup.log.log).size(), 2);
}

void TestRunSession::sigtermDuringInitKeepsNothing()
{
    RunSession::Setup setup = prepare({"--init"});
    Captured captured;
    RunSession* running = nullptr;
    RunSession session(
        setup, [&](const QByteArray& b) { captured.out += b; },
        [&](const QByteArray& b) {
            captured.err += b;
            // Inside the initialisation's waits, before any journal.
            if (b.startsWith("Initialising"))
                QTimer::singleShot(100, [&] { running->interrupt(SIGTERM); });
        });
    running = &session;
    session.start();
    QVERIFY(BoxFixture::waitUntil([&] { return session.hasEnded(); }, 30000));
    QVERIFY(!captured.err.contains("Initialization completed"));
    QCOMPARE(session.exitStatus(), 143);
    QVERIFY2(captured.err.endsWith("baroterm-run: stopped by SIGTERM\n"), captured.err.constData());
}

void TestRunSession::sigintBeforeThePulseTakesBackSilently()
{
    // The stop took the record back, not a generator out of reach: no warning.
    RunSession::Setup setup =
        prepare({}, QByteArray(kGridPreset).replace("[Main]\n", "[Main]\nWAIT_BEFORE_PULSE=3\n"));
    const int pulsesBefore = fixture.box->pulseTruth().size();
    Captured captured;
    RunSession session(
        setup, [&](const QByteArray& b) { captured.out += b; },
        [&](const QByteArray& b) { captured.err += b; });
    // From a timer: the wait before the pulse runs an event loop of its own.
    QTimer stopper;
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (logLines(setup.log.log).size() == 2) {
            stopper.stop();
            session.interrupt(SIGINT);
        }
    });
    stopper.start(10);
    session.start();
    QVERIFY(BoxFixture::waitUntil([&] { return session.hasEnded(); }, 60000));
    QCOMPARE(session.exitStatus(), 130);
    QCOMPARE(fixture.box->pulseTruth().size(), pulsesBefore);
    QCOMPARE(logLines(setup.log.log).size(), 1);
    QVERIFY2(!captured.err.contains("taken back"), captured.err.constData());
}

QTEST_MAIN(TestRunSession)
#include "tst_runsession.moc"
