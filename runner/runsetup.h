#pragma once

#include "access.h"
#include "inputranges.h"
#include "logformat.h"
#include "runcontroller.h"
#include "runjournal.h"
#include "uncertainty.h"

#include <QString>
#include <QStringList>

#include <optional>

// Everything baroterm-run decides before a single frame goes to the box: the
// command line, the preset read as the window reads it, the reference point
// and the log files. Each check ends with one line naming what was wrong.
namespace runner {

struct Options
{
    QString box; // plain decimal form
    QString preset;
    QString log;
    bool overwrite = false;
    bool json = false;
    bool color = true; // the window's "Color" box starts checked
    int pulses = 1;
    QString reference;                  // "P,T" as given; checked against the preset's unit
    std::optional<bool> cameraFeedback; // overrides the preset when given
    bool init = false;
    QString resume;      // --resume: the calibration log of an interrupted run
    QString instruments; // --instruments: the instrument table; empty: the typical values
    QString report;      // --report: the calibration log whose report is made again
    // --monitor and --monitor-key-file: the read-only monitor page.
    monitor::MonitorOptions monitor;
};

struct CommandLine
{
    enum class Action
    {
        Run,
        Help,
        Version,
        Report, // --report: the points file and the report made again
        Refuse, // bad usage: exit status 2
    };
    Action action = Action::Refuse;
    Options options;
    QString text; // help or version text, or the one error line (no newline)
};

// Reads the arguments (the program name first). Needs an application object
// for the program name in the help text.
CommandLine parseCommandLine(const QStringList& arguments);

// The window's input ranges, as a preset's values go through them.
using inputs::pressureRange;
using inputs::spinBoxValue;
using inputs::SpinRange;

// The preset as the run uses it.
struct PresetPlan
{
    run::Plan plan; // writeLog and the reference point are left to the caller
    bool addReferencePoint = false;
    int waitBeforePulseS = 0;
    int extraWaitAtZeroS = 0;
    int delayBetweenPulsesS = 0;
    QString pulseWidth = QStringLiteral("010");
    bool cameraFeedback = false;
    // Spin-box values of the sweep, as the window shows them.
    double tFrom = 0, tTo = 0, tDelta = 0;
    double pFrom = 0, pTo = 0, pDelta = 0;
    // One line per key the window would have changed (clamped, rounded, or
    // a pulse width it would not take).
    QStringList notes;
};

struct PresetCheck
{
    bool ok = false;
    PresetPlan preset;
    QString error; // one line, when not ok
};

// Reads the preset file: absent keys take the window's defaults, no UNITS
// means bar, numbers go through the spin boxes' ranges and decimals, and a
// UNITS the window does not write or a numeric key whose text is not a
// number refuses the preset.
PresetCheck readPresetPlan(const QString& path);
// The same from the file's bytes; `path` only names the file in messages.
PresetCheck presetPlanFromText(const QByteArray& text, const QString& path);

// "--reference P,T": P in the preset's unit, T in degrees C, within the
// reference dialogs' ranges and one decimal. Fills plan.referenceP/T.
// Required exactly when the preset switches the reference point on.
std::optional<QString> applyReference(const QString& text, PresetPlan& preset);

struct LogChoice
{
    records::LogLayout layout = records::LogLayout::Csv;
    QString log;
    QString rawLog;
};
// The --log name: it must end in ".csv" or ".cls" (any letter case), which
// picks the layout. Without `overwrite` neither file may exist yet.
std::optional<QString> checkLog(const QString& name, bool overwrite, LogChoice* choice);

// The instrument table of --instruments, or the typical values without it,
// and how a report names it. On a refusal the one line naming the key at fault.
std::optional<QString> instrumentTable(const Options& options, uncertainty::InstrumentTable* table,
                                       QString* name);

// --report: the points file and the report of `options.report` written again
// beside it from its logs, its readings file and the instrument table. On a
// failure the one line saying which file is at fault.
std::optional<QString> remakeReport(const Options& options);

// The plan a journal keeps for a run of `preset` with `options`.
records::JournalPlan journalPlanOf(const PresetPlan& preset, const Options& options,
                                   records::LogLayout layout);
// The preset and the options a journal's plan stands for (the plan's
// firstPoint left at 0). None, with the error line, for a plan whose axes do
// not give the points it was written with.
std::optional<QString> presetFromJournal(const records::JournalPlan& journal, PresetPlan* preset,
                                         Options* options);

} // namespace runner
