#include "chartscale.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace chartscale {

namespace {

constexpr double kRoom = 0.05; // of the data's height, above and below
constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

// Ticks at every multiple of `step` within [lo, hi], counted first so that
// a step far too small for the range costs nothing.
qint64 firstMultiple(double lo, double step)
{
    return qint64(std::ceil(lo / step - 1e-9));
}
qint64 lastMultiple(double hi, double step)
{
    return qint64(std::floor(hi / step + 1e-9));
}

// Steps of the time axis that land on round clock times.
const qint64 kTimeSteps[] = {kSecond,      2 * kSecond,  5 * kSecond, 10 * kSecond, 15 * kSecond,
                             30 * kSecond, kMinute,      2 * kMinute, 5 * kMinute,  10 * kMinute,
                             15 * kMinute, 30 * kMinute, kHour,       2 * kHour,    3 * kHour,
                             6 * kHour,    12 * kHour,   kDay,        2 * kDay,     5 * kDay,
                             10 * kDay,    20 * kDay,    50 * kDay,   100 * kDay,   200 * kDay,
                             500 * kDay,   1000 * kDay,  2000 * kDay, 5000 * kDay,  10000 * kDay};

} // namespace

Scale valueScale(double lo, double hi, int maxTicks, double minSpan)
{
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = 0;
        hi = 1;
    }
    if (lo > hi)
        std::swap(lo, hi);
    if (!(minSpan > 0))
        minSpan = 1;
    if (hi - lo < minSpan) {
        const double middle = lo + (hi - lo) / 2;
        lo = middle - minSpan / 2;
        hi = middle + minSpan / 2;
    }
    const double room = (hi - lo) * kRoom;
    Scale scale;
    scale.min = lo - room;
    scale.max = hi + room;

    maxTicks = std::max(maxTicks, 2);
    double decade = std::pow(10.0, std::floor(std::log10((scale.max - scale.min) / maxTicks)));
    for (;; decade *= 10) {
        for (const int mantissa : {1, 2, 5}) {
            const double step = mantissa * decade;
            const qint64 first = firstMultiple(scale.min, step);
            const qint64 last = lastMultiple(scale.max, step);
            if (last - first + 1 > maxTicks)
                continue;
            const int decimals = std::max(0, -int(std::lround(std::log10(decade))));
            for (qint64 k = first; k <= last; ++k) {
                const double at = double(k) * step;
                scale.ticks.push_back({at, QString::number(at, 'f', decimals)});
            }
            return scale;
        }
    }
}

Scale timeScale(qint64 fromMs, qint64 toMs, int maxTicks, int utcOffsetS)
{
    Scale scale;
    scale.min = double(fromMs);
    scale.max = double(std::max(toMs, fromMs + 1));
    maxTicks = std::max(maxTicks, 2);
    // Round times are counted on the local clock.
    const qint64 offsetMs = qint64(utcOffsetS) * kSecond;
    const qint64 localFrom = fromMs + offsetMs;
    const qint64 localTo = std::max(toMs, fromMs + 1) + offsetMs;
    for (const qint64 step : kTimeSteps) {
        const qint64 first = firstMultiple(double(localFrom), double(step));
        const qint64 last = lastMultiple(double(localTo), double(step));
        if (last - first + 1 > maxTicks && step != kTimeSteps[std::size(kTimeSteps) - 1])
            continue;
        QString format = QStringLiteral("HH:mm");
        if (step < kMinute)
            format = QStringLiteral("HH:mm:ss");
        else if (step >= kDay)
            format = QStringLiteral("dd.MM.yy");
        else if (localTo - localFrom >= kDay)
            format = QStringLiteral("dd.MM HH:mm");
        for (qint64 k = first; k <= last; ++k) {
            const qint64 local = k * step;
            scale.ticks.push_back(
                {double(local - offsetMs),
                 QDateTime::fromMSecsSinceEpoch(local, Qt::UTC).toString(format)});
        }
        break;
    }
    return scale;
}

Window timeWindow(const WindowInputs& in)
{
    Window w;
    w.toMs = std::max(in.nowMs, in.lastReadingMs);
    switch (in.span) {
    case Span::TenMinutes:
        w.fromMs = w.toMs - 10 * kMinute;
        break;
    case Span::OneHour:
        w.fromMs = w.toMs - kHour;
        break;
    case Span::WholeRun:
        w.fromMs = in.runStartMs >= 0 ? in.runStartMs : in.firstReadingMs;
        if (in.runStartMs >= 0 && in.runEndMs >= 0)
            w.toMs = std::max(in.runEndMs, in.runStartMs);
        if (w.fromMs < 0)
            w.fromMs = w.toMs;
        break;
    }
    if (in.firstReadingMs >= 0)
        w.fromMs = std::max(w.fromMs, std::min(in.firstReadingMs, w.toMs));
    w.fromMs = std::min(w.fromMs, w.toMs - kShortestWindowMs);
    return w;
}

} // namespace chartscale
