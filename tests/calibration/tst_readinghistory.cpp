// The live view's record: bounded memory, extremes and events kept, thinning
// that keeps spikes.
#include "readinghistory.h"

#include <QtTest>

#include <cmath>

using history::Channel;
using history::EventKind;
using history::ReadingHistory;
using history::Sample;

namespace {

constexpr qint64 kStart = 1765200000000; // some day in December 2025, UTC
constexpr qint64 kHour = 3600 * 1000;

// Extremes of one channel over everything the record holds.
std::pair<float, float> extremes(const ReadingHistory& h, Channel c)
{
    float lo = INFINITY, hi = -INFINITY;
    for (const history::Span& span : h.spans()) {
        if (history::known(span.min[c]))
            lo = std::min(lo, span.min[c]);
        if (history::known(span.max[c]))
            hi = std::max(hi, span.max[c]);
    }
    for (std::size_t i = 0; i < h.sampleCount(); ++i) {
        if (history::known(h.sample(i).v[c])) {
            lo = std::min(lo, h.sample(i).v[c]);
            hi = std::max(hi, h.sample(i).v[c]);
        }
    }
    return {lo, hi};
}

QString pointsText(const std::vector<history::MinMaxThinner::Point>& points)
{
    QStringList parts;
    for (const auto& p : points)
        parts << QStringLiteral("%1:%2").arg(p.atMs).arg(double(p.value));
    return parts.join(' ');
}

} // namespace

class ReadingHistoryTest : public QObject
{
    Q_OBJECT
private slots:
    void budgetFitsEightHoursAtThePollRates();
    void nineHourRunStaysWithinBudgetAndKeepsExtremesAndEvents();
    void weeksOfReadingsCoarsenButKeepExtremes();
    void fullEventStoreMergesWithoutLosingCount();
    void clockSetBackKeepsOrder();
    void thinner_data();
    void thinner();
};

void ReadingHistoryTest::budgetFitsEightHoursAtThePollRates()
{
    QVERIFY(ReadingHistory::capacityBytes() <= ReadingHistory::kBudgetBytes);
    // A temperature reading every 0.7 s and two flow readings every 0.5 s.
    const double perSecond = 1 / 0.7 + 2 / 0.5;
    QVERIFY2(double(ReadingHistory::kSampleCapacity) >= 8 * 3600 * perSecond,
             qPrintable(QString::number(ReadingHistory::kSampleCapacity)));
}

void ReadingHistoryTest::nineHourRunStaysWithinBudgetAndKeepsExtremesAndEvents()
{
    ReadingHistory h;
    Sample state;
    state.v[history::TemperatureSet] = 22;
    state.v[history::PressureSet] = 1;
    const qint64 end = kStart + 9 * kHour;
    qint64 nextT = kStart, nextN2 = kStart + 100, nextO2 = kStart + 350, nextEvent = kStart;
    int events = 0;
    // A one-reading spike in the part that is folded into minutes, one dip in
    // the full-resolution part.
    const qint64 spikeAt = kStart + 2600 * 700;
    const qint64 dipAt = kStart + 31000 * 700;
    for (;;) {
        const qint64 at = std::min({nextT, nextN2, nextO2});
        if (at >= end)
            break;
        if (at == nextT) {
            const double wave = std::sin(double(at - kStart) / 600000.0);
            state.v[history::Temperature] = float(22 + 0.3 * wave);
            if (at == spikeAt)
                state.v[history::Temperature] = 80.5f;
            if (at == dipAt)
                state.v[history::Temperature] = -12.25f;
            nextT += 700;
        } else if (at == nextN2) {
            state.v[history::N2] = 7.878f;
            nextN2 += 500;
        } else {
            state.v[history::O2] = 2.122f;
            state.v[history::Pressure] = 1.0f;
            nextO2 += 500;
        }
        state.atMs = at;
        h.addSample(state);
        // Every temperature extreme is set back at the next reading.
        if (at == spikeAt || at == dipAt)
            state.v[history::Temperature] = 22;
        if (at >= nextEvent) {
            h.addEvent(at, events % 10 == 0 ? EventKind::Warning : EventKind::Record,
                       QStringLiteral("Record %1 @ T:22.0 P:1.0, with a comma").arg(events));
            ++events;
            nextEvent += 90 * 1000;
        }
    }
    QVERIFY2(h.bytesUsed() <= ReadingHistory::kBudgetBytes,
             qPrintable(QString::number(h.bytesUsed())));
    // The last 8 hours at full resolution, the hour before in minutes.
    QVERIFY(h.sample(0).atMs <= h.lastMs() - ReadingHistory::kFullResolutionMs + 1000);
    QVERIFY(h.sample(0).atMs >= h.lastMs() - ReadingHistory::kFullResolutionMs);
    QVERIFY(h.spans().size() >= 59 && h.spans().size() <= 61);
    QCOMPARE(h.spans().front().startMs, kStart);
    QVERIFY(h.spans().back().endMs <= h.sample(0).atMs + ReadingHistory::kSpanMs);

    QCOMPARE(extremes(h, history::Temperature), std::make_pair(-12.25f, 80.5f));
    QCOMPARE(extremes(h, history::N2), std::make_pair(7.878f, 7.878f));
    QCOMPARE(int(h.events().size()), events);
    QCOMPARE(h.eventsAdded(), qint64(events));

    // The whole run drawn 800 pixels wide still shows both.
    const auto points = history::thinned(h, history::Temperature, kStart, end, 800);
    QVERIFY(points.size() <= 1600);
    float lo = INFINITY, hi = -INFINITY;
    for (const auto& p : points) {
        lo = std::min(lo, p.value);
        hi = std::max(hi, p.value);
    }
    QCOMPARE(lo, -12.25f);
    QCOMPARE(hi, 80.5f);
}

void ReadingHistoryTest::weeksOfReadingsCoarsenButKeepExtremes()
{
    ReadingHistory h;
    Sample s;
    const qint64 days = 14;
    for (qint64 at = kStart; at < kStart + days * 24 * kHour; at += 30000) {
        s.atMs = at;
        s.v[history::O2] = float((at / 30000) % 7);
        if (at == kStart + 60000 * 5)
            s.v[history::O2] = 99; // in the oldest minutes, merged more than once
        h.addSample(s);
    }
    QVERIFY(h.spans().size() <= ReadingHistory::kSpanCapacity);
    QVERIFY(h.bytesUsed() <= ReadingHistory::kBudgetBytes);
    QCOMPARE(extremes(h, history::O2), std::make_pair(0.0f, 99.0f));
    // The spans still tile the time before the samples without a gap.
    for (std::size_t i = 1; i < h.spans().size(); ++i)
        QVERIFY(h.spans()[i].startMs >= h.spans()[i - 1].endMs);
    QCOMPARE(h.firstMs(), kStart);
}

void ReadingHistoryTest::fullEventStoreMergesWithoutLosingCount()
{
    ReadingHistory h;
    const int extra = 25;
    const int total = int(ReadingHistory::kEventCapacity) + extra;
    for (int i = 0; i < total; ++i)
        h.addEvent(kStart + i, i < 40 ? EventKind::Warning : EventKind::Record,
                   QString(300, QLatin1Char('x'))); // longer than kept
    QCOMPARE(h.events().size(), ReadingHistory::kEventCapacity);
    int counted = 0;
    for (const history::Event& e : h.events())
        counted += e.count;
    QCOMPARE(counted, total);
    // The oldest warnings in a row were merged first.
    QCOMPARE(h.events().front().kind, EventKind::Warning);
    QCOMPARE(int(h.events().front().count), extra + 1);
    QCOMPARE(h.events().back().textUtf8.size(), ReadingHistory::kMaxEventTextBytes);
    QVERIFY(h.bytesUsed() <= ReadingHistory::kBudgetBytes);
}

void ReadingHistoryTest::clockSetBackKeepsOrder()
{
    ReadingHistory h;
    Sample s;
    for (qint64 at : {kStart + 5000, kStart + 6000, kStart + 1000, kStart + 7000}) {
        s.atMs = at;
        h.addSample(s);
    }
    h.addEvent(kStart, EventKind::ConnectionLost, QStringLiteral("lost"));
    QCOMPARE(h.sample(2).atMs, kStart + 6000);
    QCOMPARE(h.events().front().atMs, kStart + 7000);
    QCOMPARE(h.firstSampleAtOrAfter(kStart + 6000), std::size_t(1));
    QCOMPARE(h.firstSampleAtOrAfter(kStart + 6001), std::size_t(3));
}

void ReadingHistoryTest::thinner_data()
{
    QTest::addColumn<QVector<double>>("values"); // at 0, 10, 20, ... ms; NaN: unknown
    QTest::addColumn<int>("buckets");            // over [0, 100)
    QTest::addColumn<QString>("expected");

    const double nan = std::nan("");
    QTest::newRow("fewer values than buckets pass through")
        << QVector<double>{1, 2, 3} << 10 << "0:1 10:2 20:3";
    QTest::newRow("min and max of each bucket, in time order")
        << QVector<double>{5, 9, 1, 4, 7, 6, 2, 8, 3, 0} << 2 << "10:9 20:1 70:8 90:0";
    QTest::newRow("a one-sample spike survives")
        << QVector<double>{1, 1, 1, 1, 50, 1, 1, 1, 1, 1} << 1 << "0:1 40:50";
    QTest::newRow("a flat bucket gives one point") << QVector<double>{4, 4, 4, 4, 4} << 1 << "0:4";
    QTest::newRow("unknown values are skipped")
        << QVector<double>{nan, 3, nan, 1} << 1 << "10:3 30:1";
    QTest::newRow("values past the range are skipped")
        << QVector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12} << 5
        << "0:1 10:2 20:3 30:4 40:5 50:6 60:7 70:8 80:9 90:10";
}

void ReadingHistoryTest::thinner()
{
    QFETCH(QVector<double>, values);
    QFETCH(int, buckets);
    history::MinMaxThinner thinner(0, 100, buckets);
    for (int i = 0; i < values.size(); ++i)
        thinner.add(i * 10, float(values[i]));
    QTEST(pointsText(thinner.finish()), "expected");
}

QTEST_APPLESS_MAIN(ReadingHistoryTest)
#include "tst_readinghistory.moc"
