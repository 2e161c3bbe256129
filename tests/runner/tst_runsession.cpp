// Whole runs of the windowless session against the in-process box simulator.
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
        return setup;
    }
    int m_logs = 0;

private slots:
    void initTestCase();
    void gridCompletes();
    void sameRecordsAsTheWindow();
    void stopLeavesTheBoxSafe_data();
    void stopLeavesTheBoxSafe();
    void silentBoxEndsTheRun();
    void vanishedBoxEndsTheRunDespiteRetries();
    void pointsAreReportedOncePulsed();
    void sigtermDuringInitKeepsNothing();
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
}

void TestRunSession::sameRecordsAsTheWindow()
{
    // The same plan through the window: the same header byte for byte, and
    // records that differ only where the box read differently.
    RunSession::Setup setup = prepare({});
    Captured captured;
    QCOMPARE(runSession(setup, &captured), 0);

    fixture.makeWindow();
    QVERIFY(fixture.connectAndWaitForReading());
    Grid grid;
    grid.useT = true;
    grid.tFrom = 22;
    grid.tTo = 23;
    grid.tStep = 1;
    grid.useP = true;
    grid.pFrom = 1;
    grid.pTo = 2;
    grid.pStep = 1;
    planGrid(fixture, grid);
    const QString windowLog = dir.filePath("window.csv");
    chooseLog(fixture, windowLog);
    QVERIFY(runToEnd(fixture, 120000 * testenv::timingSlack()));
    fixture.window.reset();

    const QStringList ours = logLines(setup.log.log);
    const QStringList theirs = logLines(windowLog);
    QCOMPARE(ours.size(), theirs.size());
    QCOMPARE(ours[0], theirs[0]);
    for (int i = 1; i < ours.size(); ++i) {
        const QStringList a = ours[i].split(',');
        const QStringList b = theirs[i].split(',');
        QCOMPARE(a.size(), b.size());
        for (int f = 1; f < a.size(); ++f) {
            // Read values: same form (decimals), near the same value.
            QCOMPARE(a[f].section('.', 1).size(), b[f].section('.', 1).size());
            if (a[f].endsWith(QLatin1String(".tif")) || a[f].endsWith(QLatin1String(".TIF")))
                QCOMPARE(a[f], b[f]);
        }
    }
    QCOMPARE(logLines(setup.log.rawLog)[0], logLines(records::rawLogNameFor(windowLog))[0]);
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

QTEST_MAIN(TestRunSession)
#include "tst_runsession.moc"
