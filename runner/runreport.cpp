#include "runreport.h"

#include "sweep.h"
#include "units.h"

#include <QJsonDocument>

#include <cmath>

namespace runner {

namespace {

// The fixed waits of the run, in seconds: the pause and settling time between
// two points, the temperature set point shown before it is sent, the set-point
// command's own waits, and a gas command's waits around its two set points.
constexpr double kPointPauseS = 2.0;
constexpr double kPointSettleS = 0.2;
constexpr double kTemperatureShowS = 0.2;
constexpr double kSetTemperatureS = 0.1 + 0.35 + 0.5 + 0.1;
constexpr double kGasCommandS = 0.2;
constexpr double kStartWaitS = 0.1;

QJsonValue optionalNumber(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

int plannedRecords(const PresetPlan& preset)
{
    const run::Plan& plan = preset.plan;
    const int t = plan.temperatureAxisOn ? plan.temperature.points : 1;
    const int p = plan.pressureAxisOn ? plan.pressure.points : 1;
    return t * p + (plan.referencePointOn ? 1 : 0);
}

double estimatedSeconds(const PresetPlan& preset, int pulses)
{
    const run::Plan& plan = preset.plan;
    const bool tOn = plan.temperatureAxisOn;
    const bool pOn = plan.pressureAxisOn;
    const int tPoints = tOn ? plan.temperature.points : 1;
    const int pPoints = pOn ? plan.pressure.points : 1;
    const double perRecord =
        preset.waitBeforePulseS + double(pulses - 1) * preset.delayBetweenPulsesS;

    double seconds = kSetTemperatureS + (pOn ? kGasCommandS : 0) + kStartWaitS;
    seconds += double(tPoints * pPoints) * perRecord;
    if (pOn) {
        int zeroPoints = 0;
        for (int j = 0; j < pPoints; ++j)
            if (sweep::pressurePointDisplay(j, plan.pressure.start, plan.pressure.delta,
                                            plan.unitFactor) == 0)
                ++zeroPoints;
        seconds += double(tPoints * zeroPoints) * preset.extraWaitAtZeroS;
        // Between the pressure points of one temperature: the pause, then the gas.
        seconds += double(tPoints * (pPoints - 1)) * (kPointPauseS + kPointSettleS + kGasCommandS);
    }
    if (tOn) {
        // Every temperature step, the one beyond the last point included.
        double step = kTemperatureShowS + kSetTemperatureS;
        step += pOn ? 2 * kGasCommandS : kPointPauseS + kPointSettleS;
        seconds += double(tPoints) * step;
    }
    if (plan.referencePointOn)
        seconds += 2 * kGasCommandS + kTemperatureShowS + kSetTemperatureS + perRecord;
    // The end: gas off, the "From:" temperature.
    seconds += (pOn ? kGasCommandS : 0) + 0.1 + kSetTemperatureS;
    return seconds;
}

QString durationText(double seconds)
{
    const qint64 whole = qint64(std::llround(std::max(0.0, seconds)));
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

PlanSummary summarise(const PresetPlan& preset, const Options& options, const LogChoice& log)
{
    PlanSummary s;
    s.records = plannedRecords(preset);
    s.estimatedS = estimatedSeconds(preset, options.pulses);
    s.unit = units::unitLabel(units::unitFromFactor(preset.plan.unitFactor));
    s.log = log;
    s.color = options.color;
    s.pulses = options.pulses;
    return s;
}

QString planText(const PresetPlan& preset, const PlanSummary& summary)
{
    const run::Plan& plan = preset.plan;
    const int pDecimals =
        units::unitFromFactor(plan.unitFactor) == units::PressureUnit::Kpa ? 0 : 2;
    QString text;
    if (plan.temperatureAxisOn)
        text += QStringLiteral("Temperature: %1 points, %2 to %3 C, step %4\n")
                    .arg(plan.temperature.points)
                    .arg(preset.tFrom, 0, 'f', 1)
                    .arg(preset.tTo, 0, 'f', 1)
                    .arg(preset.tDelta, 0, 'f', 1);
    else
        text += QStringLiteral("Temperature: off (the run ends at %1 C)\n")
                    .arg(preset.tFrom, 0, 'f', 1);
    if (plan.pressureAxisOn)
        text += QStringLiteral("Pressure: %1 points, %2 to %3 %5, step %4\n")
                    .arg(plan.pressure.points)
                    .arg(preset.pFrom, 0, 'f', pDecimals)
                    .arg(preset.pTo, 0, 'f', pDecimals)
                    .arg(preset.pDelta, 0, 'f', pDecimals)
                    .arg(summary.unit);
    else
        text += QStringLiteral("Pressure: off\n");
    if (plan.referencePointOn)
        text += QStringLiteral("Reference point: %1 %2, %3 C\n")
                    .arg(plan.referenceP, 0, 'f', 1)
                    .arg(summary.unit)
                    .arg(plan.referenceT, 0, 'f', 1);
    text += QStringLiteral("Records: %1; unit %2; log %3 (%4, %5), raw log %6\n")
                .arg(summary.records)
                .arg(summary.unit, summary.log.log,
                     summary.log.layout == records::LogLayout::Csv ? QStringLiteral("CSV")
                                                                   : QStringLiteral("CLS"),
                     summary.color ? QStringLiteral("color") : QStringLiteral("one image"),
                     summary.log.rawLog);
    text += QStringLiteral("Pulses: %1 per point, %2 ms, %3 s before, %4 s extra at 0, %5 s "
                           "between; camera feedback %6\n")
                .arg(summary.pulses)
                .arg(preset.pulseWidth.toInt())
                .arg(preset.waitBeforePulseS)
                .arg(preset.extraWaitAtZeroS)
                .arg(preset.delayBetweenPulsesS)
                .arg(preset.cameraFeedback ? QStringLiteral("on") : QStringLiteral("off"));
    text += QStringLiteral("Estimated duration: at least %1 (fixed waits; reaching each point "
                           "comes on top)\n")
                .arg(durationText(summary.estimatedS));
    return text;
}

QByteArray jsonLine(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject planEvent(const PresetPlan& preset, const PlanSummary& summary)
{
    const run::Plan& plan = preset.plan;
    QJsonObject o;
    o.insert(QStringLiteral("event"), QStringLiteral("plan"));
    o.insert(QStringLiteral("records"), summary.records);
    o.insert(QStringLiteral("unit"), summary.unit);
    o.insert(QStringLiteral("t_points"), plan.temperatureAxisOn ? plan.temperature.points : 0);
    o.insert(QStringLiteral("p_points"), plan.pressureAxisOn ? plan.pressure.points : 0);
    if (plan.temperatureAxisOn) {
        o.insert(QStringLiteral("t_from"), preset.tFrom);
        o.insert(QStringLiteral("t_to"), preset.tTo);
        o.insert(QStringLiteral("t_step"), preset.tDelta);
    }
    if (plan.pressureAxisOn) {
        o.insert(QStringLiteral("p_from"), preset.pFrom);
        o.insert(QStringLiteral("p_to"), preset.pTo);
        o.insert(QStringLiteral("p_step"), preset.pDelta);
    }
    if (plan.referencePointOn) {
        o.insert(QStringLiteral("reference_p"), plan.referenceP);
        o.insert(QStringLiteral("reference_t"), plan.referenceT);
    }
    o.insert(QStringLiteral("layout"), summary.log.layout == records::LogLayout::Csv
                                           ? QStringLiteral("csv")
                                           : QStringLiteral("cls"));
    o.insert(QStringLiteral("color"), summary.color);
    o.insert(QStringLiteral("log"), summary.log.log);
    o.insert(QStringLiteral("raw_log"), summary.log.rawLog);
    o.insert(QStringLiteral("pulses"), summary.pulses);
    o.insert(QStringLiteral("estimated_s"), std::round(summary.estimatedS * 10) / 10);
    if (summary.recordsHeld)
        o.insert(QStringLiteral("records_held"), *summary.recordsHeld);
    return o;
}

std::optional<double> remainingSeconds(double elapsedS, int doneHere, int left)
{
    if (doneHere <= 0)
        return std::nullopt;
    return elapsedS / doneHere * std::max(0, left);
}

QString pointLine(const PointReport& point)
{
    const int pDecimals = point.unit == QLatin1String("kPa") ? 0 : 2;
    QString line = QStringLiteral("record %1  T %2 C")
                       .arg(point.record, 6, 10, QLatin1Char('0'))
                       .arg(point.t, 0, 'f', 1);
    if (point.tSet)
        line += QStringLiteral(" (set %1)").arg(*point.tSet, 0, 'f', 1);
    const QString p =
        point.p ? QString::number(*point.p, 'f', pDecimals + 2) : QStringLiteral("n/a");
    line += QStringLiteral("  P %1 %2").arg(p, point.unit);
    if (point.pSet)
        line += QStringLiteral(" (set %1)").arg(*point.pSet, 0, 'f', pDecimals);
    line += QStringLiteral("  %1/%2  elapsed %3  left %4\n")
                .arg(point.done)
                .arg(point.total)
                .arg(durationText(point.elapsedS),
                     point.remainingS ? durationText(*point.remainingS) : QStringLiteral("?"));
    return line;
}

QJsonObject pointEvent(const PointReport& point)
{
    QJsonObject o;
    o.insert(QStringLiteral("event"), QStringLiteral("point"));
    o.insert(QStringLiteral("record"), point.record);
    o.insert(QStringLiteral("t_set"), optionalNumber(point.tSet));
    o.insert(QStringLiteral("p_set"), optionalNumber(point.pSet));
    o.insert(QStringLiteral("t"), point.t);
    o.insert(QStringLiteral("p"), optionalNumber(point.p));
    o.insert(QStringLiteral("unit"), point.unit);
    o.insert(QStringLiteral("elapsed_s"), std::round(point.elapsedS * 10) / 10);
    o.insert(QStringLiteral("done"), point.done);
    o.insert(QStringLiteral("total"), point.total);
    o.insert(QStringLiteral("eta_s"), point.remainingS
                                          ? QJsonValue(std::round(*point.remainingS * 10) / 10)
                                          : QJsonValue(QJsonValue::Null));
    return o;
}

QJsonObject warningEvent(const QString& text)
{
    QJsonObject o;
    o.insert(QStringLiteral("event"), QStringLiteral("warning"));
    o.insert(QStringLiteral("text"), text);
    return o;
}

QJsonObject takenBackEvent(int record)
{
    QJsonObject o;
    o.insert(QStringLiteral("event"), QStringLiteral("taken_back"));
    o.insert(QStringLiteral("record"), record);
    return o;
}

int exitStatus(Ending ending)
{
    switch (ending) {
    case Ending::Completed:
        return 0;
    case Ending::BadUsage:
        return 2;
    case Ending::NoFirstReading:
        return 3;
    case Ending::BoxLost:
        return 4;
    case Ending::Interrupted:
        return 130;
    case Ending::Terminated:
        return 143;
    case Ending::Failed:
        return 1;
    }
    return 1;
}

QString reasonWord(Ending ending)
{
    switch (ending) {
    case Ending::Completed:
        return QStringLiteral("completed");
    case Ending::BadUsage:
        return QStringLiteral("usage");
    case Ending::NoFirstReading:
        return QStringLiteral("no-reading");
    case Ending::BoxLost:
        return QStringLiteral("box-lost");
    case Ending::Interrupted:
        return QStringLiteral("interrupted");
    case Ending::Terminated:
        return QStringLiteral("terminated");
    case Ending::Failed:
        return QStringLiteral("failed");
    }
    return QString();
}

QString endingLine(Ending ending, const QString& detail, bool resumable)
{
    const QString kept = resumable ? QStringLiteral("; logs kept") : QString();
    QString what;
    switch (ending) {
    case Ending::Completed:
        return QString();
    case Ending::BadUsage:
        what = detail;
        break;
    case Ending::NoFirstReading:
        what = QStringLiteral("no temperature reading from the box within 10 s of start");
        break;
    case Ending::BoxLost:
        what = QStringLiteral("no temperature reading from the box for 60 s; run stopped") +
               (resumable ? QStringLiteral(", logs kept") : QString());
        break;
    case Ending::Interrupted:
        what = QStringLiteral("stopped by SIGINT");
        break;
    case Ending::Terminated:
        what = QStringLiteral("stopped by SIGTERM") + kept;
        break;
    case Ending::Failed:
        what = QStringLiteral("the run stopped itself");
        break;
    }
    if (ending != Ending::BadUsage && !detail.isEmpty())
        what += QStringLiteral(" (%1)").arg(detail);
    return QStringLiteral("baroterm-run: %1").arg(what);
}

QJsonObject endEvent(Ending ending, const QString& detail)
{
    QJsonObject o;
    o.insert(QStringLiteral("event"), QStringLiteral("end"));
    o.insert(QStringLiteral("status"), exitStatus(ending));
    o.insert(QStringLiteral("reason"), reasonWord(ending));
    if (!detail.isEmpty())
        o.insert(QStringLiteral("detail"), detail);
    return o;
}

} // namespace runner
