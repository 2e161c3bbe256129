// baroterm-run as a process of its own against baroterm-boxsim: exit statuses,
// and SIGINT or SIGTERM in the middle of a run.
#include "journaledlog.h"
#include "loglock.h"
#include "testenv.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QByteArray kGridPreset = "[Main]\nUNITS=Bar\nWAIT_CAMERA_FEEDBACK=true\n"
                               "[Auto]\nAUTO_T_ON=true\nAUTO_T_FROM=22\nAUTO_T_TO=23\n"
                               "AUTO_T_DELTA=1\nAUTO_P_ON=true\nAUTO_P_FROM=1\nAUTO_P_TO=2\n"
                               "AUTO_P_DELTA=1\n";

// A pressure grid 1, 2 bar whose first `done` records went into the logs with
// their pulses, and then, with `underWay` >= 0, one more record whose pulses
// were under way (that many noted) when the run was killed.
bool interruptedRun(const QString& log, const QString& box, int pulsesPerPoint, int done,
                    int underWay, const std::function<void(records::JournalPlan&)>& edit = {})
{
    records::JournalContents contents;
    contents.plan.pressure = {true, 1, 2, 1, 2};
    contents.plan.pulsesPerPoint = pulsesPerPoint;
    if (edit)
        edit(contents.plan);
    contents.boxAddress = box;
    contents.logs = {log, records::rawLogNameFor(log)};
    const records::LogFormat format{records::LogLayout::Csv, true, 1.0};
    records::JournaledLog journaled;
    journaled.setFiles(contents.logs);
    if (journaled.log().create(format) != records::LogStatus::Ok || !journaled.begin(contents))
        return false;
    for (int k = 1; k <= done + (underWay >= 0 ? 1 : 0); ++k) {
        records::RecordValues values;
        values.pressureBar = float(k);
        if (journaled.append(format, values) != records::LogStatus::Ok || !journaled.announced())
            return false;
        const bool last = k > done;
        for (int p = 0; p < (last ? underWay : pulsesPerPoint); ++p)
            journaled.pulseNoted();
        if (!last && !journaled.done())
            return false;
    }
    journaled.keep();
    return true;
}

bool waitFor(const std::function<bool()>& condition, int ms)
{
    QDeadlineTimer deadline(ms * testenv::timingSlack());
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

} // namespace

class TestRunProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QProcess box;
    QString host;

    QString write(const QString& name, const QByteArray& text)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QByteArray read(const QString& name) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QByteArray boxLog() const
    {
        QFile file(dir.filePath("box.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Last value written on a device's port matching `pattern` (first group).
    QString lastWritten(const char* device, const QString& pattern) const
    {
        QString last;
        const QRegularExpression re(pattern);
        for (const QByteArray& line : boxLog().split('\n')) {
            if (!line.contains(device) || !line.contains("<-"))
                continue;
            const QRegularExpressionMatch m = re.match(QString::fromLatin1(line));
            if (m.hasMatch())
                last = m.captured(1);
        }
        return last;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void badUsage_data();
    void badUsage();
    void noReading();
    void signalInTheMiddle_data();
    void signalInTheMiddle();
    void resumeOfADoneRun();
    void resumeBetweenPulses();
};

void TestRunProcess::initTestCase()
{
    QVERIFY(dir.isValid());
    host = testenv::uniqueLoopbackHost();
    box.setProcessChannelMode(QProcess::SeparateChannels);
    box.setReadChannel(QProcess::StandardError); // where the simulator says it is ready
    box.start(QStringLiteral(BAROTERM_BOXSIM_PROGRAM),
              {"--host", host, "--http-port", "0", "--time-scale", "50", "--camera-delay", "50",
               "--log", dir.filePath("box.log")});
    QVERIFY(box.waitForStarted(10000));
    QVERIFY(waitFor(
        [this] {
            box.waitForReadyRead(50);
            return box.peek(4096).contains("calibration box on");
        },
        10000));
}

void TestRunProcess::cleanupTestCase()
{
    if (box.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(box.processId()), SIGTERM);
    if (!box.waitForFinished(10000))
        box.kill();
}

void TestRunProcess::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments"); // BOX, PRESET, DIR are filled in
    QTest::addColumn<QString>("named");         // what the error line must name

    const QStringList base = {"--box", "BOX", "--preset", "PRESET"};
    QTest::newRow("unknown option") << base + QStringList{"--log", "DIR/a.csv", "--fast"} << "fast";
    QTest::newRow("bad address") << QStringList{"--box",  "127.0.0.300", "--preset",
                                                "PRESET", "--log",       "DIR/a.csv"}
                                 << "127.0.0.300";
    QTest::newRow("missing preset")
        << QStringList{"--box", "BOX", "--preset", "DIR/none.ini", "--log", "DIR/a.csv"}
        << "none.ini";
    QTest::newRow("not a number") << QStringList{"--box",        "BOX",   "--preset",
                                                 "DIR/text.ini", "--log", "DIR/a.csv"}
                                  << "AUTO_T_TO = \"hot\"";
    QTest::newRow("log ending") << base + QStringList{"--log", "DIR/a.txt"} << "a.txt";
    QTest::newRow("existing log") << base + QStringList{"--log", "DIR/old.csv"} << "--overwrite";
    QTest::newRow("log not creatable")
        << base + QStringList{"--log", "DIR/no/such/folder/a.csv", "--overwrite"} << "a.csv";
    QTest::newRow("pulses") << base + QStringList{"--log", "DIR/a.csv", "--pulses", "100"}
                            << "--pulses";
    QTest::newRow("reference without preset")
        << base + QStringList{"--log", "DIR/a.csv", "--reference", "1,20"} << "--reference";
    QTest::newRow("reference out of range")
        << QStringList{"--box", "BOX",       "--preset",    "DIR/ref.ini",
                       "--log", "DIR/a.csv", "--reference", "1,70"}
        << "\"1,70\"";
    QTest::newRow("nothing to resume")
        << QStringList{"--resume", "DIR/a.csv"} << "nothing to resume";
    QTest::newRow("unreadable journal")
        << QStringList{"--resume", "DIR/torn.csv", "--box", "BOX"} << "--resume";
    QTest::newRow("resume with a plan")
        << QStringList{"--resume", "DIR/torn.csv", "--preset", "PRESET"} << "--preset";
    QTest::newRow("reference missing")
        << QStringList{"--box", "BOX", "--preset", "DIR/ref.ini", "--log", "DIR/a.csv"}
        << "ADD_REFP";
    // The journal's plan is checked as a preset and --pulses are.
    QTest::newRow("journal without pulses")
        << QStringList{"--resume", "DIR/nopulses.csv"} << "pulsesPerPoint = 0";
    QTest::newRow("journal's grid edited")
        << QStringList{"--resume", "DIR/edited.csv"} << "plan was changed";
    // The log another run is writing (this test holds its lock).
    const QString busy = "DIR/busy.csv is being written by another run (process PID)";
    QTest::newRow("log being written") << base + QStringList{"--log", "DIR/busy.csv"} << busy;
    QTest::newRow("log being written, --overwrite")
        << base + QStringList{"--log", "DIR/busy.csv", "--overwrite"} << busy;
    QTest::newRow("log being written, --resume") << QStringList{"--resume", "DIR/busy.csv"} << busy;
}

void TestRunProcess::badUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const QString preset = write("grid.ini", kGridPreset);
    write("text.ini", QByteArray(kGridPreset).replace("AUTO_T_TO=23", "AUTO_T_TO=hot"));
    write("ref.ini", kGridPreset + "ADD_REFP=true\n");
    write("old.csv", "kept");
    write("torn.csv", "P[Bar],T[C],Isens,Lsens,Iref,Lref\r\n");
    write("torn.csv.run", "{\"format\": 1, \"plan\": ");
    const QString busy = write("busy.csv", "kept");
    records::LogLock otherRun;
    QCOMPARE(otherRun.acquire(busy), records::LogLock::State::Held);
    QVERIFY(interruptedRun(dir.filePath("nopulses.csv"), host, 0, 1, -1));
    QVERIFY(interruptedRun(dir.filePath("edited.csv"), host, 1, 1, -1));
    // Another grid with as many points.
    write("edited.csv.run", read("edited.csv.run").replace("\"to\":2", "\"to\":2.5"));
    const QStringList kept = {"busy.csv",   "nopulses.csv",   "nopulses.csv.run",
                              "edited.csv", "edited.csv.run", "edited_SLPM.csv"};
    QMap<QString, QByteArray> before;
    for (const QString& name : kept)
        before[name] = read(name);
    for (QString& a : arguments) {
        a.replace("PRESET", preset).replace("DIR", dir.path());
        if (a == "BOX")
            a = host;
    }
    named.replace("DIR", dir.path())
        .replace("PID", QString::number(QCoreApplication::applicationPid()));
    const int logBefore = int(boxLog().size());
    QProcess run;
    run.start(QStringLiteral(BAROTERM_RUN_PROGRAM), arguments);
    QVERIFY(run.waitForFinished(20000 * testenv::timingSlack()));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 2);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("baroterm-run: ") && err.contains(named), qPrintable(err));
    QVERIFY(run.readAllStandardOutput().isEmpty());
    // Nothing reached the box.
    QCOMPARE(int(boxLog().size()), logBefore);
    QCOMPARE(QFile(dir.filePath("old.csv")).size(), qint64(4));
    QVERIFY(!QFile::exists(dir.filePath("a.csv")));
    for (const QString& name : kept)
        QVERIFY2(read(name) == before[name], qPrintable(name));
}

void TestRunProcess::noReading()
{
    // An address of its own where nothing listens.
    const QString nobody = testenv::uniqueLoopbackHost();
    QProcess run;
    run.start(QStringLiteral(BAROTERM_RUN_PROGRAM),
              {"--box", nobody, "--preset", write("grid.ini", kGridPreset), "--log",
               dir.filePath("none.csv"), "--json"});
    QElapsedTimer clock;
    clock.start();
    QVERIFY(run.waitForFinished(30000 * testenv::timingSlack()));
    QCOMPARE(run.exitCode(), 3);
    QVERIFY(clock.elapsed() >= 9500);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QVERIFY2(err.contains("baroterm-run: no temperature reading") && err.contains(nobody),
             qPrintable(err));
    // JSON only: the plan first, the end last.
    const QList<QByteArray> lines = run.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(QJsonDocument::fromJson(lines[0]).object().value("event").toString(), QString("plan"));
    const QJsonObject end = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(end.value("status").toInt(), 3);
    // Nothing was recorded: no logs are left to refuse the next attempt.
    QVERIFY(!QFile::exists(dir.filePath("none.csv")));
    QVERIFY(!QFile::exists(dir.filePath("none_SLPM.csv")));
}

void TestRunProcess::signalInTheMiddle_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGINT") << int(SIGINT) << 130 << "stopped";
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143 << "terminated";
}

void TestRunProcess::signalInTheMiddle()
{
    QFETCH(int, signalNumber);
    QFETCH(int, status);
    QFETCH(QString, name);
    const QString log = dir.filePath(name + ".csv");
    QProcess run;
    run.start(QStringLiteral(BAROTERM_RUN_PROGRAM),
              {"--box", host, "--preset", write("grid.ini", kGridPreset), "--log", log});
    QVERIFY(run.waitForStarted(10000));
    QByteArray out;
    QVERIFY(waitFor(
        [&] {
            out += run.readAllStandardOutput();
            return out.contains("record 000002") || run.state() == QProcess::NotRunning;
        },
        120000));
    QCOMPARE(run.state(), QProcess::Running);
    ::kill(pid_t(run.processId()), signalNumber);
    QVERIFY(run.waitForFinished(60000 * testenv::timingSlack()));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), status);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QVERIFY2(err.contains(signalNumber == SIGINT ? "baroterm-run: stopped by SIGINT"
                                                 : "baroterm-run: stopped by SIGTERM"),
             qPrintable(err));

    // Both files whole: the header and the two records, every line ended.
    for (const QString& path : {log, dir.filePath(name + "_SLPM.csv")}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(int(bytes.count("\r\n")), 3);
    }
    // The gas off and the "From:" temperature were the last set points.
    QCOMPARE(lastWritten("n2", QStringLiteral("<- A(\\d+)")), QString("0"));
    QCOMPARE(lastWritten("o2", QStringLiteral("<- A(\\d+)")), QString("0"));
    QCOMPARE(lastWritten("temperature", QStringLiteral("<- 01 06 03 EA ([0-9A-F]{2} [0-9A-F]{2})")),
             QString("00 DC")); // 220 tenths
}

void TestRunProcess::resumeOfADoneRun()
{
    // Killed after the last record's pulses were noted: only the end is left.
    const QString log = dir.filePath("done.csv");
    QVERIFY(interruptedRun(log, host, 1, 2, -1));
    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const QByteArray logBytes = logFile.readAll();
    const int pulsesBefore = int(boxLog().count("pulse 10 ms"));

    QProcess run;
    run.start(QStringLiteral(BAROTERM_RUN_PROGRAM), {"--resume", log});
    QVERIFY(run.waitForFinished(60000 * testenv::timingSlack()));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(!QFile::exists(records::journalPathFor(log)));
    QFile after(log);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), logBytes);
    QCOMPARE(int(boxLog().count("pulse 10 ms")), pulsesBefore);
    // The run's end: the gas off.
    QCOMPARE(lastWritten("o2", QStringLiteral("<- A(\\d+)")), QString("0"));
}

// Killed between two pulses of record 2: the resume takes the record back,
// names its images and takes the point again with all its pulses.
void TestRunProcess::resumeBetweenPulses()
{
    const QString log = dir.filePath("between.csv");
    QVERIFY(interruptedRun(log, host, 3, 1, 1));
    const QByteArray firstRecord = read("between.csv").split('\n').value(1);
    const int pulsesBefore = int(boxLog().count("pulse 10 ms"));

    QProcess run;
    run.start(QStringLiteral(BAROTERM_RUN_PROGRAM), {"--resume", log});
    QVERIFY(run.waitForFinished(60000 * testenv::timingSlack()));
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QVERIFY2(run.exitCode() == 0, qPrintable(err));
    QVERIFY2(err.contains("The pulses of record 2 were under way") &&
                 err.contains("calib_000002_p.tif, calib_000002_r.tif"),
             qPrintable(err));
    QVERIFY(!QFile::exists(records::journalPathFor(log)));
    QVERIFY(!QFile::exists(records::lockPathFor(log)));
    const QList<QByteArray> lines = read("between.csv").trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[1], firstRecord);
    QVERIFY2(lines[2].contains("calib_000002_p.tif"), lines[2].constData());
    QCOMPARE(int(boxLog().count("pulse 10 ms")) - pulsesBefore, 3);
}

QTEST_GUILESS_MAIN(TestRunProcess)
#include "tst_runprocess.moc"
