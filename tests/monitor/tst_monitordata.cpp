// What the monitor sends, from a source set by hand: the metrics in the
// exposition format, the status, the run's grid and the thinned history.
#include "fakesource.h"
#include "monitordata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

namespace {

constexpr qint64 kT0 = 1765000000000; // ms since the epoch

run::Plan gridPlan(int temperatures, int pressures, bool reference)
{
    run::Plan p;
    p.temperatureAxisOn = true;
    p.temperature = sweep::planTemperature(20, 20 + 5 * (temperatures - 1), 5);
    p.pressureAxisOn = true;
    p.pressure = sweep::planPressure(1, pressures, 1, 1);
    p.referencePointOn = reference;
    return p;
}

QJsonObject parse(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning("%s in %s", qPrintable(error.errorString()), json.left(200).constData());
    return doc.object();
}

} // namespace

class MonitorDataTest : public QObject
{
    Q_OBJECT
private slots:
    void metricsParse();
    void metricValues_data();
    void metricValues();
    void status();
    void runGrid_data();
    void runGrid();
    void historyIsThinnedWithItsExtremes();
};

void MonitorDataTest::metricsParse()
{
    FakeSource s;
    s.boxView.unitLabel = QStringLiteral("odd \"unit\"\\");
    s.addReading(kT0, 23.5f, 25.0f, history::kUnknown, 1.0f, 1.25f, 0.3f);
    const QByteArray text = monitor::metricsText(s.readings, s.boxView, s.runView, s.totals);

    // The exposition format's lines: HELP and TYPE once per family, before its samples.
    const QRegularExpression sampleLine(QStringLiteral(
        R"(^([a-z_]+)(\{[a-z]+="(?:[^"\\\n]|\\[\\"n])*"(?:,[a-z]+="(?:[^"\\\n]|\\[\\"n])*")*\})? )"
        R"((NaN|[+-]?Inf|-?[0-9]+(\.[0-9]+)?(e[+-]?[0-9]+)?)$)"));
    const QRegularExpression helpLine(QStringLiteral(R"(^# HELP ([a-z_]+) \S.*$)"));
    const QRegularExpression typeLine(QStringLiteral(R"(^# TYPE ([a-z_]+) (gauge|counter)$)"));
    QVERIFY(text.endsWith('\n'));
    QSet<QString> typed, sampled;
    QString lastFamily;
    for (const QByteArray& bytes : text.split('\n')) {
        const QString line = QString::fromUtf8(bytes);
        if (line.isEmpty())
            continue;
        if (const auto m = helpLine.match(line); m.hasMatch()) {
            lastFamily = m.captured(1);
            continue;
        }
        if (const auto m = typeLine.match(line); m.hasMatch()) {
            QCOMPARE(m.captured(1), lastFamily);
            QVERIFY2(!typed.contains(lastFamily), qPrintable(line));
            typed.insert(lastFamily);
            continue;
        }
        const auto m = sampleLine.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QCOMPARE(m.captured(1), lastFamily);
        sampled.insert(m.captured(1));
    }
    QCOMPARE(sampled, typed);
    QCOMPARE(typed.size(), 15);
    QVERIFY(text.contains("baroterm_pressure{unit=\"odd \\\"unit\\\"\\\\\"} NaN\n"));
}

void MonitorDataTest::metricValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("temperature") << QByteArray("baroterm_temperature_celsius 23.5");
    QTest::newRow("set point") << QByteArray("baroterm_temperature_setpoint_celsius 25");
    QTest::newRow("pressure in psi") << QByteArray("baroterm_pressure{unit=\"psi\"} 14.5");
    QTest::newRow("pressure set point, gas off")
        << QByteArray("baroterm_pressure_setpoint{unit=\"psi\"} NaN");
    QTest::newRow("n2") << QByteArray("baroterm_flow_slpm{gas=\"N2\"} 1.25");
    QTest::newRow("o2") << QByteArray("baroterm_flow_slpm{gas=\"O2\"} 0.3");
    QTest::newRow("gas") << QByteArray("baroterm_gas_on 0");
    QTest::newRow("device up") << QByteArray("baroterm_device_up{device=\"temperature\"} 1");
    QTest::newRow("device down") << QByteArray("baroterm_device_up{device=\"o2\"} 0");
    QTest::newRow("points done") << QByteArray("baroterm_run_points_done 5");
    QTest::newRow("points") << QByteArray("baroterm_run_points 13");
    QTest::newRow("records") << QByteArray("baroterm_records_written_total 1");
    QTest::newRow("warnings") << QByteArray("baroterm_warnings_total 2");
    QTest::newRow("retries") << QByteArray("baroterm_setpoint_retries_total{device=\"n2\"} 3");
    QTest::newRow("pulses") << QByteArray("baroterm_pulses_sent_total 40");
    QTest::newRow("unanswered") << QByteArray("baroterm_pulses_unanswered_total 2");
}

void MonitorDataTest::metricValues()
{
    QFETCH(QByteArray, line);
    FakeSource s;
    s.boxView.unitLabel = QStringLiteral("psi");
    s.boxView.unitFactor = 14.5;
    s.boxView.devices[1].setPointRetries = 3;
    s.boxView.devices[2].connected = false;
    s.addReading(kT0, 23.5f, 25.0f, 1.0f, history::kUnknown, 1.25f, 0.3f);
    s.addEvent(kT0, history::EventKind::Record, QStringLiteral("Record 1"));
    s.addEvent(kT0, history::EventKind::Warning, QStringLiteral("No answer"));
    s.addEvent(kT0, history::EventKind::ConnectionLost, QStringLiteral("Box lost"));
    s.totals.pulsesSent = 40;
    s.totals.pulsesUnanswered = 2;
    s.runView.started = s.runView.active = true;
    s.runView.plan = gridPlan(3, 4, true);
    s.runView.pointsDone = 5;
    const QByteArray text = monitor::metricsText(s.readings, s.boxView, s.runView, s.totals);
    QVERIFY2(text.contains('\n' + line + '\n'), text.constData());
}

void MonitorDataTest::status()
{
    FakeSource s;
    s.boxView.logName = QStringLiteral("cal.csv");
    s.boxView.gasOn = true;
    for (int i = 0; i < 25; ++i)
        s.addEvent(kT0 + i, history::EventKind::Warning, QStringLiteral("W%1").arg(i));
    s.addReading(kT0 + 1000, 23.5f, 25.0f, 1.5f, 1.0f, 1.25f, history::kUnknown);
    s.runView.started = s.runView.active = true;
    s.runView.phase = QStringLiteral("Waiting for the temperature");
    s.runView.plan = gridPlan(2, 2, false);
    s.runView.startMs = s.runView.lastPointMs = kT0;
    const QJsonObject o = parse(monitor::statusJson(s.readings, s.boxView, s.runView, kT0 + 1400));

    const QJsonObject readings = o[QLatin1String("readings")].toObject();
    QCOMPARE(readings[QLatin1String("T")].toDouble(), 23.5);
    QCOMPARE(readings[QLatin1String("P")].toDouble(), 1.5);
    QVERIFY(readings[QLatin1String("O2")].isNull());
    QCOMPARE(readings[QLatin1String("ageMs")].toDouble(), 400.0);
    const QJsonArray events = o[QLatin1String("events")].toArray();
    QCOMPARE(events.size(), monitor::kStatusEvents);
    QCOMPARE(events.last().toObject()[QLatin1String("text")].toString(), QStringLiteral("W24"));
    QCOMPARE(events.first().toObject()[QLatin1String("kind")].toString(),
             QStringLiteral("warning"));
    const QJsonObject box = o[QLatin1String("box")].toObject();
    QCOMPARE(box[QLatin1String("log")].toString(), QStringLiteral("cal.csv"));
    QCOMPARE(box[QLatin1String("gasOn")].toBool(), true);
    QCOMPARE(box[QLatin1String("devices")].toArray().size(), 4);
    const QJsonObject run = o[QLatin1String("run")].toObject();
    QCOMPARE(run[QLatin1String("phase")].toString(), QStringLiteral("Waiting for the temperature"));
    QCOMPARE(run[QLatin1String("points")].toInt(), 4);
    QCOMPARE(run[QLatin1String("elapsedMs")].toDouble(), 1400.0);
    QCOMPARE(run[QLatin1String("remainingMeasured")].toBool(), false);
    QVERIFY(
        !o[QLatin1String("versions")].toObject()[QLatin1String("program")].toString().isEmpty());
}

void MonitorDataTest::runGrid_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("done");
    QTest::addColumn<bool>("referenceUnderWay");
    QTest::addColumn<bool>("referenceDone");
    QTest::addColumn<QString>("cells"); // rows split by '|': w waiting, c current, d done
    QTest::newRow("first point") << true << 0 << false << false << "cww|www|w";
    QTest::newRow("second row") << true << 4 << false << false << "ddd|dcw|w";
    QTest::newRow("reference under way") << true << 6 << true << false << "ddd|ddd|c";
    QTest::newRow("done") << false << 7 << false << true << "ddd|ddd|d";
    QTest::newRow("stopped") << false << 2 << false << false << "ddw|www|w";
}

void MonitorDataTest::runGrid()
{
    QFETCH(bool, active);
    QFETCH(int, done);
    QFETCH(bool, referenceUnderWay);
    QFETCH(bool, referenceDone);
    QFETCH(QString, cells);
    monitor::RunView run;
    run.started = true;
    run.active = active;
    run.plan = gridPlan(2, 3, true);
    run.pointsDone = done;
    run.referenceUnderWay = referenceUnderWay;
    run.referenceDone = referenceDone;
    run.startMs = kT0;
    run.endMs = active ? -1 : kT0 + 60000;
    monitor::BoxView box;
    const QJsonObject o = monitor::runJson(run, box, kT0 + 90000);
    QCOMPARE(o[QLatin1String("pointsDone")].toInt(), done);
    QCOMPARE(o[QLatin1String("points")].toInt(), 7);
    QCOMPARE(o[QLatin1String("elapsedMs")].toDouble(), active ? 90000.0 : 60000.0);
    QCOMPARE(o.contains(QLatin1String("remainingMs")), active);
    const QJsonObject grid = o[QLatin1String("grid")].toObject();
    QCOMPARE(grid[QLatin1String("rows")].toArray().size(), 3);
    QCOMPARE(grid[QLatin1String("columns")].toArray().first().toString(),
             QStringLiteral("1.00 bar"));
    QStringList got;
    for (const QJsonValue& row : grid[QLatin1String("cells")].toArray()) {
        QString text;
        for (const QJsonValue& cell : row.toArray())
            text += cell.toString().at(0);
        got << text;
    }
    QCOMPARE(got.join(QLatin1Char('|')), cells);
}

void MonitorDataTest::historyIsThinnedWithItsExtremes()
{
    FakeSource s;
    s.boxView.unitFactor = 14.5;
    s.runView.started = true;
    s.runView.startMs = kT0;
    constexpr int n = 30000;
    for (int i = 0; i < n; ++i) {
        const float t = i == 12345 ? 80.0f : i == 23456 ? -10.0f : 20.0f + 0.001f * float(i % 7);
        history::Sample sample;
        sample.atMs = kT0 + qint64(i) * 1000;
        sample.v = {{t, 25.0f, 1.0f, history::kUnknown, 1.0f, 0.5f}};
        s.readings.addSample(sample);
    }
    s.addEvent(kT0 + 5000, history::EventKind::Record, QStringLiteral("Record 1"));
    const QJsonObject o = parse(monitor::historyJson(s.readings, s.boxView, s.runView,
                                                     chartscale::Span::WholeRun, kT0 + n * 1000));
    QCOMPARE(qint64(o[QLatin1String("fromMs")].toDouble()), kT0);
    const QJsonObject series = o[QLatin1String("series")].toObject();
    for (const char* name : {"T", "Tset", "P", "N2", "O2"}) {
        const QJsonArray points = series[QLatin1String(name)].toArray();
        QVERIFY2(points.size() > 100 && points.size() <= monitor::kHistoryPoints, name);
    }
    QVERIFY(series[QLatin1String("Pset")].toArray().isEmpty()); // never known
    double lo = INFINITY, hi = -INFINITY;
    for (const QJsonValue& p : series[QLatin1String("T")].toArray()) {
        lo = std::min(lo, p.toArray()[1].toDouble());
        hi = std::max(hi, p.toArray()[1].toDouble());
    }
    QCOMPARE(lo, -10.0);
    QCOMPARE(hi, 80.0);
    QCOMPARE(series[QLatin1String("P")].toArray().first().toArray()[1].toDouble(), 14.5);
    QCOMPARE(o[QLatin1String("events")].toArray().size(), 1);

    // Ten minutes hold their 600 readings, none thinned away.
    const QJsonObject recent = parse(monitor::historyJson(
        s.readings, s.boxView, s.runView, chartscale::Span::TenMinutes, kT0 + (n - 1) * 1000));
    QCOMPARE(recent[QLatin1String("series")].toObject()[QLatin1String("T")].toArray().size(), 601);
}

QTEST_GUILESS_MAIN(MonitorDataTest)
#include "tst_monitordata.moc"
