#pragma once

#include "logfiles.h"

#include <optional>

// The logs of one run: the records it appends, numbered from 1, and the last
// of them taken back again when its images were never taken.
namespace records {

struct LogFormat
{
    LogLayout layout = LogLayout::Csv;
    bool color = true;
    double unitFactor = 1.0;
};

class RunLog
{
public:
    void setFiles(const LogFileNames& names) { m_names = names; }
    const LogFileNames& files() const { return m_names; }
    // Both files created anew with their headers.
    LogStatus create(const LogFormat& format) const;
    // The next record is number 1 again.
    void restartNumbering();
    // Appends the next record (its number is given here); on failure neither
    // file holds it and the numbering stays where it was.
    LogStatus append(const LogFormat& format, RecordValues values);
    // The number of the last record appended, 0 before the first.
    int lastNumber() const { return m_lastNumber; }
    // Takes the record appended last out of both files again. True when it is
    // gone or there was none since the last take-back; false when either file
    // no longer ends with it.
    bool takeBackLast();
    // A record that went nowhere (logging off): nothing to take back for it.
    void forgetLast() { m_last.reset(); }

private:
    LogFileNames m_names;
    int m_lastNumber = 0;
    struct Written
    {
        LogFileNames names;
        LogEnds before;
        int number = 0;
    };
    std::optional<Written> m_last;
};

} // namespace records
