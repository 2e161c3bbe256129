#include "runfiles.h"

#include "logfiles.h"
#include "reporthtml.h"
#include "units.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <map>

namespace records {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("RunFiles", text);
}

std::optional<QByteArray> readAll(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = tr("can't read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

std::optional<std::vector<LoggedRecord>> loggedRecords(const QByteArray& log, double unitFactor,
                                                       QString* error)
{
    const auto fail = [error](int line, const QString& why) {
        if (error)
            *error = tr("line %1: %2").arg(line).arg(why);
        return std::nullopt;
    };
    // A last line without its CR LF was cut short by a crash.
    QList<QByteArray> lines = log.split('\n');
    lines.removeLast();
    int index = 0;
    const bool cls = !lines.isEmpty() && lines.first() == "n251\r";
    if (cls)
        ++index;
    if (index >= lines.size())
        return fail(index + 1, tr("the calibration log has no header"));
    const char separator = cls ? ' ' : ',';
    const QByteArray unit = lines[index].split(separator).first();
    double toBar = 0;
    if (unit == (cls ? "P,Bar" : "P[Bar]"))
        toBar = 1.0;
    else if (unit == (cls ? "P,Pa" : "P[Pa]"))
        toBar = 100000.0;
    else if (unit == (cls ? "P,psi" : "P[psi]"))
        toBar = units::unitFromFactor(unitFactor) == units::PressureUnit::Psi ? unitFactor
                                                                              : units::kPsiFactor;
    else
        return fail(index + 1, tr("\"%1\" is not a calibration log's header")
                                   .arg(QString::fromUtf8(lines[index].trimmed())));

    static const QRegularExpression image(QStringLiteral("^calib_(\\d+)(_p)?\\.tif$"));
    std::vector<LoggedRecord> records;
    for (++index; index < lines.size(); ++index) {
        const QByteArray line = lines[index];
        const QList<QByteArray> fields = line.chopped(line.endsWith('\r') ? 1 : 0).split(separator);
        const QRegularExpressionMatch match = fields.size() >= 4
                                                  ? image.match(QString::fromLatin1(fields[2]))
                                                  : image.match(QString());
        bool tOk = false, pOk = fields.value(0) == "n/a";
        LoggedRecord record;
        record.t = fields.value(1).toDouble(&tOk);
        if (!pOk)
            record.pBar = fields.value(0).toDouble(&pOk) / toBar;
        if (!match.hasMatch() || !tOk || !pOk)
            return fail(index + 1, tr("\"%1\" is not a record").arg(QString::fromUtf8(line)));
        record.number = match.captured(1).toInt();
        records.push_back(record);
    }
    return records;
}

std::optional<RunFiles> makeRunFiles(const RunFilesInputs& in, QString* error)
{
    const auto fail = [error](const QString& file, const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(file, why);
        return std::nullopt;
    };
    QString why;
    const std::optional<ReadingsFile> readings = readingsFileFromBytes(in.readings, &why);
    if (!readings)
        return fail(readingsPathFor(in.logName), why);
    const double factor = readings->identity.run.plan.unitFactor;
    const std::optional<std::vector<LoggedRecord>> logged = loggedRecords(in.log, factor, &why);
    if (!logged)
        return fail(in.logName, why);

    std::map<int, pointstats::PointStats> stats;
    for (pointstats::PointStats& point : pointstats::computePointStats(readings->lines))
        stats[point.record] = std::move(point);
    ReportInputs report;
    for (const LoggedRecord& record : *logged) {
        PointRow row;
        row.record = record.number;
        row.loggedT = record.t;
        row.loggedPBar = record.pBar;
        const auto found = stats.find(record.number);
        if (found != stats.end())
            row.stats = found->second;
        addUncertainties(row, in.table);
        report.rows.push_back(std::move(row));
    }

    RunFiles files;
    files.points = pointsFile(report.rows, factor);
    report.readings = *readings;
    report.logName = in.logName;
    report.rawLogName = rawLogNameFor(in.logName);
    const LogState logs = logStateOf(in.log, in.rawLog);
    report.logSha256 = logs.logSha256;
    report.rawLogSha256 = logs.rawSha256;
    report.tableName = in.tableName;
    report.table = in.table;
    files.report = reportHtml(report);
    return files;
}

bool writeRunFiles(const QString& logName, const uncertainty::InstrumentTable& table,
                   const QString& tableName, QString* error)
{
    RunFilesInputs in;
    in.logName = logName;
    in.table = table;
    in.tableName = tableName;
    const std::optional<QByteArray> log = readAll(logName, error);
    const std::optional<QByteArray> raw = log ? readAll(rawLogNameFor(logName), error) : log;
    const std::optional<QByteArray> readings = raw ? readAll(readingsPathFor(logName), error) : raw;
    if (!readings)
        return false;
    in.log = *log;
    in.rawLog = *raw;
    in.readings = *readings;
    const std::optional<RunFiles> files = makeRunFiles(in, error);
    return files && writeFileDurably(pointsPathFor(logName), files->points, error) &&
           writeFileDurably(reportPathFor(logName), files->report, error);
}

} // namespace records
