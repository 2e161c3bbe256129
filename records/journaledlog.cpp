#include "journaledlog.h"

#include <QCoreApplication>

namespace records {

QString JournaledLog::failureMessage(const QString& journalPath, const QString& why)
{
    return QCoreApplication::translate("JournaledLog",
                                       "Warning: the run journal %1 could not be written (%2); "
                                       "the run stops.")
        .arg(journalPath, why);
}

bool JournaledLog::note(bool ok)
{
    if (ok)
        return true;
    if (m_failure.isEmpty()) {
        m_failure = failureMessage(m_journal.path(), m_journal.errorString());
        if (m_onFailure)
            m_onFailure(m_failure);
    }
    return false;
}

bool JournaledLog::begin(const JournalContents& contents)
{
    m_failure.clear();
    m_journaling = true;
    m_record = 0;
    // The headers should reach the disk before a journal names the files; logs
    // that cannot be written now hold the run's points until they can, as
    // without a journal.
    m_log.syncToDisk();
    return note(m_journal.begin(contents));
}

bool JournaledLog::resume(const ResumeFiles& files, const ResumeDecision& decision, QString* error)
{
    m_failure.clear();
    m_log.setFiles(files.logs);
    RunJournal journal;
    if (!applyResume(files, decision, journal, error))
        return false;
    resumed(journal, files.logs, decision.nextRecordNumber);
    return true;
}

void JournaledLog::resumed(const RunJournal& journal, const LogFileNames& logs,
                           int nextRecordNumber)
{
    m_failure.clear();
    m_log.setFiles(logs);
    m_journal = journal;
    m_journaling = true;
    m_record = 0;
    m_log.continueNumbering(nextRecordNumber - 1);
}

LogStatus JournaledLog::append(const LogFormat& format, RecordValues values)
{
    const LogStatus status = m_log.append(format, values);
    if (status != LogStatus::Ok || !m_journaling || failed())
        return status;
    const std::optional<LogState> state =
        m_log.syncToDisk() ? readLogState(m_log.files()) : std::nullopt;
    if (note(state && m_journal.recordAppended(m_log.lastNumber(), *state))) {
        m_record = m_log.lastNumber();
        return status;
    }
    // No pulse may go out for a record the journal does not know.
    m_log.takeBackLast();
    return LogStatus::CantWriteLog;
}

bool JournaledLog::announced()
{
    if (!m_journaling)
        return true;
    return !failed() && note(m_journal.pulsesAnnounced(m_record));
}

bool JournaledLog::pulseNoted()
{
    if (!m_journaling)
        return true;
    return !failed() && note(m_journal.pulseNoted(m_record));
}

bool JournaledLog::done()
{
    if (!m_journaling)
        return true;
    return !failed() && note(m_journal.pulsesDone(m_record));
}

bool JournaledLog::takeBack()
{
    if (m_journaling && !failed() && m_log.hasLast())
        note(m_journal.takenBack(m_record));
    // A journal that failed is never resumed from: the logs go on regardless.
    return m_log.takeBackLast();
}

bool JournaledLog::finish()
{
    if (!m_journaling)
        return true;
    m_journaling = false;
    return m_journal.remove();
}

void JournaledLog::keep()
{
    m_journaling = false;
}

} // namespace records
