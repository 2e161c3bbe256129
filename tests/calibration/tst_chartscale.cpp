// The live view's chart scales: round ticks on the value and time axes, and
// the stretch of time the charts show.
#include "chartscale.h"

#include <QDateTime>
#include <QSet>
#include <QtTest>

using chartscale::Span;

Q_DECLARE_METATYPE(chartscale::Span)

namespace {

QString labels(const chartscale::Scale& scale)
{
    QStringList out;
    for (const chartscale::Tick& tick : scale.ticks)
        out << tick.label;
    return out.join(' ');
}

// Every tick on the axis, in order, each label once.
void checkTicks(const chartscale::Scale& scale, int maxTicks)
{
    QVERIFY(!scale.ticks.empty());
    QVERIFY(int(scale.ticks.size()) <= maxTicks);
    QSet<QString> seen;
    double previous = -INFINITY;
    for (const chartscale::Tick& tick : scale.ticks) {
        QVERIFY2(tick.at >= scale.min && tick.at <= scale.max, qPrintable(tick.label));
        QVERIFY(tick.at > previous);
        QVERIFY2(!seen.contains(tick.label), qPrintable(tick.label));
        previous = tick.at;
        seen.insert(tick.label);
    }
}

const qint64 kBase = QDateTime(QDate(2026, 12, 8), QTime(3, 0, 12), Qt::UTC).toMSecsSinceEpoch();
constexpr qint64 kS = 1000;
constexpr qint64 kMin = 60 * kS;
constexpr qint64 kH = 60 * kMin;

} // namespace

class ChartScaleTest : public QObject
{
    Q_OBJECT
private slots:
    void valueTicks_data();
    void valueTicks();
    void timeTicks_data();
    void timeTicks();
    void timeWindows_data();
    void timeWindows();
};

void ChartScaleTest::valueTicks_data()
{
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<double>("minSpan");
    QTest::addColumn<QString>("ticks");

    QTest::newRow("temperature approach") << 21.05 << 24.15 << 6 << 0.5 << "21 22 23 24";
    QTest::newRow("pressure 0 to 2 bar") << 0.0 << 2.0 << 6 << 0.1 << "0.0 0.5 1.0 1.5 2.0";
    QTest::newRow("slightly below zero: no -0")
        << -0.16 << 0.42 << 6 << 0.1 << "-0.1 0.0 0.1 0.2 0.3 0.4";
    QTest::newRow("flows") << 0.0 << 9.85 << 6 << 0.2 << "0 2 4 6 8 10";
    QTest::newRow("kPa") << 0.0 << 200.0 << 6 << 10.0 << "0 50 100 150 200";
    QTest::newRow("steady reading: the least span around it")
        << 22.0 << 22.0 << 6 << 0.5 << "21.8 21.9 22.0 22.1 22.2";
    QTest::newRow("large values, small span")
        << 995.0 << 1005.0 << 6 << 1.0 << "996 998 1000 1002 1004";
    QTest::newRow("thousandths") << 0.012 << 0.018 << 6 << 0.001 << "0.012 0.014 0.016 0.018";
    QTest::newRow("fewer ticks on a low chart") << 0.0 << 2.0 << 3 << 0.1 << "0 1 2";
    QTest::newRow("bounds the wrong way round") << 2.0 << 0.0 << 6 << 0.1 << "0.0 0.5 1.0 1.5 2.0";
    QTest::newRow("no number: 0 to 1") << qQNaN() << 5.0 << 6 << 0.1 << "0.0 0.2 0.4 0.6 0.8 1.0";
}

void ChartScaleTest::valueTicks()
{
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(int, maxTicks);
    QFETCH(double, minSpan);
    const chartscale::Scale scale = chartscale::valueScale(lo, hi, maxTicks, minSpan);
    QTEST(labels(scale), "ticks");
    checkTicks(scale, maxTicks);
    if (std::isfinite(lo)) {
        // Room above and below the data, a little.
        const double low = std::min(lo, hi), high = std::max(lo, hi);
        const double span = std::max(high - low, minSpan);
        QVERIFY(scale.min < low && scale.max > high);
        QVERIFY(scale.max - scale.min <= 1.1 * span * (1 + 1e-9));
    }
}

void ChartScaleTest::timeTicks_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<int>("utcOffsetS");
    QTest::addColumn<QString>("ticks");

    QTest::newRow("twenty seconds") << kBase - 12 * kS << kBase + 8 * kS << 8 << 0
                                    << "03:00:00 03:00:05 03:00:10 03:00:15 03:00:20";
    QTest::newRow("two minutes") << kBase << kBase + 128 * kS << 5 << 0
                                 << "03:00:30 03:01:00 03:01:30 03:02:00";
    QTest::newRow("ten minutes") << kBase - 470 * kS << kBase + 130 * kS << 8 << 0
                                 << "02:54 02:56 02:58 03:00 03:02";
    QTest::newRow("ten minutes, clock 5:30 ahead of UTC")
        << kBase - 470 * kS << kBase + 130 * kS << 8 << 5 * 3600 + 1800
        << "08:24 08:26 08:28 08:30 08:32";
    QTest::newRow("two days: with the date")
        << kBase - 3 * kH - 12 * kS - 24 * kH << kBase + 21 * kH - 12 * kS << 5 << 0
        << "07.12 00:00 07.12 12:00 08.12 00:00 08.12 12:00 09.12 00:00";
    QTest::newRow("a month") << kBase << kBase + 30 * 24 * kH << 6 << 0
                             << "13.12.26 18.12.26 23.12.26 28.12.26 02.01.27 07.01.27";
}

void ChartScaleTest::timeTicks()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(int, maxTicks);
    QFETCH(int, utcOffsetS);
    const chartscale::Scale scale = chartscale::timeScale(from, to, maxTicks, utcOffsetS);
    QTEST(labels(scale), "ticks");
    checkTicks(scale, maxTicks);
    QCOMPARE(scale.min, double(from));
    QCOMPARE(scale.max, double(to));
}

void ChartScaleTest::timeWindows_data()
{
    // Times in seconds from now; -1 for none.
    QTest::addColumn<Span>("span");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("runStart");
    QTest::addColumn<int>("runEnd");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    const int none = -1;
    const Span ten = Span::TenMinutes, hour = Span::OneHour, run = Span::WholeRun;

    QTest::newRow("10 min of a long record") << ten << -3600 << 0 << none << none << -600 << 0;
    QTest::newRow("10 min, a short run: from the first reading")
        << ten << -40 << 0 << -35 << none << -40 << 0;
    QTest::newRow("1 h, five minutes recorded") << hour << -300 << 0 << none << none << -300 << 0;
    QTest::newRow("just connected: the shortest stretch")
        << ten << -2 << 0 << none << none << -10 << 0;
    QTest::newRow("nothing recorded") << ten << none << none << none << none << -600 << 0;
    QTest::newRow("a reading after now: the clock was set back")
        << ten << -100 << 5 << none << none << -100 << 5;
    QTest::newRow("whole run, under way") << run << -600 << 0 << -180 << none << -180 << 0;
    QTest::newRow("whole run, ended") << run << -3600 << 0 << -1800 << -1200 << -1800 << -1200;
    QTest::newRow("whole run of four seconds") << run << -120 << 0 << -60 << -56 << -66 << -56;
    QTest::newRow("whole record before any run") << run << -7200 << 0 << none << none << -7200 << 0;
    QTest::newRow("whole record, nothing recorded")
        << run << none << none << none << none << -10 << 0;
}

void ChartScaleTest::timeWindows()
{
    QFETCH(Span, span);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, runStart);
    QFETCH(int, runEnd);
    const qint64 now = kBase;
    auto at = [now](int s) { return s == -1 ? -1 : now + qint64(s) * kS; };
    chartscale::WindowInputs in;
    in.span = span;
    in.nowMs = now;
    in.firstReadingMs = at(first);
    in.lastReadingMs = at(last);
    in.runStartMs = at(runStart);
    in.runEndMs = at(runEnd);
    const chartscale::Window w = chartscale::timeWindow(in);
    QTEST(int((w.fromMs - now) / kS), "from");
    QTEST(int((w.toMs - now) / kS), "to");
}

QTEST_APPLESS_MAIN(ChartScaleTest)
#include "tst_chartscale.moc"
