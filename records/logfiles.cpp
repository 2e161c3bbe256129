#include "logfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace records {

namespace {

const char kRawLogSuffix[] = "_SLPM.csv";

// Unbuffered, so a failed write leaves nothing queued that a later close could
// still push out behind the truncation.
bool writeAll(QFile& file, const QByteArray& bytes)
{
    return file.write(bytes) == bytes.size();
}

void restoreSize(QFile& file, qint64 size)
{
    if (file.size() != size)
        file.resize(size);
}

} // namespace

QString logStatusMessage(LogStatus status)
{
    switch (status) {
    case LogStatus::Ok:
        break;
    case LogStatus::CantOpenLog:
        return QCoreApplication::translate("BarotermClass",
                                           "Warning: Can't open log file for writing.");
    case LogStatus::CantOpenRawLog:
        return QCoreApplication::translate("BarotermClass",
                                           "Warning: Can't open raw-log file for writing.");
    case LogStatus::CantWriteLog:
        return QCoreApplication::translate("BarotermClass", "Warning: Can't write to log file.");
    case LogStatus::CantWriteRawLog:
        return QCoreApplication::translate("BarotermClass",
                                           "Warning: Can't raw_write to log file.");
    }
    return QString();
}

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString withLogExtension(const QString& name, LogLayout layout)
{
    if (name.isEmpty())
        return name;
    const QString extension =
        layout == LogLayout::Csv ? QStringLiteral(".csv") : QStringLiteral(".cls");
    if (name.endsWith(extension, Qt::CaseInsensitive))
        return name;
    // "run1.csv" saved as CLS is "run1.cls", not "run1.csv.cls".
    const QString other =
        layout == LogLayout::Csv ? QStringLiteral(".cls") : QStringLiteral(".csv");
    if (name.endsWith(other, Qt::CaseInsensitive))
        return name.left(name.size() - other.size()) + extension;
    return name + extension;
}

QString rawLogNameFor(const QString& logName)
{
    return logName.left(qMax(0, logName.size() - 4)) + QLatin1String(kRawLogSuffix);
}

LogFileNames logFileNamesFor(const QString& chosenPath, const QString& filter)
{
    LogFileNames names;
    names.log = withLogExtension(nativePath(chosenPath), layoutFromFilter(filter));
    names.rawLog = rawLogNameFor(names.log);
    return names;
}

LogStatus createLogFiles(const LogFileNames& names, LogLayout layout, bool color, double unitFactor)
{
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered;
    QFile log(names.log);
    if (!log.open(mode))
        return LogStatus::CantOpenLog;
    QFile raw(names.rawLog);
    if (!raw.open(mode))
        return LogStatus::CantOpenRawLog;
    if (!writeAll(log, calibrationLogHeader(layout, color, unitFactor)))
        return LogStatus::CantOpenLog;
    log.close();
    if (!writeAll(raw, rawLogHeader(unitFactor)))
        return LogStatus::CantOpenRawLog;
    return LogStatus::Ok;
}

LogStatus appendLogLines(const LogFileNames& names, const QByteArray& logLine,
                         const QByteArray& rawLine, LogEnds* before)
{
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
    QFile log(names.log);
    if (!log.open(mode))
        return LogStatus::CantWriteLog;
    QFile raw(names.rawLog);
    if (!raw.open(mode))
        return LogStatus::CantWriteRawLog;

    const qint64 logSize = log.size();
    const qint64 rawSize = raw.size();
    LogStatus status = LogStatus::Ok;
    if (!writeAll(log, logLine))
        status = LogStatus::CantWriteLog;
    else if (!writeAll(raw, rawLine))
        status = LogStatus::CantWriteRawLog;
    if (status != LogStatus::Ok) {
        // A partial line would shift every later record out of step with the
        // images, so both files go back to where they were.
        restoreSize(log, logSize);
        restoreSize(raw, rawSize);
    } else if (before) {
        *before = LogEnds{logSize, rawSize};
    }
    return status;
}

bool withdrawRecord(const LogFileNames& names, const LogEnds& before)
{
    if (before.log < 0 || before.rawLog < 0)
        return false;
    QFile log(names.log);
    QFile raw(names.rawLog);
    if (log.size() < before.log || raw.size() < before.rawLog)
        return false;
    return log.resize(before.log) && raw.resize(before.rawLog);
}

LogStatus appendRecord(const LogFileNames& names, LogLayout layout, bool color, double unitFactor,
                       const RecordValues& values, LogEnds* before)
{
    return appendLogLines(names, calibrationRecord(layout, color, unitFactor, values),
                          rawRecord(unitFactor, values), before);
}

} // namespace records
