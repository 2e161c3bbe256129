#include "runsetup.h"

#include "barotermversion.h"
#include "ipv4address.h"
#include "logfiles.h"
#include "presetfile.h"
#include "readingsfile.h"
#include "resumeplan.h"
#include "settingskeys.h"
#include "sweep.h"
#include "units.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace runner {

namespace {

using namespace presetkeys;

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString groupKey(const char* group, const char* key)
{
    const QLatin1String groupName(group);
    const QLatin1String keyName(key);
    QString name;
    name.reserve(groupName.size() + 1 + keyName.size());
    return name.append(groupName).append(QLatin1Char('/')).append(keyName);
}

using inputs::kMaxPulsesPerPoint;
using inputs::kReferenceDecimals;
using inputs::kTemperatureRange;
using inputs::kTemperatureStepRange;

// A number as the operator would read it back: no trailing zeros.
QString shown(double value)
{
    return QString::number(value, 'g', 10);
}

// The text of a plain decimal number, with at most `decimals` after the point.
bool hasAtMostDecimals(const QString& text, int decimals)
{
    const int point = text.indexOf(QLatin1Char('.'));
    if (point < 0)
        return true;
    QString fraction = text.mid(point + 1);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    return fraction.size() <= decimals;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one calibration of the calibration box without a window: the sweep of a preset "
        "saved by baroterm, its records written to a calibration log and a raw gas log.\n"
        "Beside the logs go <log>.readings.csv (written as the run goes), and at the run's end "
        "<log>.points.csv and <log>.report.html.\n"
        "Exit status: 0 the run completed; 2 bad usage or input, or a log another run is writing "
        "(nothing was sent to the box); "
        "3 no temperature reading within 10 s of start (the empty logs are removed); 4 no "
        "temperature reading for 60 s during the run; 130 stopped by SIGINT; 143 stopped by "
        "SIGTERM; 1 the run stopped itself (a record without images could not be taken back)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption box(QStringLiteral("box"),
                                 QStringLiteral("IPv4 address of the calibration box."),
                                 QStringLiteral("address"));
    const QCommandLineOption preset(QStringLiteral("preset"),
                                    QStringLiteral("Preset file (.ini) as baroterm saves it."),
                                    QStringLiteral("file"));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Calibration log to write; its ending .csv or .cls picks the layout. The "
                       "raw gas log goes beside it as <name>_SLPM.csv."),
        QStringLiteral("file"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"),
                                       QStringLiteral("Replace logs that already exist."));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Standard output carries only JSON objects, one per line (plan, point, "
                       "warning, end); the readable text goes to standard error."));
    const QCommandLineOption noColor(
        QStringLiteral("no-color"),
        QStringLiteral("One image per point (as with \"Color\" cleared in the window)."));
    const QCommandLineOption pulses(QStringLiteral("pulses"),
                                    QStringLiteral("Pulses per point, 1 to 99 (default 1)."),
                                    QStringLiteral("n"));
    const QCommandLineOption reference(
        QStringLiteral("reference"),
        QStringLiteral("Reference point: pressure in the preset's unit (0 to 4 bar) and "
                       "temperature in degrees C (0 to 60), one decimal each. Required when the "
                       "preset switches the reference point on, refused otherwise."),
        QStringLiteral("P,T"));
    const QCommandLineOption cameraFeedback(
        QStringLiteral("camera-feedback"),
        QStringLiteral("Wait for the camera's answer to every pulse (overrides the preset)."));
    const QCommandLineOption noCameraFeedback(
        QStringLiteral("no-camera-feedback"),
        QStringLiteral("Do not wait for the camera's answer (overrides the preset)."));
    const QCommandLineOption init(
        QStringLiteral("init"),
        QStringLiteral("Initialise the temperature and flow controllers before the run."));
    const QCommandLineOption resume(
        QStringLiteral("resume"),
        QStringLiteral("Go on with the interrupted run of this calibration log, from the plan its "
                       "journal (<file>.run) keeps; only --box (when the box moved), --init and "
                       "--json go with it."),
        QStringLiteral("file"));
    const QCommandLineOption instruments(
        QStringLiteral("instruments"),
        QStringLiteral("Instrument table (INI) the points file and the report take the "
                       "uncertainties from; without it the typical values of the example table."),
        QStringLiteral("file"));
    const QCommandLineOption report(
        QStringLiteral("report"),
        QStringLiteral("Make the points file and the report of this calibration log again, from "
                       "its logs and its readings file; only --instruments goes with it. Nothing "
                       "is sent to a box."),
        QStringLiteral("file"));
    const QCommandLineOption monitorAt(
        QStringLiteral("monitor"),
        QStringLiteral("Serve a read-only page of the run, its readings as JSON, an event stream "
                       "and metrics over plain HTTP at [ADDRESS:]PORT (address 127.0.0.1 unless "
                       "given; an IPv6 address in brackets). Any address but the loopback asks "
                       "an access key."),
        QStringLiteral("[address:]port"));
    const QCommandLineOption monitorKeyFile(
        QStringLiteral("monitor-key-file"),
        QStringLiteral("The monitor's access key is kept in this file, made with a new key when "
                       "missing; with it a loopback address asks the key too."),
        QStringLiteral("file"));
    parser.addOptions({box, preset, log, overwrite, json, noColor, pulses, reference,
                       cameraFeedback, noCameraFeedback, init, resume, instruments, report,
                       monitorAt, monitorKeyFile});

    CommandLine result;
    auto refuse = [&result](const QString& line) {
        result.action = CommandLine::Action::Refuse;
        result.text = line;
        return result;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.text = QStringLiteral("baroterm-run %1\n").arg(QLatin1String(BAROTERM_VERSION));
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument %1")
                          .arg(quoted(parser.positionalArguments().constFirst())));
    Options& o = result.options;
    o.instruments = parser.value(instruments);
    if (parser.isSet(instruments) && o.instruments.isEmpty())
        return refuse(QStringLiteral("--instruments: no file named"));
    if (parser.isSet(report)) {
        // Made from the files alone: no run, no box.
        for (const QCommandLineOption& other :
             {box, preset, log, overwrite, json, noColor, pulses, reference, cameraFeedback,
              noCameraFeedback, init, resume, monitorAt, monitorKeyFile})
            if (parser.isSet(other))
                return refuse(QStringLiteral("--%1 cannot go with --report: only --instruments "
                                             "does")
                                  .arg(other.names().constFirst()));
        o.report = parser.value(report);
        result.action = CommandLine::Action::Report;
        return result;
    }
    if (parser.isSet(resume)) {
        // The journal holds the plan; nothing may change it.
        for (const QCommandLineOption& planned :
             {preset, log, overwrite, noColor, pulses, reference, cameraFeedback, noCameraFeedback})
            if (parser.isSet(planned))
                return refuse(QStringLiteral("--%1 cannot go with --resume: the run journal "
                                             "holds the plan")
                                  .arg(planned.names().constFirst()));
        o.resume = parser.value(resume);
        if (o.resume.endsWith(QLatin1String(".run")))
            o.resume.chop(4);
        if (o.resume.isEmpty())
            return refuse(QStringLiteral("--resume needs the calibration log of the interrupted "
                                         "run"));
    } else {
        for (const QCommandLineOption& required : {box, preset, log})
            if (!parser.isSet(required))
                return refuse(
                    QStringLiteral("--%1 is required").arg(required.names().constFirst()));
    }
    // The last of a repeated option counts, as the parser's value() gives it.
    const QString address = parser.value(box);
    if (parser.isSet(box) && !ipv4::isDottedAddress(address))
        return refuse(QStringLiteral("--box: %1 is not an IPv4 address (four numbers 0 to 255 "
                                     "with dots)")
                          .arg(quoted(address)));
    if (parser.isSet(box))
        o.box = ipv4::plainDecimal(address);
    o.preset = parser.value(preset);
    o.log = parser.value(log);
    o.overwrite = parser.isSet(overwrite);
    o.json = parser.isSet(json);
    o.color = !parser.isSet(noColor);
    if (parser.isSet(pulses)) {
        bool ok = false;
        const QString text = parser.value(pulses);
        o.pulses = text.toInt(&ok);
        if (!ok || o.pulses < 1 || o.pulses > kMaxPulsesPerPoint)
            return refuse(QStringLiteral("--pulses: %1 is not a whole number from 1 to %2")
                              .arg(quoted(text))
                              .arg(kMaxPulsesPerPoint));
    }
    if (parser.isSet(cameraFeedback) && parser.isSet(noCameraFeedback))
        return refuse(QStringLiteral("--camera-feedback and --no-camera-feedback exclude each "
                                     "other"));
    if (parser.isSet(cameraFeedback))
        o.cameraFeedback = true;
    else if (parser.isSet(noCameraFeedback))
        o.cameraFeedback = false;
    if (parser.isSet(reference))
        o.reference = parser.value(reference);
    o.init = parser.isSet(init);
    const QString monitorError = monitor::readMonitorOptions(parser, &o.monitor);
    if (!monitorError.isEmpty())
        return refuse(monitorError);
    result.action = CommandLine::Action::Run;
    return result;
}

PresetCheck readPresetPlan(const QString& path)
{
    PresetCheck check;
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        check.error = QStringLiteral("--preset: %1 is not a readable file").arg(quoted(path));
        return check;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        check.error = QStringLiteral("--preset: %1 could not be read").arg(quoted(path));
        return check;
    }
    return presetPlanFromText(file.readAll(), path);
}

PresetCheck presetPlanFromText(const QByteArray& bytes, const QString& path)
{
    PresetCheck check;
    const QMap<QString, QString> text = records::presetKeyTexts(bytes);
    const records::PresetReadResult read = records::presetFromKeys(text);
    const records::PresetValues& v = read.values;
    PresetPlan& p = check.preset;

    // Values that the window would silently read as 0, or pass over, are
    // refused here.
    QString refused;
    const QString unitsKey = groupKey(kMainGroup, kUnits);
    if (text.contains(unitsKey) && !v.unitFactor)
        refused = QStringLiteral("--preset: %1 = %2 is not \"Bar\", \"Pascal\" or \"psi\"")
                      .arg(unitsKey, quoted(text.value(unitsKey)));
    auto numberText = [&](const char* group, const char* key, bool whole) {
        const QString name = groupKey(group, key);
        if (!text.contains(name) || !refused.isEmpty())
            return;
        const QString value = text.value(name);
        bool ok = false;
        if (whole) {
            value.toLongLong(&ok);
        } else {
            const double number = value.toDouble(&ok);
            ok = ok && std::isfinite(number);
        }
        if (!ok)
            refused = QStringLiteral("--preset: %1 = %2 is not a number").arg(name, quoted(value));
    };
    for (const char* key : {kWaitBeforePulse, kWaitExtraBeforeZero, kDelayBetweenPulses})
        numberText(kMainGroup, key, true);
    for (const char* key : {kManualT, kManualP})
        numberText(kManualGroup, key, false);
    for (const char* key : {kAutoPFrom, kAutoPTo, kAutoPDelta, kAutoTFrom, kAutoTTo, kAutoTDelta})
        numberText(kAutoGroup, key, false);
    const QString widthKey = groupKey(kMainGroup, kPulseWidth);
    if (refused.isEmpty() && read.pulseWidthRejected) {
        bool number = false;
        read.rejectedPulseWidth.toLongLong(&number);
        if (!number)
            refused = QStringLiteral("--preset: %1 = %2 is not a number")
                          .arg(widthKey, quoted(read.rejectedPulseWidth));
    }
    if (!refused.isEmpty()) {
        check.error = refused;
        return check;
    }

    // Without UNITS the window would keep its unit; a run starts from bar.
    const double factor = v.unitFactor.value_or(units::kBarFactor);
    auto spin = [&](const char* group, const char* key, double value, const SpinRange& range) {
        const double shownValue = spinBoxValue(value, range);
        const QString name = groupKey(group, key);
        // Only what the file says is reported: absent keys are the window's defaults.
        if (shownValue == value || !text.contains(name))
            return shownValue;
        const double low = spinBoxValue(range.minimum, range);
        const double high = spinBoxValue(range.maximum, range);
        const QString why = value < low || value > high
                                ? QStringLiteral("is outside %1 to %2").arg(shown(low), shown(high))
                                : QStringLiteral("has more than %1 decimals").arg(range.decimals);
        p.notes << QStringLiteral("preset: %1 = %2 %3; using %4")
                       .arg(name, text.value(name), why, shown(shownValue));
        return shownValue;
    };
    auto whole = [&](const char* key, int value, int maximum) {
        const QString name = groupKey(kMainGroup, key);
        if (text.contains(name) && text.value(name).toLongLong() != value)
            p.notes << QStringLiteral("preset: %1 = %2 is outside 0 to %3; using %4")
                           .arg(name, text.value(name))
                           .arg(maximum)
                           .arg(value);
        return value;
    };
    p.waitBeforePulseS = whole(kWaitBeforePulse, v.waitBeforePulse, records::kMaxWaitBeforePulse);
    p.extraWaitAtZeroS =
        whole(kWaitExtraBeforeZero, v.extraWaitBeforeZero, records::kMaxExtraWaitBeforeZero);
    p.delayBetweenPulsesS =
        whole(kDelayBetweenPulses, v.delayBetweenPulses, records::kMaxDelayBetweenPulses);
    p.cameraFeedback = v.waitCameraFeedback;
    if (read.pulseWidthRejected)
        p.notes << QStringLiteral("preset: ") +
                       records::rejectedPulseWidthMessage(read.rejectedPulseWidth, p.pulseWidth);
    else
        p.pulseWidth = v.pulseWidth;

    spin(kManualGroup, kManualT, v.manualT, kTemperatureRange);
    spin(kManualGroup, kManualP, v.manualP, pressureRange(factor, false));
    p.pFrom = spin(kAutoGroup, kAutoPFrom, v.autoPFrom, pressureRange(factor, false));
    p.pTo = spin(kAutoGroup, kAutoPTo, v.autoPTo, pressureRange(factor, false));
    p.pDelta = spin(kAutoGroup, kAutoPDelta, v.autoPDelta, pressureRange(factor, true));
    p.tFrom = spin(kAutoGroup, kAutoTFrom, v.autoTFrom, kTemperatureRange);
    p.tTo = spin(kAutoGroup, kAutoTTo, v.autoTTo, kTemperatureRange);
    p.tDelta = spin(kAutoGroup, kAutoTDelta, v.autoTDelta, kTemperatureStepRange);

    run::Plan& plan = p.plan;
    plan.unitFactor = factor;
    plan.temperatureAxisOn = v.autoTOn;
    plan.temperature = sweep::planTemperature(p.tFrom, p.tTo, p.tDelta);
    plan.pressureAxisOn = v.autoPOn;
    plan.pressure = sweep::planPressure(p.pFrom, p.pTo, p.pDelta, factor);
    plan.referencePointOn = false; // set with the --reference values
    plan.writeLog = true;
    plan.gasOff = true; // the window starts with the gas off
    p.addReferencePoint = v.addRefP;
    if (!plan.temperatureAxisOn && !plan.pressureAxisOn) {
        check.error =
            QStringLiteral("--preset: %1 switches neither %2 nor %3 on: nothing to run")
                .arg(quoted(path), groupKey(kAutoGroup, kAutoTOn), groupKey(kAutoGroup, kAutoPOn));
        return check;
    }
    check.ok = true;
    return check;
}

std::optional<QString> applyReference(const QString& text, PresetPlan& preset)
{
    const QString refKey = groupKey(kAutoGroup, kAddRefP);
    if (!preset.addReferencePoint) {
        if (text.isEmpty())
            return std::nullopt;
        return QStringLiteral("--reference: the preset does not switch the reference point on "
                              "(%1)")
            .arg(refKey);
    }
    if (text.isEmpty())
        return QStringLiteral("--reference P,T is required: the preset switches the reference "
                              "point on (%1)")
            .arg(refKey);
    const double factor = preset.plan.unitFactor;
    const double maxP = inputs::referencePressureRange(factor).maximum;
    const double maxT = inputs::kReferenceTemperatureRange.maximum;
    const QStringList parts = text.split(QLatin1Char(','));
    bool pOk = false, tOk = false;
    const double p = parts.size() == 2 ? parts.at(0).trimmed().toDouble(&pOk) : 0.0;
    const double t = parts.size() == 2 ? parts.at(1).trimmed().toDouble(&tOk) : 0.0;
    const QString unit = units::unitLabel(units::unitFromFactor(factor));
    if (!pOk || !tOk || !std::isfinite(p) || !std::isfinite(t) || p < 0 || p > maxP || t < 0 ||
        t > maxT || !hasAtMostDecimals(parts.at(0).trimmed(), kReferenceDecimals) ||
        !hasAtMostDecimals(parts.at(1).trimmed(), kReferenceDecimals))
        return QStringLiteral("--reference: %1 is not P,T with P from 0 to %2 %3 and T from 0 to "
                              "%4 C, one decimal each")
            .arg(quoted(text), shown(maxP), unit, shown(maxT));
    preset.plan.referencePointOn = true;
    preset.plan.referenceP = p;
    preset.plan.referenceT = t;
    return std::nullopt;
}

std::optional<QString> checkLog(const QString& name, bool overwrite, LogChoice* choice)
{
    LogChoice c;
    if (name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        c.layout = records::LogLayout::Csv;
    else if (name.endsWith(QLatin1String(".cls"), Qt::CaseInsensitive))
        c.layout = records::LogLayout::Cls;
    else
        return QStringLiteral("--log: %1 does not end in .csv or .cls").arg(quoted(name));
    if (QFileInfo(name).fileName().size() <= 4)
        return QStringLiteral("--log: %1 has no name before its ending").arg(quoted(name));
    c.log = records::nativePath(name);
    c.rawLog = records::rawLogNameFor(c.log);
    if (!overwrite) {
        // Replacing an interrupted run throws it away: say how to go on with it.
        const records::ResumeFiles interrupted = records::resumeFilesFor(c.log);
        if (QFileInfo::exists(c.log) && QFileInfo::exists(interrupted.journal)) {
            const records::ResumeDecision decision = records::decideResume(interrupted);
            const QString where = decision.kind == records::ResumeDecision::Refuse
                                      ? QString()
                                      : QStringLiteral(" at point %1 of %2")
                                            .arg(decision.pointIndex + 1)
                                            .arg(decision.totalPoints);
            return QStringLiteral("--log: %1 holds an interrupted run%2; --resume %1 goes on with "
                                  "it, --overwrite replaces it")
                .arg(quoted(name), where);
        }
        for (const QString& file : {c.log, c.rawLog, records::readingsPathFor(c.log),
                                    records::pointsPathFor(c.log), records::reportPathFor(c.log)})
            if (QFileInfo::exists(file))
                return QStringLiteral("--log: %1 exists; give --overwrite to replace it")
                    .arg(quoted(file));
    }
    if (choice)
        *choice = c;
    return std::nullopt;
}

} // namespace runner

namespace runner {

records::JournalPlan journalPlanOf(const PresetPlan& preset, const Options& options,
                                   records::LogLayout layout)
{
    const run::Plan& plan = preset.plan;
    records::JournalPlan j;
    j.temperature = {plan.temperatureAxisOn, preset.tFrom, preset.tTo, preset.tDelta,
                     plan.temperature.points};
    j.pressure = {plan.pressureAxisOn, preset.pFrom, preset.pTo, preset.pDelta,
                  plan.pressure.points};
    if (!j.temperature.on)
        j.temperature.points = 0;
    if (!j.pressure.on)
        j.pressure.points = 0;
    j.unitFactor = plan.unitFactor;
    j.layout = layout;
    j.color = options.color;
    j.pulsesPerPoint = options.pulses;
    j.delayBetweenPulsesS = preset.delayBetweenPulsesS;
    j.waitBeforePulseS = preset.waitBeforePulseS;
    j.extraWaitAtZeroS = preset.extraWaitAtZeroS;
    j.cameraFeedback = preset.cameraFeedback;
    j.pulseWidth = preset.pulseWidth;
    j.referencePointOn = plan.referencePointOn;
    j.referenceT = plan.referenceT;
    j.referenceP = plan.referenceP;
    return j;
}

std::optional<QString> presetFromJournal(const records::JournalPlan& j, PresetPlan* preset,
                                         Options* options)
{
    PresetPlan p;
    run::Plan& plan = p.plan;
    plan.unitFactor = j.unitFactor;
    plan.temperatureAxisOn = j.temperature.on;
    p.tFrom = j.temperature.from;
    p.tTo = j.temperature.to;
    p.tDelta = j.temperature.step;
    plan.temperature = sweep::planTemperature(p.tFrom, p.tTo, p.tDelta);
    plan.pressureAxisOn = j.pressure.on;
    p.pFrom = j.pressure.from;
    p.pTo = j.pressure.to;
    p.pDelta = j.pressure.step;
    plan.pressure = sweep::planPressure(p.pFrom, p.pTo, p.pDelta, j.unitFactor);
    if ((plan.temperatureAxisOn && plan.temperature.points != j.temperature.points) ||
        (plan.pressureAxisOn && plan.pressure.points != j.pressure.points))
        return QStringLiteral("--resume: the journal's axes do not give the points it was "
                              "written with");
    plan.referencePointOn = p.addReferencePoint = j.referencePointOn;
    plan.referenceT = j.referenceT;
    plan.referenceP = j.referenceP;
    plan.writeLog = true;
    plan.gasOff = true;
    p.waitBeforePulseS = j.waitBeforePulseS;
    p.extraWaitAtZeroS = j.extraWaitAtZeroS;
    p.delayBetweenPulsesS = j.delayBetweenPulsesS;
    p.pulseWidth = j.pulseWidth;
    p.cameraFeedback = j.cameraFeedback;
    *preset = p;
    options->color = j.color;
    options->pulses = j.pulsesPerPoint;
    options->cameraFeedback = j.cameraFeedback;
    return std::nullopt;
}

} // namespace runner
