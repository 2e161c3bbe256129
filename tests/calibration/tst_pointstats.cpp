// Per-point statistics from a run's trace, against values worked out by hand.
#include "pointstats.h"

#include <QtTest>

#include <cmath>

using namespace pointstats;

Q_DECLARE_METATYPE(std::vector<double>)

namespace {

TraceLine reading(qint64 ms, float t, float p, float n2 = 7.878f, float o2 = 2.122f)
{
    TraceLine line;
    line.atMs = ms;
    line.values = {t, 22.0f, p, 1.0f, n2, o2};
    return line;
}

TraceLine happened(qint64 ms, Kind kind, int record = 0, PulseOutcome outcome = PulseOutcome::Sent)
{
    TraceLine line;
    line.atMs = ms;
    line.kind = kind;
    line.record = record;
    line.outcome = outcome;
    line.values = {22.0f, 22.0f, 1.0f, 1.0f, 7.878f, 2.122f};
    return line;
}

TraceLine warning(qint64 ms, const QString& text)
{
    TraceLine line = happened(ms, Kind::Warning);
    line.text = text;
    return line;
}

bool near(double a, double b, double tolerance)
{
    return std::isnan(a) ? std::isnan(b) : std::fabs(a - b) <= tolerance;
}

// One point: readings every 2 s from 0 s, reached at `reachedMs` (-1: never
// said); its pulses begin at 15 s, so the window holds the readings at 6, 8,
// 10, 12 and 14 s (the one at 4 s, 30 °C, lies outside it) unless the point
// was reached later.
std::vector<TraceLine> onePoint(qint64 reachedMs = 5500)
{
    const float t[] = {21.0f, 21.5f, 30.0f, 22.0f, 22.1f, 22.2f, 22.1f, 22.0f};
    const float p[] = {0.9f, 0.95f, 0.5f, 1.0f, 1.0f, 1.002f, 1.0f, 0.998f};
    std::vector<TraceLine> lines{happened(0, Kind::Start), happened(500, Kind::SetPoint)};
    for (int i = 0; i < 8; ++i) {
        if (reachedMs >= 0 && reachedMs < i * 2000 && reachedMs > (i - 1) * 2000)
            lines.push_back(happened(reachedMs, Kind::Reached));
        lines.push_back(reading(i * 2000, t[i], p[i]));
    }
    lines.push_back(happened(14500, Kind::Record, 1));
    lines.push_back(happened(15000, Kind::PulsesBegin, 1));
    lines.push_back(happened(15100, Kind::Pulse, 1));
    lines.push_back(happened(15200, Kind::Pulse, 1, PulseOutcome::Answered));
    lines.push_back(warning(15300, QStringLiteral("slow camera")));
    lines.push_back(happened(16000, Kind::PulsesEnd, 1));
    lines.push_back(reading(16500, 22.3f, 1.01f, 7.9f, 2.1f));
    lines.push_back(happened(16600, Kind::SetPoint)); // the next point's: not this one's
    return lines;
}

} // namespace

class PointStatsTest : public QObject
{
    Q_OBJECT
private slots:
    void channelStats_data();
    void channelStats();
    void settledPoint();
    void windowBeginsWhenReached_data();
    void windowBeginsWhenReached();
    void pointsTriedAgain_data();
    void pointsTriedAgain();
};

void PointStatsTest::channelStats_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("sd");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    const double na = kUnknown;
    // sd of 1..4: squares 2.25 + 0.25 + 0.25 + 2.25 = 5, / 3, root 1.2909944.
    QTest::newRow("four") << std::vector<double>{4, 1, 3, 2} << 4 << 2.5 << 1.2909944 << 1.0 << 4.0;
    QTest::newRow("unknowns skipped")
        << std::vector<double>{na, 2, 4} << 2 << 3.0 << 1.4142136 << 2.0 << 4.0;
    QTest::newRow("one value has no spread")
        << std::vector<double>{5} << 1 << 5.0 << na << 5.0 << 5.0;
    QTest::newRow("none") << std::vector<double>{na} << 0 << na << na << na << na;
}

void PointStatsTest::channelStats()
{
    QFETCH(std::vector<double>, values);
    const ChannelStats s = pointstats::channelStats(values);
    QTEST(s.count, "count");
    QFETCH(double, mean);
    QFETCH(double, sd);
    QFETCH(double, min);
    QFETCH(double, max);
    QVERIFY(near(s.mean, mean, 1e-7) && near(s.sd, sd, 1e-7));
    QVERIFY(near(s.min, min, 0) && near(s.max, max, 0));
}

void PointStatsTest::settledPoint()
{
    const std::vector<TraceLine> lines = onePoint();
    const std::vector<PointStats> points = computePointStats(lines);
    QCOMPARE(points.size(), std::size_t(1));
    const PointStats& s = points[0];
    QCOMPARE(s.record, 1);
    QCOMPARE(s.tries, 1);
    QCOMPARE(s.recordedMs, qint64(14500));
    QVERIFY(near(s.setT, 22.0, 1e-6) && near(s.setPBar, 1.0, 1e-6));
    QVERIFY(near(s.settlingS, 5.0, 1e-9)); // set point at 0.5 s, reached at 5.5 s
    QCOMPARE(s.windowReadings, 5);
    // T 22.0 22.1 22.2 22.1 22.0: mean 22.08; deviations -.08 .02 .12 .02 -.08,
    // squares .028, / 4, root 0.0836660.
    QCOMPARE(s.window[T].count, 5);
    QVERIFY(near(s.window[T].mean, 22.08, 1e-5));
    QVERIFY(near(s.window[T].sd, 0.0836660, 1e-5));
    QVERIFY(near(s.window[T].min, 22.0, 1e-5) && near(s.window[T].max, 22.2, 1e-5));
    // P 1 1 1.002 1 0.998: mean 1, squares 8e-6, / 4, root 0.0014142.
    QVERIFY(near(s.window[P].mean, 1.0, 1e-6));
    QVERIFY(near(s.window[P].sd, 0.0014142, 1e-6));
    QVERIFY(near(s.window[N2].sd, 0.0, 1e-9) && near(s.window[O2].mean, 2.122, 1e-6));
    // The first reading after the pulses, against the window's mean.
    QVERIFY(near(s.after[T], 22.3, 1e-5) && near(s.afterMinusMean[T], 0.22, 1e-5));
    QVERIFY(near(s.afterMinusMean[P], 0.01, 1e-6));
    QVERIFY(near(s.afterMinusMean[N2], 0.022, 1e-5));
    QCOMPARE(s.pulsesSent, 1);
    QCOMPARE(s.pulsesAnswered, 1);
    QCOMPARE(s.warnings, QStringList{QStringLiteral("slow camera")});
    // The window's lines run up to the one where the pulses began.
    QCOMPARE(lines[s.windowEnd].kind, Kind::PulsesBegin);
    QCOMPARE(lines[s.windowBegin].atMs, qint64(6000));

    // Set points that moved on before the next reading (the run's end): no
    // reading describes the exposure any more.
    std::vector<TraceLine> ended = lines;
    std::swap(ended[ended.size() - 2], ended.back());
    QVERIFY(std::isnan(computePointStats(ended)[0].after[T]));
}

void PointStatsTest::windowBeginsWhenReached_data()
{
    QTest::addColumn<qint64>("reachedMs");
    QTest::addColumn<int>("readings");
    QTest::addColumn<qint64>("firstMs");
    QTest::addColumn<double>("tMean");
    QTest::newRow("reached before the last 10 s") << qint64(5500) << 5 << qint64(6000) << 22.08;
    // T 22.2 22.1 22.0: the reading that showed it reached and those after;
    // the ones while it still settled stay out.
    QTest::newRow("reached 4.5 s before the pulses") << qint64(10500) << 3 << qint64(10000) << 22.1;
    QTest::newRow("never said reached: the last 10 s") << qint64(-1) << 5 << qint64(6000) << 22.08;
}

void PointStatsTest::windowBeginsWhenReached()
{
    QFETCH(qint64, reachedMs);
    const std::vector<TraceLine> lines = onePoint(reachedMs);
    const std::vector<PointStats> points = computePointStats(lines);
    QCOMPARE(points.size(), std::size_t(1));
    QTEST(points[0].windowReadings, "readings");
    QTEST(lines[points[0].windowBegin].atMs, "firstMs");
    QFETCH(double, tMean);
    QVERIFY(near(points[0].window[T].mean, tMean, 1e-5));
}

void PointStatsTest::pointsTriedAgain_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<int>("tries");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<bool>("after");
    QTest::newRow("every pulse refused, taken back, recorded again") << 0 << 2 << 1 << 2 << true;
    QTest::newRow("stopped while pulsing: the record stands") << 1 << 1 << 1 << 0 << false;
    QTest::newRow("resumed after a crash while pulsing") << 2 << 2 << 1 << 1 << true;
}

void PointStatsTest::pointsTriedAgain()
{
    QFETCH(int, scenario);
    std::vector<TraceLine> lines{happened(0, Kind::Start),
                                 happened(100, Kind::SetPoint),
                                 reading(1000, 22, 1),
                                 happened(1100, Kind::Reached),
                                 happened(1200, Kind::Record, 1),
                                 happened(1300, Kind::PulsesBegin, 1)};
    switch (scenario) {
    case 0:
        lines.push_back(happened(1400, Kind::Pulse, 1, PulseOutcome::Refused));
        lines.push_back(warning(1410, QStringLiteral("refused")));
        lines.push_back(happened(1500, Kind::PulsesEnd, 1));
        lines.push_back(happened(1600, Kind::TakenBack, 1));
        lines.push_back(warning(1700, QStringLiteral("point repeated")));
        break;
    case 1:
        lines.push_back(happened(1400, Kind::Pulse, 1));
        lines.push_back(happened(1500, Kind::Stop));
        break;
    case 2:
        lines.push_back(happened(1400, Kind::Pulse, 1));
        lines.push_back(happened(5000, Kind::Start));
        lines.push_back(happened(5100, Kind::TakenBack, 1));
        lines.push_back(warning(5200, QStringLiteral("images may be on the camera")));
        break;
    default:
        break;
    }
    if (scenario != 1) {
        lines.push_back(reading(6000, 22, 1));
        lines.push_back(happened(6100, Kind::Record, 1));
        lines.push_back(happened(6200, Kind::PulsesBegin, 1));
        lines.push_back(happened(6300, Kind::Pulse, 1));
        lines.push_back(happened(6400, Kind::PulsesEnd, 1));
        lines.push_back(reading(6500, 22, 1));
    }
    const std::vector<PointStats> points = computePointStats(lines);
    QCOMPARE(points.size(), std::size_t(1));
    QTEST(points[0].tries, "tries");
    QTEST(points[0].pulsesSent, "sent");
    QTEST(int(points[0].warnings.size()), "warnings");
    QTEST(!std::isnan(points[0].after[T]), "after");
    // Settling is the point's, from its first set point, however often it was tried.
    QVERIFY(near(points[0].settlingS, 1.0, 1e-9));
}

QTEST_APPLESS_MAIN(PointStatsTest)
#include "tst_pointstats.moc"
