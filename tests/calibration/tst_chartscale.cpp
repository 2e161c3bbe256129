// The live view's chart scales: round ticks on the value and time axes, and
// the stretch of time the charts show.
#include "chartscale.h"

#include <QDateTime>
#include <QtTest>

using chartscale::Span;

Q_DECLARE_METATYPE(chartscale::Span)

namespace {

// The labels, after checking that the ticks ascend within the axis and that
// no label comes twice.
QString labels(const chartscale::Scale& scale)
{
    QStringList out;
    double previous = scale.min;
    for (const chartscale::Tick& tick : scale.ticks) {
        if (tick.at < previous || tick.at > scale.max || out.contains(tick.label))
            return QStringLiteral("bad tick ") + tick.label;
        previous = tick.at;
        out << tick.label;
    }
    return out.join(' ');
}

const qint64 kBase = QDateTime(QDate(2026, 12, 8), QTime(3, 0, 12), Qt::UTC).toMSecsSinceEpoch();
constexpr qint64 kS = 1000;
constexpr qint64 kH = 3600 * kS;

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
    QTest::newRow("below zero, and no -0")
        << -0.16 << 0.42 << 6 << 0.1 << "-0.1 0.0 0.1 0.2 0.3 0.4";
    QTest::newRow("steady reading: the least span around it")
        << 22.0 << 22.0 << 6 << 0.5 << "21.8 21.9 22.0 22.1 22.2";
    QTest::newRow("thousandths") << 0.012 << 0.018 << 6 << 0.001 << "0.012 0.014 0.016 0.018";
    QTest::newRow("a low chart") << 2.0 << 0.0 << 3 << 0.1 << "0 1 2";
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
    QVERIFY(int(scale.ticks.size()) <= maxTicks);
    if (std::isfinite(lo)) {
        // A little room above and below the data: a twentieth of its span.
        const double span = std::max(std::fabs(hi - lo), minSpan);
        QVERIFY(scale.min < std::min(lo, hi) && scale.max > std::max(lo, hi));
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
    QTest::newRow("ten minutes") << kBase - 470 * kS << kBase + 130 * kS << 8 << 0
                                 << "02:54 02:56 02:58 03:00 03:02";
    QTest::newRow("ten minutes, clock 5:30 ahead of UTC")
        << kBase - 470 * kS << kBase + 130 * kS << 8 << 5 * 3600 + 1800
        << "08:24 08:26 08:28 08:30 08:32";
    QTest::newRow("two days: with the date")
        << kBase - 27 * kH - 12 * kS << kBase + 21 * kH - 12 * kS << 5 << 0
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
    QTEST(labels(chartscale::timeScale(from, to, maxTicks, utcOffsetS)), "ticks");
}

void ChartScaleTest::timeWindows_data()
{
    // Times in seconds from now; -1 for none.
    QTest::addColumn<Span>("span");
    QTest::addColumn<QList<int>>("firstLastStartEnd");
    QTest::addColumn<QString>("window");
    const Span ten = Span::TenMinutes, run = Span::WholeRun;
    QTest::newRow("10 min of a long record") << ten << QList<int>{-3600, 0, -1, -1} << "-600..0";
    QTest::newRow("10 min, a short run: from the first reading")
        << ten << QList<int>{-40, 0, -35, -1} << "-40..0";
    QTest::newRow("1 h, five minutes recorded")
        << Span::OneHour << QList<int>{-300, 0, -1, -1} << "-300..0";
    QTest::newRow("just connected: the shortest stretch")
        << ten << QList<int>{-2, 0, -1, -1} << "-10..0";
    QTest::newRow("a reading after now: the clock was set back")
        << ten << QList<int>{-100, 5, -1, -1} << "-100..5";
    QTest::newRow("whole run, under way") << run << QList<int>{-600, 0, -180, -1} << "-180..0";
    QTest::newRow("whole run, ended")
        << run << QList<int>{-3600, 0, -1800, -1200} << "-1800..-1200";
    QTest::newRow("whole run of four seconds")
        << run << QList<int>{-120, 0, -60, -56} << "-66..-56";
    QTest::newRow("whole record before any run")
        << run << QList<int>{-7200, 0, -1, -1} << "-7200..0";
}

void ChartScaleTest::timeWindows()
{
    QFETCH(Span, span);
    QFETCH(QList<int>, firstLastStartEnd);
    auto at = [](int s) { return s == -1 ? -1 : kBase + qint64(s) * kS; };
    chartscale::WindowInputs in;
    in.span = span;
    in.nowMs = kBase;
    in.firstReadingMs = at(firstLastStartEnd[0]);
    in.lastReadingMs = at(firstLastStartEnd[1]);
    in.runStartMs = at(firstLastStartEnd[2]);
    in.runEndMs = at(firstLastStartEnd[3]);
    const chartscale::Window w = chartscale::timeWindow(in);
    QTEST(QStringLiteral("%1..%2").arg((w.fromMs - kBase) / kS).arg((w.toMs - kBase) / kS),
          "window");
}

QTEST_APPLESS_MAIN(ChartScaleTest)
#include "tst_chartscale.moc"
