// The files a run leaves beside its logs: the readings file as the run writes
// it, and the points file and report made again from the files alone.
#include "instrumenttable.h"
#include "logfiles.h"
#include "readingsexport.h"
#include "reporthtml.h"
#include "runfiles.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

using pointstats::Kind;
using pointstats::PulseOutcome;
using pointstats::TraceLine;

namespace {

constexpr qint64 k0 = 1765200000000; // 2025-12-08T13:20:00.000Z

records::RunIdentity identity(const QString& logName)
{
    records::RunIdentity id;
    id.program = QStringLiteral("baroterm-run 2.4.8f");
    id.run.boxAddress = QStringLiteral("127.0.29.1");
    id.run.logs = records::LogFileNames{logName, records::rawLogNameFor(logName)};
    id.run.plan.temperature = records::JournalAxis{true, 22, 23, 1, 2};
    return id;
}

TraceLine reading(qint64 ms, float t, float tSet, float p, float n2 = 7.878f, float o2 = 2.122f)
{
    TraceLine line;
    line.atMs = k0 + ms;
    line.values = {t, tSet, p, 1.0f, n2, o2};
    return line;
}

TraceLine happened(qint64 ms, Kind kind, int record = 0, const QString& text = QString())
{
    TraceLine line;
    line.atMs = k0 + ms;
    line.kind = kind;
    line.record = record;
    line.text = text;
    return line;
}

TraceLine pulse(qint64 ms, int record, PulseOutcome outcome)
{
    TraceLine line = happened(ms, Kind::Pulse, record);
    line.pulse = 1;
    line.outcome = outcome;
    return line;
}

// Two points: the first settles in a window of five readings; the second has
// one reading in its window and none after its pulses.
std::vector<TraceLine> twoPoints()
{
    const float t[] = {21.0f, 21.5f, 30.0f, 22.0f, 22.1f, 22.2f, 22.1f, 22.0f};
    const float p[] = {0.9f, 0.95f, 0.5f, 1.0f, 1.0f, 1.002f, 1.0f, 0.998f};
    std::vector<TraceLine> lines{happened(500, Kind::SetPoint)};
    for (int i = 0; i < 8; ++i) {
        lines.push_back(reading(i * 2000, t[i], 22, p[i]));
        if (i == 2)
            lines.push_back(happened(5500, Kind::Reached));
    }
    lines.push_back(happened(14500, Kind::Record, 1));
    lines.push_back(happened(15000, Kind::PulsesBegin, 1));
    lines.push_back(pulse(15100, 1, PulseOutcome::Sent));
    lines.push_back(pulse(15200, 1, PulseOutcome::Answered));
    lines.push_back(
        happened(15300, Kind::Warning, 0, QStringLiteral("Camera <slow>, \"late\" & ok")));
    lines.push_back(happened(16000, Kind::PulsesEnd, 1));
    lines.push_back(reading(16500, 22.3f, 23, 1.01f, 7.9f, 2.1f));
    lines.push_back(happened(16600, Kind::SetPoint));
    lines.push_back(happened(37500, Kind::Reached));
    lines.push_back(reading(38000, 23.0f, 23, 1.0f));
    lines.push_back(happened(39000, Kind::Record, 2));
    lines.push_back(happened(40000, Kind::PulsesBegin, 2));
    lines.push_back(happened(41000, Kind::PulsesEnd, 2));
    lines.push_back(happened(41500, Kind::Stop, 0, QStringLiteral("Run done")));
    return lines;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

records::RecordValues logged(int number, float bar, float celsius)
{
    records::RecordValues v;
    v.number = number;
    v.pressureBar = bar;
    v.temperature = celsius;
    v.n2Text = QStringLiteral("7.878");
    v.o2Text = QStringLiteral("2.122");
    return v;
}

} // namespace

class RunFilesTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readingsFileReadsBack();
    void resumeCutsATornLine();
    void pointsFileBytes();
    void report();
    void referencePair_data();
    void referencePair();

private:
    QString writeRun(const QString& name, records::LogLayout layout);
    QTemporaryDir m_dir;
};

void RunFilesTest::initTestCase()
{
    // A comma locale must not reach any file.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(m_dir.isValid());
}

// Writes both logs and the readings file of the two-point run; the log's path.
QString RunFilesTest::writeRun(const QString& name, records::LogLayout layout)
{
    const QString log = m_dir.filePath(name);
    const records::LogFileNames names{log, records::rawLogNameFor(log)};
    if (records::createLogFiles(names, layout, true, 1.0) != records::LogStatus::Ok ||
        records::appendRecord(names, layout, true, 1.0, logged(1, 1.0012f, 22.1f)) !=
            records::LogStatus::Ok ||
        records::appendRecord(names, layout, true, 1.0, logged(2, -1.0f, 23.0f)) !=
            records::LogStatus::Ok)
        return QString();
    records::ReadingsFileAppender readings;
    if (!readings.create(records::readingsPathFor(log), identity(log), k0))
        return QString();
    for (const TraceLine& line : twoPoints()) {
        if (!readings.add(line))
            return QString();
    }
    return log;
}

void RunFilesTest::readingsFileReadsBack()
{
    const QString log = writeRun(QStringLiteral("back.csv"), records::LogLayout::Csv);
    QVERIFY(!log.isEmpty());
    const QByteArray bytes = contents(records::readingsPathFor(log));
    QVERIFY(bytes.startsWith(records::readingsCsvHeader()));
    // An event line carries the readings before it; the kind comes last.
    QVERIFY(bytes.contains("\r\n2025-12-08T13:20:15.100Z,22.0,22.0,0.9980,1.0000,7.878,2.122,"
                           "Pulse 1 of record 1 sent,pulse\r\n"));
    QVERIFY(bytes.contains(",\"Camera <slow>, \"\"late\"\" & ok\",warning\r\n"));

    QString error;
    const std::optional<records::ReadingsFile> file = records::readingsFileFromBytes(bytes, &error);
    QVERIFY2(file, qPrintable(error));
    QCOMPARE(file->identity.program, QStringLiteral("baroterm-run 2.4.8f"));
    QCOMPARE(file->identity.run.boxAddress, QStringLiteral("127.0.29.1"));
    QCOMPARE(file->identity.run.plan.temperature.points, 2);
    const std::vector<TraceLine> written = twoPoints();
    QCOMPARE(file->lines.size(), written.size() + 1);
    QCOMPARE(file->lines[0].kind, Kind::Start);
    for (std::size_t i = 0; i < written.size(); ++i) {
        const TraceLine& a = file->lines[i + 1];
        const TraceLine& b = written[i];
        QCOMPARE(a.atMs, b.atMs);
        QCOMPARE(a.kind, b.kind);
        QCOMPARE(a.record, b.record);
        QCOMPARE(a.pulse, b.pulse);
        QCOMPARE(a.outcome, b.outcome);
        QCOMPARE(records::eventText(a), records::eventText(b));
    }

    // A line the program did not write is named.
    QByteArray wrong = bytes;
    wrong.replace("Pulses of record 2 end", "Pulses of record two end");
    QVERIFY(!records::readingsFileFromBytes(wrong, &error));
    QVERIFY2(error.startsWith(QLatin1String("line 25: ")), qPrintable(error));
}

void RunFilesTest::resumeCutsATornLine()
{
    const QString path = m_dir.filePath(QStringLiteral("torn.csv.readings.csv"));
    records::ReadingsFileAppender first;
    QVERIFY(first.create(path, identity(QStringLiteral("torn.csv")), k0));
    QVERIFY(first.add(reading(1000, 22, 22, 1)));
    first.close();
    const QByteArray whole = contents(path);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("2025-12-08T13:20:02.000Z,22.0,22.0,\"War");
    }
    records::ReadingsFileAppender again;
    QVERIFY(again.resume(path, identity(QStringLiteral("torn.csv")), k0 + 5000));
    QVERIFY(again.add(happened(5100, Kind::TakenBack, 1)));
    const QByteArray bytes = contents(path);
    QVERIFY(bytes.startsWith(whole));
    const auto file = records::readingsFileFromBytes(bytes);
    QVERIFY(file);
    QCOMPARE(file->lines.size(), std::size_t(4));
    QCOMPARE(file->lines[2].kind, Kind::Start);
    QCOMPARE(file->lines[3].record, 1);
}

void RunFilesTest::pointsFileBytes()
{
    // CLS here: the log's layout does not matter to the points file.
    const QString log = writeRun(QStringLiteral("points.cls"), records::LogLayout::Cls);
    QVERIFY(!log.isEmpty());
    const auto table = records::readInstrumentTable(QStringLiteral(EXAMPLE_INSTRUMENT_TABLE));
    QVERIFY(table);
    QString error;
    QVERIFY2(records::writeRunFiles(log, *table, QStringLiteral("example"), &error),
             qPrintable(error));
    // Record 1, worked out by hand (tst_pointstats has the window's sums):
    //   window T 22.0 22.1 22.2 22.1 22.0: mean 22.080, sd 0.084; P mean 1, sd 0.0014142;
    //   first reading after: T 22.3 (+0.220), P 1.01 (+0.01), N2 7.9 (+0.022), O2 2.1 (-0.022).
    //   U_T: sensor (0.15 + 0.002 × 22.08) / √3 = 0.1120982, resolution 0.0288675,
    //        scatter 0.0836660: 2√(0.0125660 + 0.0008333 + 0.0070000) = 0.286 K, sensor.
    //   U_P at N2 7.878, O2 2.122: ∂p/∂N2 = 0.0999833, ∂p/∂O2 = 0.3711918;
    //        N2 accuracy 0.1030240/√3 × 0.0999833 = 0.0059472, resolution 0.0002886;
    //        O2 accuracy 0.0369760/√3 × 0.3711918 = 0.0079243, resolution 0.0005358;
    //        scatter 0.0014142: 2√(1.00533e-4) = 0.02005 bar, O2 accuracy.
    // Record 2: one reading in its window, so no spread, and an uncertainty of
    // the instruments alone: U_T 2√(0.1131607² + 0.0288675²) = 0.234 K, sensor;
    // U_P 2√(0.0059472² + 0.0002886² + 0.0079243² + 0.0005358²) = 0.01985 bar,
    // O2 accuracy. Its pressure logged as "n/a"; no reading after its pulses.
    QCOMPARE(contents(records::pointsPathFor(log)),
             QByteArray("record,tries,T_set_C,P_set_bar,T_log_C,P_log_bar,settling_s,n,"
                        "T_mean_C,T_sd_C,T_min_C,T_max_C,P_mean_bar,P_sd_bar,P_min_bar,P_max_bar,"
                        "N2_mean_slpm,N2_sd_slpm,N2_min_slpm,N2_max_slpm,"
                        "O2_mean_slpm,O2_sd_slpm,O2_min_slpm,O2_max_slpm,"
                        "T_after_C,T_drift_C,P_after_bar,P_drift_bar,N2_after_slpm,N2_drift_slpm,"
                        "O2_after_slpm,O2_drift_slpm,pulses_sent,pulses_answered,warnings,"
                        "U_T_C,U_T_source,U_P_bar,U_P_source\r\n"
                        "1,1,22.000,1.00000,22.100,1.00120,5.0,5,"
                        "22.080,0.084,22.000,22.200,1.00000,0.00141,0.99800,1.00200,"
                        "7.8780,0.0000,7.8780,7.8780,2.1220,0.0000,2.1220,2.1220,"
                        "22.300,0.220,1.01000,0.01000,7.9000,0.0220,2.1000,-0.0220,"
                        "1,1,1,0.286,sensor,0.02005,O2_accuracy\r\n"
                        "2,1,23.000,1.00000,23.000,n/a,20.9,1,"
                        "23.000,n/a,23.000,23.000,1.00000,n/a,1.00000,1.00000,"
                        "7.8780,n/a,7.8780,7.8780,2.1220,n/a,2.1220,2.1220,"
                        "n/a,n/a,n/a,n/a,n/a,n/a,n/a,n/a,"
                        "0,0,0,0.234,sensor,0.01985,O2_accuracy\r\n"));
    // Made again from the files, byte for byte the same.
    records::RunFilesInputs in;
    in.logName = log;
    in.log = contents(log);
    in.rawLog = contents(records::rawLogNameFor(log));
    in.readings = contents(records::readingsPathFor(log));
    in.table = *table;
    in.tableName = QStringLiteral("example");
    const auto again = records::makeRunFiles(in);
    QVERIFY(again);
    QCOMPARE(again->points, contents(records::pointsPathFor(log)));
    QCOMPARE(again->report, contents(records::reportPathFor(log)));
}

void RunFilesTest::report()
{
    const QString log = writeRun(QStringLiteral("report.csv"), records::LogLayout::Csv);
    QVERIFY(!log.isEmpty());
    const auto table = records::readInstrumentTable(QStringLiteral(EXAMPLE_INSTRUMENT_TABLE));
    QVERIFY(table && records::writeRunFiles(log, *table, QStringLiteral("<typical> values")));
    const QString html = QString::fromUtf8(contents(records::reportPathFor(log)));
    QVERIFY(html.startsWith(QLatin1String("<!DOCTYPE html>")));
    QVERIFY(html.contains(QLatin1String("@page { size: A4")));
    QVERIFY(html.contains(QLatin1String("tr { break-inside: avoid")));
    QVERIFY(!html.contains(QLatin1String("<script")) && !html.contains(QLatin1String("src=")));
    // Every text escaped.
    QVERIFY(html.contains(QLatin1String("Camera &lt;slow&gt;, &quot;late&quot; &amp; ok")));
    QVERIFY(html.contains(QLatin1String("&lt;typical&gt; values")));
    QVERIFY(!html.contains(QLatin1String("<slow>")));
    QCOMPARE(html.count(QLatin1String("<tr><td class=\"n\">")), 2);
    QCOMPARE(html.count(QLatin1String("<svg")), 2 + 2); // two trends, two windows
    QCOMPARE(html.count(QLatin1String("<title>Record ")), 2 * 2);
    QVERIFY(html.contains(QLatin1String(
        QCryptographicHash::hash(contents(log), QCryptographicHash::Sha256).toHex())));
    QVERIFY(html.contains(QLatin1String("Points recorded</th><td>2 of 2")));
    QVERIFY(!html.contains(QLatin1String("Reference point against")));
}

void RunFilesTest::referencePair_data()
{
    QTest::addColumn<bool>("referenceOn");
    QTest::addColumn<double>("referenceT");
    QTest::addColumn<double>("referenceP");
    QTest::addColumn<int>("grid");
    QTest::newRow("same as grid point 2") << true << 23.0 << 1.004 << 2;
    QTest::newRow("no grid point there") << true << 23.0 << 1.006 << 0;
    QTest::newRow("no reference point") << false << 23.0 << 1.0 << 0;
}

void RunFilesTest::referencePair()
{
    QFETCH(bool, referenceOn);
    QFETCH(double, referenceT);
    QFETCH(double, referenceP);
    records::JournalPlan plan;
    plan.temperature = records::JournalAxis{true, 22, 23, 1, 2};
    plan.referencePointOn = referenceOn;
    std::vector<records::PointRow> rows(3);
    for (int i = 0; i < 3; ++i) {
        rows[i].record = i + 1;
        rows[i].stats = pointstats::PointStats{};
        rows[i].stats->setT = i == 2 ? referenceT : 22.0 + i;
        rows[i].stats->setPBar = i == 2 ? referenceP : 1.0;
    }
    const auto pair = records::referencePair(plan, rows);
    QFETCH(int, grid);
    QCOMPARE(pair ? pair->grid->record : 0, grid);
    QVERIFY(!pair || pair->reference->record == 3);
}

QTEST_APPLESS_MAIN(RunFilesTest)
#include "tst_runfiles.moc"
