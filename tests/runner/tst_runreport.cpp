// What baroterm-run prints: the plan, the point lines, JSON and the exit status.
#include "runreport.h"

#include "sweep.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using runner::Ending;

Q_DECLARE_METATYPE(Ending)

namespace {

runner::PresetPlan grid(int tPoints, int pPoints, double pFrom = 0, double pStep = 2)
{
    runner::PresetPlan p;
    p.plan.temperatureAxisOn = tPoints > 0;
    p.plan.temperature = sweep::planTemperature(22, 22 + tPoints - 1, 1);
    p.plan.pressureAxisOn = pPoints > 0;
    p.plan.pressure = sweep::planPressure(pFrom, pFrom + (pPoints - 1) * pStep, pStep, 1.0);
    return p;
}

} // namespace

class TestRunReport : public QObject
{
    Q_OBJECT

private slots:
    void estimate_data();
    void estimate();
    void duration_data();
    void duration();
    void remaining_data();
    void remaining();
    void pointLine_data();
    void pointLine();
    void jsonLines();
    void planText();
    void ending_data();
    void ending();
};

void TestRunReport::estimate_data()
{
    QTest::addColumn<int>("tPoints");
    QTest::addColumn<int>("pPoints");
    QTest::addColumn<double>("pFrom");
    QTest::addColumn<bool>("reference");
    QTest::addColumn<int>("pulses");
    QTest::addColumn<int>("records");
    QTest::addColumn<double>("seconds");

    // Waits: 5 s before a pulse, 3 s between pulses, 10 s extra at 0 bar.
    // Temperature only: 3 records of 5 + 3; every step 0.2 + 1.05 + 2.2; the
    // start and the end one set point each (1.05) and 0.1.
    QTest::newRow("temperature only")
        << 3 << 0 << 0.0 << false << 2 << 3 << 3 * 8 + 3 * 3.45 + 1.15 + 1.15;
    // Pressure only, 0/2/4 bar: 3 records of 5, one at 0 bar (+10), two
    // pressure steps of 2.4, gas commands at start and end.
    QTest::newRow("pressure only")
        << 0 << 3 << 0.0 << false << 1 << 3 << 15 + 10 + 2 * 2.4 + 1.35 + 1.35;
    QTest::newRow("pressure without zero")
        << 0 << 3 << 1.0 << false << 1 << 3 << 15 + 2 * 2.4 + 1.35 + 1.35;
    // 2 x 2: 4 records, 2 at 0 bar, one pressure step per temperature, two
    // temperature steps with two gas commands each.
    QTest::newRow("both axes") << 2 << 2 << 0.0 << false << 1 << 4
                               << 4 * 5 + 2 * 10 + 2 * 2.4 + 2 * 1.65 + 1.35 + 1.35;
    QTest::newRow("reference point")
        << 1 << 0 << 0.0 << true << 1 << 2 << 5 + 3.45 + 1.15 + 1.15 + (0.4 + 1.25 + 5);
}

void TestRunReport::estimate()
{
    QFETCH(int, tPoints);
    QFETCH(int, pPoints);
    QFETCH(double, pFrom);
    QFETCH(bool, reference);
    QFETCH(int, pulses);
    QFETCH(int, records);
    QFETCH(double, seconds);
    runner::PresetPlan p = grid(tPoints, pPoints, pFrom);
    p.plan.referencePointOn = reference;
    p.waitBeforePulseS = 5;
    p.delayBetweenPulsesS = 3;
    p.extraWaitAtZeroS = 10;
    QCOMPARE(runner::plannedRecords(p), records);
    QVERIFY2(qAbs(runner::estimatedSeconds(p, pulses) - seconds) < 1e-9,
             qPrintable(QString::number(runner::estimatedSeconds(p, pulses))));
}

void TestRunReport::duration_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0:00:00";
    QTest::newRow("rounds up") << 59.6 << "0:01:00";
    QTest::newRow("hours") << 3725.0 << "1:02:05";
    QTest::newRow("over a day") << 90000.0 << "25:00:00";
    QTest::newRow("negative") << -4.0 << "0:00:00";
}

void TestRunReport::duration()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(runner::durationText(seconds), text);
}

void TestRunReport::remaining_data()
{
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<int>("done");    // by this process
    QTest::addColumn<int>("total");   // still to come
    QTest::addColumn<double>("left"); // -1: not known yet
    QTest::newRow("none done") << 10.0 << 0 << 4 << -1.0;
    QTest::newRow("pace") << 10.0 << 2 << 4 << 20.0;
    QTest::newRow("all done") << 10.0 << 4 << 0 << 0.0;
    // Resumed at 3 of 6: one point here took 10 s, three are left.
    QTest::newRow("resumed") << 10.0 << 1 << 3 << 30.0;
}

void TestRunReport::remaining()
{
    QFETCH(double, elapsed);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(double, left);
    const std::optional<double> r = runner::remainingSeconds(elapsed, done, total);
    QCOMPARE(r.value_or(-1.0), left);
}

void TestRunReport::pointLine_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<bool>("withPressure");
    QTest::addColumn<QString>("line");
    QTest::newRow("bar") << "Bar" << true
                         << "record 000003  T 23.0 C (set 23.0)  P 2.0012 Bar (set 2.00)  3/9  "
                            "elapsed 0:01:05  left 0:02:10\n";
    QTest::newRow("kPa") << "kPa" << true
                         << "record 000003  T 23.0 C (set 23.0)  P 2.00 kPa (set 2)  3/9  "
                            "elapsed 0:01:05  left 0:02:10\n";
    QTest::newRow("no flow") << "Bar" << false
                             << "record 000003  T 23.0 C (set 23.0)  P n/a Bar  3/9  "
                                "elapsed 0:01:05  left 0:02:10\n";
    QTest::newRow("no temperature set point")
        << "" << true
        << "record 000003  T 23.0 C  P 2.0012 Bar (set 2.00)  3/9  elapsed 0:01:05  left 0:02:10\n";
}

void TestRunReport::pointLine()
{
    QFETCH(QString, unit);
    QFETCH(bool, withPressure);
    QFETCH(QString, line);
    runner::PointReport point;
    point.record = 3;
    if (!unit.isEmpty())
        point.tSet = 23;
    else
        unit = "Bar";
    point.t = 23.0;
    if (withPressure) {
        point.pSet = 2;
        point.p = 2.0012;
    }
    point.unit = unit;
    point.elapsedS = 65;
    point.done = 3;
    point.total = 9;
    point.remainingS = 130;
    QCOMPARE(runner::pointLine(point), line);
}

void TestRunReport::jsonLines()
{
    runner::PointReport point;
    point.record = 12;
    point.tSet = 24;
    point.t = 23.9;
    point.unit = "Bar";
    point.done = 12;
    point.total = 12;
    const runner::PresetPlan preset = grid(2, 2);
    runner::PlanSummary summary;
    summary.records = 4;
    summary.unit = "Bar";
    summary.log.log = "a \"quoted\"\nname.csv";
    const QList<QByteArray> lines = {
        runner::jsonLine(runner::planEvent(preset, summary)),
        runner::jsonLine(runner::pointEvent(point)),
        runner::jsonLine(runner::warningEvent("Warning: Camera did not answer")),
        runner::jsonLine(runner::takenBackEvent(12)),
        runner::jsonLine(runner::endEvent(Ending::Interrupted, QString())),
    };
    const QStringList events = {"plan", "point", "warning", "taken_back", "end"};
    for (int i = 0; i < lines.size(); ++i) {
        // One object per line, whatever the texts hold.
        QVERIFY(lines[i].endsWith('\n'));
        QCOMPARE(lines[i].count('\n'), 1);
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(lines[i], &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(doc.object().value("event").toString(), events[i]);
    }
    const QJsonObject plan = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(plan.value("records").toInt(), 4);
    QCOMPARE(plan.value("log").toString(), summary.log.log);
    const QJsonObject p = QJsonDocument::fromJson(lines[1]).object();
    for (const char* key :
         {"record", "t_set", "p_set", "t", "p", "unit", "elapsed_s", "done", "total", "eta_s"})
        QVERIFY2(p.contains(key), key);
    QVERIFY(p.value("p").isNull());
    QVERIFY(p.value("p_set").isNull());
    QCOMPARE(p.value("t").toDouble(), 23.9);
    QCOMPARE(QJsonDocument::fromJson(lines[3]).object().value("record").toInt(), 12);
    const QJsonObject end = QJsonDocument::fromJson(lines[4]).object();
    QCOMPARE(end.value("status").toInt(), 130);
    QCOMPARE(end.value("reason").toString(), QString("interrupted"));
}

void TestRunReport::planText()
{
    runner::PresetPlan preset = grid(2, 3);
    preset.tFrom = 22;
    preset.tTo = 23;
    preset.tDelta = 1;
    preset.pTo = 4;
    preset.pDelta = 2;
    runner::Options options;
    options.pulses = 2;
    runner::LogChoice log;
    log.layout = records::LogLayout::Cls;
    log.log = "run.cls";
    log.rawLog = "run_SLPM.csv";
    const runner::PlanSummary summary = runner::summarise(preset, options, log);
    QCOMPARE(summary.records, 6);
    QCOMPARE(summary.unit, QString("Bar"));
    const QStringList lines = runner::planText(preset, summary).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QString("Temperature: 2 points, 22.0 to 23.0 C, step 1.0"));
    QCOMPARE(lines[1], QString("Pressure: 3 points, 0.00 to 4.00 Bar, step 2.00"));
    QCOMPARE(lines[2],
             QString("Records: 6; unit Bar; log run.cls (CLS, color), raw log run_SLPM.csv"));
    QVERIFY(lines[3].startsWith("Pulses: 2 per point, 10 ms"));
    QVERIFY(lines[4].startsWith("Estimated duration: at least " +
                                runner::durationText(summary.estimatedS)));
}

void TestRunReport::ending_data()
{
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("line"); // part of the standard-error line; empty: none
    QTest::newRow("completed") << Ending::Completed << "" << 0 << "";
    QTest::newRow("usage") << Ending::BadUsage << "--pulses: \"0\" is not..." << 2
                           << "baroterm-run: --pulses: \"0\"";
    QTest::newRow("no reading") << Ending::NoFirstReading << "box 127.0.0.9" << 3
                                << "within 10 s of start (box 127.0.0.9)";
    QTest::newRow("box lost") << Ending::BoxLost << "" << 4 << "for 60 s";
    QTest::newRow("sigint") << Ending::Interrupted << "" << 130 << "SIGINT";
    QTest::newRow("sigterm") << Ending::Terminated << "" << 143 << "SIGTERM; logs kept";
    QTest::newRow("failed") << Ending::Failed << "record 000003 has no images" << 1
                            << "stopped itself (record 000003 has no images";
}

void TestRunReport::ending()
{
    QFETCH(Ending, ending);
    QFETCH(QString, detail);
    QFETCH(int, status);
    QFETCH(QString, line);
    QCOMPARE(runner::exitStatus(ending), status);
    const QString actual = runner::endingLine(ending, detail);
    if (line.isEmpty()) {
        QVERIFY(actual.isEmpty());
    } else {
        QVERIFY2(actual.contains(line), qPrintable(actual));
        QVERIFY(!actual.contains('\n'));
    }
    QCOMPARE(runner::endEvent(ending, detail).value("status").toInt(), status);
    // Nothing to resume (no journal yet): no promise of kept logs.
    QVERIFY(!runner::endingLine(ending, detail, false).contains("kept"));
}

QTEST_GUILESS_MAIN(TestRunReport)
#include "tst_runreport.moc"
