// baroterm-run killed with SIGKILL at random moments and resumed until its
// grid is done, against the box simulator in this process (for its record of
// the box's state at every pulse): the logs end as an uninterrupted run's,
// and every pulse the box saw belongs to a record or to a resume that named
// its images, also when killed between the pulses of a point.
// BAROTERM_CRASH_MINUTES runs grids for that long (BAROTERM_CRASH_SEED
// repeats a run's kill moments).
#include "boxsimulator.h"
#include "testenv.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

// 2 temperatures x `pressures` pressures from 1 bar, `pulses` to each point:
// with more than one, a second between them so that kills land there too.
struct Grid
{
    int pressures;
    int pulses;

    int points() const { return 2 * pressures; }
    QByteArray preset() const
    {
        return QStringLiteral("[Main]\nUNITS=Bar\nWAIT_CAMERA_FEEDBACK=true\n"
                              "DELAY_BETWEEN_PULSES=%1\n"
                              "[Auto]\nAUTO_T_ON=true\nAUTO_T_FROM=22\nAUTO_T_TO=23\n"
                              "AUTO_T_DELTA=1\nAUTO_P_ON=true\nAUTO_P_FROM=1\nAUTO_P_TO=%2\n"
                              "AUTO_P_DELTA=1\n")
            .arg(pulses > 1 ? 1 : 0)
            .arg(pressures)
            .toLatin1();
    }
};

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

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestRunCrash : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<boxsim::BoxSimulator> box;
    QString host;

    // One grid, killed and resumed until it ends. False on a failed check.
    void runGrid(const QString& name, const Grid& grid, QRandomGenerator& random, qint64 killForMs,
                 int* kills);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void killedAndResumed();
};

void TestRunCrash::initTestCase()
{
    QVERIFY(dir.isValid());
    host = testenv::uniqueLoopbackHost();
    boxsim::Options options;
    options.host = host;
    options.httpPort = 0;
    options.timeScale = 50.0;
    // Long enough for a kill to land between a pulse and its note now and then.
    options.cameraDelayMs = 500;
    box = std::make_unique<boxsim::BoxSimulator>(options);
    QString error;
    QVERIFY2(box->start(&error), qPrintable(error));
}

void TestRunCrash::cleanupTestCase()
{
    box.reset();
}

void TestRunCrash::runGrid(const QString& name, const Grid& grid, QRandomGenerator& random,
                           qint64 killForMs, int* kills)
{
    const QString log = dir.filePath(name + ".csv");
    const QString raw = dir.filePath(name + "_SLPM.csv");
    QFile preset(dir.filePath("grid.ini"));
    QVERIFY(preset.open(QIODevice::WriteOnly));
    preset.write(grid.preset());
    preset.close();
    const int pulsesBefore = box->pulseTruth().size();

    QElapsedTimer clock;
    clock.start();
    const QStringList fresh = {"--box", host, "--preset", preset.fileName(),
                               "--log", log,  "--pulses", QString::number(grid.pulses)};
    QStringList arguments = fresh;
    int reported = 0; // resumes that named images the camera may hold
    int status = -1;
    for (int attempt = 0; status != 0; ++attempt) {
        QVERIFY2(attempt < 500, "the run never ended");
        // The simulator answers from this event loop: every wait runs it.
        QProcess run;
        run.start(QStringLiteral(BAROTERM_RUN_PROGRAM), arguments);
        QVERIFY(waitFor([&] { return run.state() == QProcess::Running; }, 10000));
        const bool kill = clock.elapsed() < killForMs;
        const int killAtMs = int(random.bounded(100, 5000));
        const auto ended = [&] { return run.state() == QProcess::NotRunning; };
        if (kill && !waitFor(ended, killAtMs)) {
            ::kill(pid_t(run.processId()), SIGKILL);
            QVERIFY(waitFor(ended, 10000));
            ++*kills;
        } else {
            QVERIFY(waitFor(ended, 120000));
            status = run.exitCode();
        }
        // Read once: what a resume said of its images counts also in its last try.
        const QByteArray err = run.readAllStandardError();
        QVERIFY2(status == -1 || run.exitStatus() == QProcess::NormalExit, err.constData());
        if (err.contains("were under way"))
            ++reported;
        // Only a resume may refuse; a kill before the journal leaves nothing to resume.
        if (run.exitStatus() == QProcess::NormalExit && run.exitCode() == 2) {
            QVERIFY2(err.contains("nothing to resume") && arguments.contains("--resume"),
                     err.constData());
            QFile::remove(log);
            QFile::remove(raw);
            arguments = fresh;
            continue;
        }
        if (run.exitStatus() == QProcess::NormalExit && status != 0)
            QVERIFY2(false, err.constData());
        if (QFile::exists(log + ".run"))
            arguments = QStringList{"--resume", log};
        else if (status != 0 && readAll(log).count('\n') == grid.points() + 1) {
            // Killed while the box was left safe, after the last record and its
            // journal's removal: the run is done.
            status = 0;
        } else if (status != 0) {
            // Killed before its journal was begun: start afresh.
            QFile::remove(log);
            QFile::remove(raw);
            arguments = fresh;
        }
    }
    QVERIFY(!QFile::exists(log + ".run"));
    qInfo("%s: %d kills so far, %d resumes named images", qPrintable(name), *kills, reported);

    // One record per point, numbered 1..N, in grid order, in both logs.
    const QList<QByteArray> logLines = readAll(log).split('\n');
    const QList<QByteArray> rawLines = readAll(raw).split('\n');
    QCOMPARE(logLines.size(), grid.points() + 2); // the header and a last empty piece
    QCOMPARE(rawLines.size(), grid.points() + 2);
    // The pulses the box saw, one run of them per point: the last ones are the
    // record's, any before them from tries a resume named.
    const QList<boxsim::PulseTruth> pulses = box->pulseTruth().mid(pulsesBefore);
    int next = 0;
    int extra = 0;
    for (int k = 1; k <= grid.points(); ++k) {
        const QList<QByteArray> fields = logLines[k].trimmed().split(',');
        QCOMPARE(fields.size(), 6);
        const QByteArray number = QByteArray::number(k).rightJustified(6, '0');
        QCOMPARE(fields[2], "calib_" + number + "_p.tif");
        QVERIFY(rawLines[k].startsWith(number + ','));
        const double t = 22 + (k - 1) / grid.pressures;
        const double p = 1 + (k - 1) % grid.pressures;
        QCOMPARE(fields[1].toDouble(), t);
        auto atPoint = [&](const boxsim::PulseTruth& pulse) {
            return qAbs(pulse.sampleTemperatureC - t) < 0.3 &&
                   qAbs(pulse.airPressureBar - p) < 0.05;
        };
        const int first = next;
        while (next < pulses.size() && atPoint(pulses[next]))
            ++next;
        QVERIFY2(next - first >= grid.pulses,
                 qPrintable(QStringLiteral("%1 pulses at point %2").arg(next - first).arg(k)));
        extra += next - first - grid.pulses;
        const boxsim::PulseTruth& truth = pulses[next - 1];
        QVERIFY2(qAbs(fields[0].toDouble() - truth.airPressureBar) < 0.01 &&
                     qAbs(t - truth.sampleTemperatureC) < 0.1,
                 qPrintable(QStringLiteral("record %1 (%2): box %3 C, %4 bar")
                                .arg(k)
                                .arg(QString::fromLatin1(logLines[k].trimmed()))
                                .arg(truth.sampleTemperatureC)
                                .arg(truth.airPressureBar)));
    }
    // A try a resume named sent at most a point's pulses.
    QVERIFY2(next == pulses.size() && extra <= reported * grid.pulses,
             qPrintable(QStringLiteral("%1 pulses for %2 records, %3 repeated, %4 reported")
                            .arg(pulses.size())
                            .arg(grid.points())
                            .arg(extra)
                            .arg(reported)));
}

void TestRunCrash::killedAndResumed()
{
    const quint32 seed = qEnvironmentVariableIsSet("BAROTERM_CRASH_SEED")
                             ? qEnvironmentVariable("BAROTERM_CRASH_SEED").toUInt()
                             : QRandomGenerator::global()->generate();
    qInfo("BAROTERM_CRASH_SEED=%u", seed);
    QRandomGenerator random(seed);
    const int minutes = qEnvironmentVariableIntValue("BAROTERM_CRASH_MINUTES");
    QElapsedTimer clock;
    clock.start();
    int kills = 0;
    int grids = 0;
    // Three pulses to a point, and kills between them; the long version
    // takes turns with one pulse to a point on a larger grid.
    const Grid kGrids[] = {{2, 3}, {3, 1}};
    do {
        runGrid(QStringLiteral("grid%1").arg(grids), kGrids[grids % 2], random,
                minutes > 0 ? 60000 : 15000, &kills);
        if (QTest::currentTestFailed())
            return;
        ++grids;
    } while (clock.elapsed() < qint64(minutes) * 60000);
    qInfo("%d grids, %d kills in %lld s", grids, kills, clock.elapsed() / 1000);
}

int main(int argc, char** argv)
{
    // QtTest gives up on a test function after five minutes; the long version
    // runs for BAROTERM_CRASH_MINUTES, each grid bounded by its own limit.
    const int minutes = qEnvironmentVariableIntValue("BAROTERM_CRASH_MINUTES");
    if (minutes > 0)
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((qint64(minutes) + 5) * 60000));
    QCoreApplication app(argc, argv);
    TestRunCrash test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_runcrash.moc"
