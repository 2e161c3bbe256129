#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

// The scales of the live view's charts: which stretch of time they show, and
// round tick values on both axes that read at a glance.
namespace chartscale {

struct Tick
{
    double at = 0; // on the axis: a value, or ms since the epoch
    QString label;
};

struct Scale
{
    double min = 0;
    double max = 1;
    std::vector<Tick> ticks; // ascending, all within [min, max]
};

// A value axis for data within [lo, hi]: a little room above and below the
// data, and at most `maxTicks` ticks at multiples of 1, 2 or 5 x 10^n,
// labelled with the decimals that step needs and no more. Data narrower than
// `minSpan` is shown `minSpan` high around its middle, so noise on a steady
// reading does not fill the chart.
Scale valueScale(double lo, double hi, int maxTicks, double minSpan);

// A time axis over [fromMs, toMs] with ticks at round times of the local
// clock (`utcOffsetS` ahead of UTC): whole seconds, minutes, hours or days,
// at most `maxTicks` of them; labelled "HH:mm:ss", "HH:mm", or with the date
// when the axis spans a day or more, so no two labels are the same.
Scale timeScale(qint64 fromMs, qint64 toMs, int maxTicks, int utcOffsetS);

enum class Span
{
    TenMinutes,
    OneHour,
    WholeRun,
};

struct WindowInputs
{
    Span span = Span::TenMinutes;
    qint64 nowMs = 0;
    qint64 firstReadingMs = -1; // -1 while nothing was recorded
    qint64 lastReadingMs = -1;
    qint64 runStartMs = -1; // -1 before the first run
    qint64 runEndMs = -1;   // -1 while the run goes on
};

struct Window
{
    qint64 fromMs = 0;
    qint64 toMs = 0;
};

// The shortest stretch a chart shows, so a first reading has room beside it.
constexpr qint64 kShortestWindowMs = 10 * 1000;

// The stretch of time the charts show: the last 10 minutes or hour up to now,
// or the whole run (or the whole record before any run). Never more than the
// time since the first reading, so a short record fills the chart.
Window timeWindow(const WindowInputs& in);

} // namespace chartscale
