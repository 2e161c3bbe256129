#include "runlog.h"

namespace records {

LogStatus RunLog::create(const LogFormat& format) const
{
    return createLogFiles(m_names, format.layout, format.color, format.unitFactor);
}

void RunLog::restartNumbering()
{
    // The last record stays takeable: a stop before its pulse takes it back
    // after the run has ended.
    m_lastNumber = 0;
}

LogStatus RunLog::append(const LogFormat& format, RecordValues values)
{
    m_last.reset();
    values.number = m_lastNumber + 1;
    LogEnds before;
    const LogStatus status =
        appendRecord(m_names, format.layout, format.color, format.unitFactor, values, &before);
    if (status != LogStatus::Ok)
        return status;
    m_lastNumber = values.number;
    m_last = Written{m_names, before, values.number};
    return status;
}

bool RunLog::takeBackLast()
{
    if (!m_last)
        return true;
    const Written last = *m_last;
    m_last.reset();
    if (!withdrawRecord(last.names, last.before))
        return false;
    if (m_lastNumber == last.number)
        m_lastNumber = last.number - 1;
    return true;
}

} // namespace records
