// baroterm-run's instrument table and --report: file work kept apart from the
// option checks, which take no file beyond the preset.
#include "runsetup.h"

#include "instrumenttable.h"
#include "logfiles.h"
#include "loglock.h"
#include "runfiles.h"

#include <QFileInfo>

namespace runner {

std::optional<QString> instrumentTable(const Options& options, uncertainty::InstrumentTable* table,
                                       QString* name)
{
    if (options.instruments.isEmpty()) {
        *table = records::typicalInstrumentTable();
        *name = records::typicalInstrumentTableName();
        return std::nullopt;
    }
    QString why;
    const std::optional<uncertainty::InstrumentTable> read =
        records::readInstrumentTable(options.instruments, &why);
    if (!read)
        return QStringLiteral("--instruments: %1").arg(why);
    *table = *read;
    *name = QFileInfo(options.instruments).absoluteFilePath();
    return std::nullopt;
}

std::optional<QString> remakeReport(const Options& options)
{
    uncertainty::InstrumentTable table;
    QString name;
    if (std::optional<QString> error = instrumentTable(options, &table, &name))
        return error;
    // A run still writing the files would be read half way.
    const QString log = records::nativePath(options.report);
    records::LogLock lock;
    if (lock.acquire(log) == records::LogLock::State::Busy)
        return QStringLiteral("--report: %1 is being written by another run (process %2)")
            .arg(log, lock.holder() ? QString::number(*lock.holder()) : QStringLiteral("unknown"));
    QString why;
    if (!records::writeRunFiles(log, table, name, &why))
        return QStringLiteral("--report: %1").arg(why);
    return std::nullopt;
}

} // namespace runner
