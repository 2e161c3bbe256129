#include "reporthtml.h"

#include "chartscale.h"
#include "runprogress.h"
#include "units.h"

#include <QDateTime>
#include <QStringList>

#include <cmath>
#include <functional>
#include <limits>

namespace records {

namespace {

using pointstats::Kind;
using pointstats::TraceLine;

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

QString num(double value, int decimals)
{
    return fixedOrNa(value, decimals);
}

// How the report shows the quantities: the points file's units and decimals.
struct Format
{
    double factor = 1.0; // bar to the shown unit
    QString unit;        // "bar", "kPa", "psi"
    int pDecimals = 5;

    QString t(double v) const { return num(v, 3); }
    QString p(double bar) const { return num(bar * factor, pDecimals); }
    QString tUnit(double v) const { return withUnit(t(v), QStringLiteral("°C")); }
    QString pUnit(double bar) const { return withUnit(p(bar), unit); }
    static QString withUnit(const QString& value, const QString& unit)
    {
        return value == QLatin1String("n/a") ? value : value + QLatin1Char(' ') + unit;
    }
};

Format formatFor(double unitFactor)
{
    return Format{pointsUnitFactor(unitFactor), pointsUnitWord(unitFactor),
                  pointsPressureDecimals(unitFactor)};
}

QString utcText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" UTC");
}

QString svgNumber(double v)
{
    return QString::number(v, 'f', 1);
}

// A chart of one reading and its set point over the whole run, with a mark
// at every record.
QString trendSvg(const std::vector<TraceLine>& lines, history::Channel value, history::Channel set,
                 double factor, double minSpan, const QString& title,
                 const std::vector<PointRow>& rows)
{
    if (lines.empty())
        return QString();
    const qint64 from = lines.front().atMs;
    const qint64 to = std::max(lines.back().atMs, from + 1000);
    constexpr double kW = 700, kH = 170, kLeft = 60, kRight = 8, kTop = 8, kBottom = 22;
    const double plotW = kW - kLeft - kRight, plotH = kH - kTop - kBottom;
    constexpr int kBuckets = 350;

    history::MinMaxThinner values(from, to + 1, kBuckets), sets(from, to + 1, kBuckets);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const TraceLine& line : lines) {
        if (line.kind != Kind::Reading)
            continue;
        for (const history::Channel c : {value, set}) {
            const float v = line.values[c];
            if (!history::known(v))
                continue;
            (c == value ? values : sets).add(line.atMs, float(v * factor));
            lo = std::min(lo, v * factor);
            hi = std::max(hi, v * factor);
        }
    }
    if (lo > hi)
        lo = hi = 0;
    const chartscale::Scale ys = chartscale::valueScale(lo, hi, 6, minSpan);
    const chartscale::Scale xs = chartscale::timeScale(from, to, 8, 0);
    const auto x = [&](double ms) { return kLeft + (ms - from) / double(to - from) * plotW; };
    const auto y = [&](double v) { return kTop + (ys.max - v) / (ys.max - ys.min) * plotH; };

    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"trend\" "
                                 "viewBox=\"0 0 %1 %2\" role=\"img\"><title>%3</title>")
                      .arg(kW)
                      .arg(kH)
                      .arg(esc(title));
    svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" class=\"plot\"/>")
               .arg(kLeft)
               .arg(kTop)
               .arg(plotW)
               .arg(plotH);
    for (const chartscale::Tick& tick : ys.ticks) {
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" class=\"grid\"/>"
                              "<text x=\"%4\" y=\"%5\" class=\"ylabel\">%6</text>")
                   .arg(kLeft)
                   .arg(kW - kRight)
                   .arg(svgNumber(y(tick.at)))
                   .arg(kLeft - 4)
                   .arg(svgNumber(y(tick.at) + 3))
                   .arg(esc(tick.label));
    }
    for (const chartscale::Tick& tick : xs.ticks) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"xlabel\">%3</text>")
                   .arg(svgNumber(x(tick.at)))
                   .arg(kH - 6)
                   .arg(esc(tick.label));
    }
    for (const PointRow& row : rows) {
        if (row.stats && row.stats->recordedMs >= from) {
            svg += QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" class=\"mark\">"
                                  "<title>Record %4</title></line>")
                       .arg(svgNumber(x(row.stats->recordedMs)))
                       .arg(kTop)
                       .arg(kTop + plotH)
                       .arg(row.record);
        }
    }
    for (auto* series : {&sets, &values}) {
        QStringList points;
        for (const history::MinMaxThinner::Point& p : series->finish())
            points << svgNumber(x(p.atMs)) + QLatin1Char(',') + svgNumber(y(p.value));
        svg += QStringLiteral("<polyline class=\"%1\" points=\"%2\"/>")
                   .arg(series == &sets ? QStringLiteral("set") : QStringLiteral("value"),
                        points.join(QLatin1Char(' ')));
    }
    return svg + QStringLiteral("</svg>");
}

// The settled window of a point: temperature and pressure, each scaled to
// its own range.
QString windowSvg(const std::vector<TraceLine>& lines, const pointstats::PointStats& stats)
{
    constexpr double kW = 100, kH = 30, kPad = 2;
    if (stats.windowReadings == 0 || stats.windowEnd > lines.size())
        return QStringLiteral("no readings");
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"spark\" "
                                 "viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\">")
                      .arg(kW)
                      .arg(kH);
    for (const pointstats::Quantity q : {pointstats::P, pointstats::T}) {
        const pointstats::ChannelStats& c = stats.window[q];
        const double span = c.max - c.min > 0 ? c.max - c.min : 1.0;
        const qint64 first = lines[stats.windowBegin].atMs;
        const double width = std::max<qint64>(lines[stats.windowEnd - 1].atMs - first, 1);
        QStringList points;
        for (std::size_t i = stats.windowBegin; i < stats.windowEnd; ++i) {
            const float v = lines[i].values[pointstats::channelOf(q)];
            if (lines[i].kind != Kind::Reading || !history::known(v))
                continue;
            const double px = kPad + (lines[i].atMs - first) / width * (kW - 2 * kPad);
            const double py = kPad + (c.max - v) / span * (kH - 2 * kPad);
            points << svgNumber(px) + QLatin1Char(',') + svgNumber(py);
        }
        svg += QStringLiteral("<polyline class=\"%1\" points=\"%2\"/>")
                   .arg(q == pointstats::T ? QStringLiteral("t") : QStringLiteral("p"),
                        points.join(QLatin1Char(' ')));
    }
    return svg + QStringLiteral("</svg>");
}

QString row2(const QString& heading, const QString& html)
{
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(esc(heading), html);
}

QString planText(const JournalPlan& plan)
{
    const QString unitLabel = units::unitLabel(units::unitFromFactor(plan.unitFactor));
    const QString pUnit = unitLabel.isEmpty() ? QStringLiteral("bar") : unitLabel;
    const auto axis = [](const JournalAxis& a, const QString& name, const QString& unit,
                         int decimals) {
        if (!a.on)
            return QStringLiteral("%1 axis off").arg(name);
        return QStringLiteral("%1 %2 to %3 %4 in steps of %5 (%6 points)")
            .arg(name, QString::number(a.from, 'f', decimals), QString::number(a.to, 'f', decimals),
                 unit, QString::number(a.step, 'f', decimals))
            .arg(a.points);
    };
    const int pDecimals = units::displayDecimals(units::unitFromFactor(plan.unitFactor));
    QStringList parts{
        axis(plan.temperature, QStringLiteral("temperature"), QStringLiteral("°C"), 1),
        axis(plan.pressure, QStringLiteral("pressure"), pUnit, pDecimals)};
    parts << (plan.referencePointOn ? QStringLiteral("reference point %1 °C, %2 %3")
                                          .arg(QString::number(plan.referenceT, 'f', 1),
                                               QString::number(plan.referenceP, 'f', 1), pUnit)
                                    : QStringLiteral("no reference point"));
    parts << QStringLiteral("%1 pulse(s) per point, %2 s before the first and %3 s between, "
                            "%4 s more at 0 bar, camera feedback %5, pulse width %6")
                 .arg(plan.pulsesPerPoint)
                 .arg(plan.waitBeforePulseS)
                 .arg(plan.delayBetweenPulsesS)
                 .arg(plan.extraWaitAtZeroS)
                 .arg(plan.cameraFeedback ? QStringLiteral("on") : QStringLiteral("off"),
                      plan.pulseWidth);
    parts << QStringLiteral("log layout %1, %2")
                 .arg(plan.layout == LogLayout::Csv ? QStringLiteral("CSV") : QStringLiteral("CLS"),
                      plan.color ? QStringLiteral("colour")
                                 : QStringLiteral("one image per point"));
    return esc(parts.join(QStringLiteral("; ")));
}

QString tableText(const uncertainty::InstrumentTable& t)
{
    const auto flow = [](const char* gas, const uncertainty::FlowControllerRatings& s) {
        return QStringLiteral("%1: full scale %2 slpm, %3 of reading + %4 of full scale, "
                              "resolution %5 slpm")
            .arg(QLatin1String(gas))
            .arg(s.fullScale)
            .arg(s.ofReading)
            .arg(s.ofFullScale)
            .arg(s.resolution);
    };
    return esc(QStringLiteral("sensor %1 K + %2·|t|; controller resolution %3 K; %4; %5")
                   .arg(t.sensorA)
                   .arg(t.sensorB)
                   .arg(t.controllerResolution)
                   .arg(flow("N2", t.n2), flow("O2", t.o2)));
}

// A point's row, and a second one with its warnings; the two stay together
// on a page.
QString pointRows(const PointRow& row, const std::vector<TraceLine>& lines, const Format& f)
{
    const QString na = QStringLiteral("n/a");
    const pointstats::PointStats none;
    const pointstats::PointStats& st = row.stats ? *row.stats : none;
    const auto& w = st.window;
    QString number = QString::number(row.record);
    if (row.stats && st.tries > 1)
        number += QStringLiteral("<br><span class=\"warn\">%1 tries</span>").arg(st.tries);
    const QString window =
        row.stats ? QStringLiteral("%1<br><span>n = %2</span><br><span>settled in %3</span>")
                        .arg(windowSvg(lines, st), QString::number(st.windowReadings),
                             Format::withUnit(num(st.settlingS, 1), QStringLiteral("s")))
                  : QStringLiteral("not in the readings file");
    const auto quantity = [](const pointstats::ChannelStats& c,
                             const std::function<QString(double)>& show, const QString& set,
                             const QString& logged) {
        return QStringLiteral(
                   "<span>%1 ± %2</span><br><span class=\"range\">%3 … %4</span><br>"
                   "<span class=\"note\">set %5</span><br><span class=\"note\">log %6</span>")
            .arg(show(c.mean), show(c.sd), show(c.min), show(c.max), set, logged);
    };
    const auto t = [&f](double v) { return f.t(v); };
    const auto p = [&f](double v) { return f.p(v); };
    const QString flows = QStringLiteral("<span>N2 %1 ± %2</span><br><span>O2 %3 ± %4</span>")
                              .arg(num(w[pointstats::N2].mean, 4), num(w[pointstats::N2].sd, 4),
                                   num(w[pointstats::O2].mean, 4), num(w[pointstats::O2].sd, 4));
    const QString after =
        QStringLiteral("<span>ΔT %1</span><br><span>ΔP %2</span>")
            .arg(Format::withUnit(num(st.afterMinusMean[pointstats::T], 3), QStringLiteral("K")),
                 f.pUnit(st.afterMinusMean[pointstats::P]));
    const QString pulses =
        row.stats ? QStringLiteral("%1 / %2").arg(st.pulsesSent).arg(st.pulsesAnswered) : na;
    const auto source = [&na](bool known, uncertainty::Source s) {
        return known ? uncertainty::sourceWord(s).replace(QLatin1Char('_'), QLatin1Char(' ')) : na;
    };
    const QString u =
        QStringLiteral("<span>T %1</span><br><span class=\"range\">%2</span><br>"
                       "<span>P %3</span><br><span class=\"range\">%4</span>")
            .arg(Format::withUnit(num(row.temperature.expanded, 3), QStringLiteral("K")),
                 source(row.temperature.known(), row.temperature.dominant),
                 f.pUnit(row.pressure.expanded),
                 source(row.pressure.known(), row.pressure.dominant));
    QString out =
        QStringLiteral("<tbody class=\"point\"><tr><td class=\"n\">%1</td><td>%2</td>"
                       "<td>%3</td><td>%4</td><td>%5</td><td>%6</td><td class=\"n\">%7</td>"
                       "<td>%8</td></tr>\n")
            .arg(number, window, quantity(w[pointstats::T], t, f.t(st.setT), f.t(row.loggedT)),
                 quantity(w[pointstats::P], p, f.p(st.setPBar), f.p(row.loggedPBar)), flows, after,
                 pulses, u);
    if (!st.warnings.isEmpty()) {
        QStringList texts;
        for (const QString& text : st.warnings)
            texts << esc(text);
        out += QStringLiteral("<tr class=\"warnings\"><td></td><td colspan=\"7\" class=\"warn\">%1"
                              "</td></tr>\n")
                   .arg(texts.join(QStringLiteral("<br>")));
    }
    return out + QStringLiteral("</tbody>\n");
}

const char* kStyle = R"(@page { size: A4; margin: 14mm 12mm; }
body { font: 9.5pt/1.35 "DejaVu Sans", Arial, sans-serif; color: #111; max-width: 186mm; margin: 0 auto; }
h1 { font-size: 15pt; margin: 0 0 4pt; }
h2 { font-size: 11.5pt; margin: 14pt 0 4pt; border-bottom: 1px solid #888; break-after: avoid; page-break-after: avoid; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; vertical-align: top; padding: 2pt 4pt; }
tr { break-inside: avoid; page-break-inside: avoid; }
thead { display: table-header-group; }
table.facts th { width: 30%; font-weight: 600; }
table.points { font-size: 7pt; }
table.points th, table.points td { padding: 2pt 2.5pt; }
table.points th { border-bottom: 1px solid #888; }
tbody.point { border-bottom: 1px solid #ccc; }
table.points td.n { text-align: right; }
table.points span { white-space: nowrap; }
table.points span.range { white-space: normal; }
table.points tr.warnings td { padding-top: 0; }
tbody.point { break-inside: avoid; page-break-inside: avoid; }
.hash { font-family: "DejaVu Sans Mono", monospace; font-size: 7pt; word-break: break-all; }
.range, .note { color: #555; }
.warn { color: #b00000; }
figure { margin: 4pt 0; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-size: 8pt; color: #333; }
svg.trend { width: 100%; height: auto; }
svg .plot { fill: none; stroke: #999; }
svg .grid { stroke: #e4e4e4; }
svg .mark { stroke: #7a7a7a; stroke-dasharray: 2 2; }
svg .value, svg .set, svg .t, svg .p { fill: none; stroke-width: 1.2; }
svg .value { stroke: #1f4e9c; }
svg .set { stroke: #d08000; stroke-dasharray: 4 3; }
svg .t { stroke: #c0392b; }
svg .p { stroke: #1f4e9c; }
svg text { font-size: 10px; fill: #333; }
svg .ylabel { text-anchor: end; }
svg .xlabel { text-anchor: middle; }
)";

} // namespace

RunSummary summarize(const ReportInputs& inputs)
{
    RunSummary s;
    const std::vector<TraceLine>& lines = inputs.readings.lines;
    s.points = int(inputs.rows.size());
    s.planned = inputs.readings.identity.run.plan.totalPoints();
    if (!lines.empty())
        s.durationMs = lines.back().atMs - lines.front().atMs;
    for (const TraceLine& line : lines) {
        s.warnings += line.kind == Kind::Warning;
        s.resumes += line.kind == Kind::Start;
    }
    s.resumes = std::max(0, s.resumes - 1);
    const auto larger = [](double value, int record, double& largest, int& at) {
        if (!std::isnan(value) && (std::isnan(largest) || std::fabs(value) > std::fabs(largest))) {
            largest = value;
            at = record;
        }
    };
    for (const PointRow& row : inputs.rows) {
        if (row.stats) {
            s.repeatedPoints += row.stats->tries > 1;
            larger(row.loggedT - row.stats->setT, row.record, s.largestTDeviation,
                   s.largestTDeviationRecord);
            larger(row.loggedPBar - row.stats->setPBar, row.record, s.largestPDeviationBar,
                   s.largestPDeviationRecord);
        }
        larger(row.temperature.expanded, row.record, s.largestUT, s.largestUTRecord);
        larger(row.pressure.expanded, row.record, s.largestUPBar, s.largestUPRecord);
    }
    return s;
}

std::optional<ReferencePair> referencePair(const JournalPlan& plan,
                                           const std::vector<PointRow>& rows)
{
    if (!plan.referencePointOn)
        return std::nullopt;
    const int referenceRecord = plan.gridPoints() + 1;
    const PointRow* reference = nullptr;
    for (const PointRow& row : rows) {
        if (row.record == referenceRecord && row.stats)
            reference = &row;
    }
    if (!reference)
        return std::nullopt;
    for (const PointRow& row : rows) {
        if (row.record < referenceRecord && row.stats &&
            std::fabs(row.stats->setT - reference->stats->setT) <= 0.09 &&
            std::fabs(row.stats->setPBar - reference->stats->setPBar) <= 0.005)
            return ReferencePair{&row, reference};
    }
    return std::nullopt;
}

QByteArray reportHtml(const ReportInputs& in)
{
    const RunIdentity& id = in.readings.identity;
    const std::vector<TraceLine>& lines = in.readings.lines;
    const Format f = formatFor(id.run.plan.unitFactor);
    const RunSummary s = summarize(in);
    const QString na = QStringLiteral("n/a");

    QString h = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta "
                               "charset=\"utf-8\">\n<title>Run report: %1</title>\n<style>\n%2"
                               "</style>\n</head>\n<body>\n<h1>Calibration run report</h1>\n"
                               "<p class=\"note\">%1</p>\n")
                    .arg(esc(in.logName), QLatin1String(kStyle));

    h += QStringLiteral("<h2>Run</h2>\n<table class=\"facts\">\n");
    h += row2(QStringLiteral("Program"), esc(id.program));
    h += row2(QStringLiteral("Started"), esc(lines.empty() ? na : utcText(lines.front().atMs)));
    h += row2(QStringLiteral("Box"), esc(id.run.boxAddress));
    h += row2(QStringLiteral("Calibration log"),
              QStringLiteral("%1<br><span class=\"hash\">SHA-256 %2</span>")
                  .arg(esc(in.logName), esc(QString::fromLatin1(in.logSha256))));
    h += row2(QStringLiteral("Raw gas log"),
              QStringLiteral("%1<br><span class=\"hash\">SHA-256 %2</span>")
                  .arg(esc(in.rawLogName), esc(QString::fromLatin1(in.rawLogSha256))));
    h += row2(QStringLiteral("Plan"), planText(id.run.plan));
    h += row2(QStringLiteral("Instrument table"),
              QStringLiteral("%1<br><span class=\"note\">%2</span>")
                  .arg(esc(in.tableName), tableText(in.table)));
    h += QStringLiteral("</table>\n");

    h += QStringLiteral("<h2>Summary</h2>\n<table class=\"facts\">\n");
    h += row2(QStringLiteral("Points recorded"),
              QStringLiteral("%1 of %2").arg(s.points).arg(s.planned));
    h += row2(
        QStringLiteral("Duration"),
        esc(progress::durationText(s.durationMs)) +
            (s.resumes > 0 ? QStringLiteral(" (resumed %1 times)").arg(s.resumes) : QString()));
    h += row2(QStringLiteral("Points repeated"), QString::number(s.repeatedPoints));
    h += row2(QStringLiteral("Warnings"), QString::number(s.warnings));
    const auto at = [&](const QString& value, int record) {
        return record > 0 ? QStringLiteral("%1 (record %2)").arg(esc(value)).arg(record) : na;
    };
    h += row2(
        QStringLiteral("Largest deviation from a set point"),
        QStringLiteral("T %1; P %2")
            .arg(at(num(s.largestTDeviation, 3) + QStringLiteral(" K"), s.largestTDeviationRecord),
                 at(f.pUnit(s.largestPDeviationBar), s.largestPDeviationRecord)));
    h += row2(QStringLiteral("Largest expanded uncertainty (k = 2)"),
              QStringLiteral("T %1; P %2")
                  .arg(at(num(s.largestUT, 3) + QStringLiteral(" K"), s.largestUTRecord),
                       at(f.pUnit(s.largestUPBar), s.largestUPRecord)));
    h += QStringLiteral("</table>\n");

    h += QStringLiteral("<h2>Trends</h2>\n");
    h += QStringLiteral(
             "<figure>%1<figcaption>Temperature (°C, solid) and its set point "
             "(dashed) against UTC; a dotted line at every record.</figcaption></figure>\n")
             .arg(trendSvg(lines, history::Temperature, history::TemperatureSet, 1.0, 0.5,
                           QStringLiteral("Temperature"), in.rows));
    h += QStringLiteral("<figure>%1<figcaption>Equivalent air pressure (%2, solid) and its set "
                        "point (dashed).</figcaption></figure>\n")
             .arg(trendSvg(lines, history::Pressure, history::PressureSet, f.factor,
                           0.01 * f.factor, QStringLiteral("Pressure"), in.rows),
                  esc(f.unit));

    h += QStringLiteral("<h2>Points</h2>\n<table class=\"points\">\n<thead><tr><th>#</th>"
                        "<th>Settled window</th><th>T (°C)</th><th>P (%1)</th><th>Flows (slpm)</th>"
                        "<th>After pulses</th><th>Pulses sent / answered</th><th>U (k = 2)</th>"
                        "</tr></thead>\n")
             .arg(esc(f.unit));
    for (const PointRow& row : in.rows)
        h += pointRows(row, lines, f);
    h += QStringLiteral("</table>\n");

    const std::optional<ReferencePair> pair = referencePair(id.run.plan, in.rows);
    if (pair) {
        const pointstats::PointStats& g = *pair->grid->stats;
        const pointstats::PointStats& r = *pair->reference->stats;
        const auto combined = [](double a, double b) { return std::sqrt(a * a + b * b); };
        h += QStringLiteral("<h2>Reference point against grid point</h2>\n<table class=\"facts\">"
                            "\n");
        h += row2(QStringLiteral("Records"),
                  QStringLiteral("grid %1 at %2, reference %3 at %4, %5 apart")
                      .arg(pair->grid->record)
                      .arg(esc(utcText(g.recordedMs)))
                      .arg(pair->reference->record)
                      .arg(esc(utcText(r.recordedMs)),
                           esc(progress::durationText(r.recordedMs - g.recordedMs))));
        h += row2(QStringLiteral("Temperature, mean of the settled window"),
                  QStringLiteral("%1 then %2: %3 K (U of the difference %4 K)")
                      .arg(f.tUnit(g.window[pointstats::T].mean),
                           f.tUnit(r.window[pointstats::T].mean),
                           num(r.window[pointstats::T].mean - g.window[pointstats::T].mean, 3),
                           num(combined(pair->grid->temperature.expanded,
                                        pair->reference->temperature.expanded),
                               3)));
        h += row2(QStringLiteral("Pressure, mean of the settled window"),
                  QStringLiteral("%1 then %2: %3 (U of the difference %4)")
                      .arg(f.pUnit(g.window[pointstats::P].mean),
                           f.pUnit(r.window[pointstats::P].mean),
                           f.pUnit(r.window[pointstats::P].mean - g.window[pointstats::P].mean),
                           f.pUnit(combined(pair->grid->pressure.expanded,
                                            pair->reference->pressure.expanded))));
        h +=
            row2(QStringLiteral("Logged values"),
                 QStringLiteral("%1, %2 then %3, %4")
                     .arg(f.tUnit(pair->grid->loggedT), f.pUnit(pair->grid->loggedPBar),
                          f.tUnit(pair->reference->loggedT), f.pUnit(pair->reference->loggedPBar)));
        h += QStringLiteral("</table>\n");
    }
    h += QStringLiteral("</body>\n</html>\n");
    return h.toUtf8();
}

} // namespace records
