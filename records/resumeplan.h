#pragma once

#include "runjournal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Whether and where an interrupted run goes on, decided from its journal and
// the bytes of both logs alone; nothing is read or written here.
namespace records {

struct ResumeDecision
{
    enum Kind
    {
        Refuse,   // `message` says why; nothing may be written
        Resume,   // cut the logs, then run from `pointIndex`
        Complete, // cut the logs, then carry out the run's end
    };
    enum Action
    {
        Continue,            // R's pulses are done: on at the point after it
        RepeatNotAnnounced,  // R's pulses never went out: R goes, its point again
        RepeatAfterAnnounce, // some of R's pulses may have gone out: as above, and
                             // the camera may hold `possibleImages`
    };
    Kind kind = Refuse;
    QString message;

    // R: the last record whole in both logs (0: none).
    int lastRecord = 0;
    Action action = Continue;
    // Both logs ending with R: a torn last line, or a record in one file only, cut off.
    qint64 repairedLogSize = 0;
    qint64 repairedRawSize = 0;
    // What the logs are cut back to before the run goes on: the repaired sizes,
    // or, when R is taken back, where the logs ended before R.
    qint64 logSize = 0;
    qint64 rawSize = 0;
    // R taken back: the journal must note it before the logs are cut.
    bool takeBack() const { return action != Continue; }

    // Where the run goes on: the index in the grid walk (the grid's point count
    // for the reference point), K = pointIndex + 1 of N = totalPoints.
    int pointIndex = 0;
    int totalPoints = 0;
    int nextRecordNumber = 1; // the images go on being numbered from here
    // The camera may hold these from a try of the point taken again (record
    // nextRecordNumber) whose pulses were under way.
    QStringList possibleImages;

    // "Resume the interrupted run at point K of N?"
    QString question() const;
    // For standard error or a message box, when `possibleImages` are named.
    QString imagesWarning() const;
};

// What makes a journal's plan one that no run of this program has: a value
// none of the window's inputs takes (the same ranges as a preset, --pulses and
// the reference point), or axes that do not give their points. Empty for a
// plan that can be run.
QString planProblem(const JournalPlan& plan);

ResumeDecision decideResume(const JournalContents& journal, const QByteArray& log,
                            const QByteArray& raw);
// The journal's bytes as read: one that cannot be read is refused.
ResumeDecision decideResume(const QByteArray& journal, const QByteArray& log,
                            const QByteArray& raw);

// The file side of a resume, for the calibration log `logName` (the raw log
// and the journal beside it).
struct ResumeFiles
{
    LogFileNames logs;
    QString journal;
};
ResumeFiles resumeFilesFor(const QString& logName);
// Reads the journal and both logs and decides; a file that can't be read is a
// refusal.
ResumeDecision decideResume(const ResumeFiles& files);
// Carries out a Resume or Complete decision: R's take-back noted in the
// journal first, then both logs cut back and flushed to disk. `journal` is
// open on files.journal and goes on noting the run from there.
bool applyResume(const ResumeFiles& files, const ResumeDecision& decision, RunJournal& journal,
                 QString* error = nullptr);

} // namespace records
