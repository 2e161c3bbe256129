#pragma once

#include "resumeplan.h"
#include "runjournal.h"
#include "runlog.h"

#include <QString>

#include <functional>

// The logs of one run together with its journal: every record goes to disk
// and into the journal before its pulses, and each pulse's fate is noted
// before the next step. Both the window and baroterm-run keep their logs
// through this. Without a journal (logging off, or begin() never called) it is
// the plain log.
//
// A journal that cannot be written is a failure of the run: it is reported
// once through the failure handler, and from then on nothing more is noted
// (the logs go on being kept). The caller stops the run.
namespace records {

class JournaledLog
{
public:
    using FailureHandler = std::function<void(const QString& message)>;

    void setFiles(const LogFileNames& names) { m_log.setFiles(names); }
    const LogFileNames& files() const { return m_log.files(); }
    RunLog& log() { return m_log; }
    const RunLog& log() const { return m_log; }
    void onFailure(FailureHandler handler) { m_onFailure = std::move(handler); }

    // A new run: the logs have their headers. Flushes them to disk and writes
    // the journal (plan, box, log names).
    bool begin(const JournalContents& contents);
    // A resumed run: carries out `decision` (a Resume or Complete) on the
    // files and goes on numbering after the records the logs keep.
    bool resume(const ResumeFiles& files, const ResumeDecision& decision, QString* error);
    // The same for a decision already carried out: `journal` is open on the
    // repaired files and the run goes on with record `nextRecordNumber`.
    void resumed(const RunJournal& journal, const LogFileNames& logs, int nextRecordNumber);
    bool journaling() const { return m_journaling; }
    // What the journal of the run holds: its plan, box and log names.
    const JournalContents& journalContents() const { return m_journal.contents(); }
    bool failed() const { return !m_failure.isEmpty(); }
    QString failure() const { return m_failure; }

    // Appends the record, flushes both logs to disk and notes it. When the
    // journal cannot note it the record is taken out of the logs again and the
    // append fails (CantWriteLog).
    LogStatus append(const LogFormat& format, RecordValues values);
    int lastNumber() const { return m_log.lastNumber(); }
    // Immediately before the first pulse command of the last record. False:
    // it could not be noted, and no pulse may go out.
    bool announced();
    // After each pulse command that went out.
    bool pulseNoted();
    // After the sequence, when any of its pulses went out.
    bool done();
    // Takes the last record back: the journal first, then both logs.
    bool takeBack();
    // The run completed or was stopped: no journal is left.
    bool finish();
    // The run was cut short (window closed, SIGTERM, box lost): the journal
    // stays for a resume.
    void keep();

    // "run.csv.run could not be written (...): the run stops; it cannot be resumed."
    static QString failureMessage(const QString& journalPath, const QString& why);

private:
    bool note(bool ok);

    RunLog m_log;
    RunJournal m_journal;
    FailureHandler m_onFailure;
    bool m_journaling = false;
    // The record the pulses belong to: the numbering may restart at a Stop
    // before its record is taken back.
    int m_record = 0;
    QString m_failure;
};

} // namespace records
