#include "runjournal.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace records {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("RunJournal", text);
}

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QJsonObject axisToJson(const JournalAxis& axis)
{
    return QJsonObject{{"on", axis.on},
                       {"from", axis.from},
                       {"to", axis.to},
                       {"step", axis.step},
                       {"points", axis.points}};
}

QJsonObject planToJson(const JournalPlan& plan)
{
    return QJsonObject{
        {"temperature", axisToJson(plan.temperature)},
        {"pressure", axisToJson(plan.pressure)},
        {"unitFactor", plan.unitFactor},
        {"layout", plan.layout == LogLayout::Csv ? "csv" : "cls"},
        {"color", plan.color},
        {"pulsesPerPoint", plan.pulsesPerPoint},
        {"delayBetweenPulses", plan.delayBetweenPulsesS},
        {"waitBeforePulse", plan.waitBeforePulseS},
        {"extraWaitAtZero", plan.extraWaitAtZeroS},
        {"cameraFeedback", plan.cameraFeedback},
        {"pulseWidth", plan.pulseWidth},
        {"reference", QJsonObject{{"on", plan.referencePointOn},
                                  {"t", plan.referenceT},
                                  {"p", plan.referenceP}}},
    };
}

QJsonObject recordToJson(const JournalRecord& record)
{
    QJsonObject object{{"n", record.number},
                       {"log", double(record.after.logSize)},
                       {"raw", double(record.after.rawSize)},
                       {"announced", record.announced},
                       {"pulses", record.pulsesNoted},
                       {"done", record.done},
                       {"takenBack", record.takenBack}};
    if (record.underWay)
        object.insert("underWay", true);
    if (!record.after.logSha256.isEmpty()) {
        object.insert("logSha256", QString::fromLatin1(record.after.logSha256));
        object.insert("rawSha256", QString::fromLatin1(record.after.rawSha256));
    }
    return object;
}

// Reads typed members and remembers the first one missing or of another type.
class Reader
{
public:
    explicit Reader(QString* missing) : m_missing(missing) {}

    QJsonValue take(const QJsonObject& object, const char* key, QJsonValue::Type type)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.type() != type && m_missing->isEmpty())
            *m_missing = QLatin1String(key);
        return value;
    }
    double number(const QJsonObject& o, const char* key)
    {
        return take(o, key, QJsonValue::Double).toDouble();
    }
    int integer(const QJsonObject& o, const char* key)
    {
        const double value = whole(o, key, -2147483648.0, 2147483647.0);
        return int(value);
    }
    qint64 size(const QJsonObject& o, const char* key)
    {
        // Sizes are exact in a double up to 2^53.
        return qint64(whole(o, key, 0, 9007199254740992.0));
    }
    double whole(const QJsonObject& o, const char* key, double min, double max)
    {
        const double value = number(o, key);
        if (value >= min && value <= max && value == std::floor(value))
            return value;
        if (m_missing->isEmpty())
            *m_missing = QLatin1String(key);
        return 0;
    }
    bool flag(const QJsonObject& o, const char* key)
    {
        return take(o, key, QJsonValue::Bool).toBool();
    }
    QString text(const QJsonObject& o, const char* key)
    {
        return take(o, key, QJsonValue::String).toString();
    }
    QJsonObject object(const QJsonObject& o, const char* key)
    {
        return take(o, key, QJsonValue::Object).toObject();
    }
    // A SHA-256 as the journal writes it: 64 lower-case hex digits.
    QByteArray sha256(const QJsonObject& o, const char* key)
    {
        const QString value = text(o, key);
        const bool hex = value.size() == 64 && std::all_of(value.begin(), value.end(), [](QChar c) {
                             return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                                    (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
                         });
        if (!hex && m_missing->isEmpty())
            *m_missing = QLatin1String(key);
        return value.toLatin1();
    }

private:
    QString* m_missing;
};

JournalAxis axisFromJson(Reader& r, const QJsonObject& o)
{
    JournalAxis axis;
    axis.on = r.flag(o, "on");
    axis.from = r.number(o, "from");
    axis.to = r.number(o, "to");
    axis.step = r.number(o, "step");
    // No more than the sweep plans on an axis (16 bits): the grid's point
    // count, their product, stays an int.
    axis.points = int(r.whole(o, "points", 0, std::numeric_limits<qint16>::max()));
    return axis;
}

// Only the orders a run can leave behind: numbers 1, 2, ...; every record but
// the last live one done; a taken-back record last and not done.
QString inconsistency(const QVector<JournalRecord>& records)
{
    for (int i = 0; i < records.size(); ++i) {
        const JournalRecord& r = records[i];
        const bool last = i == records.size() - 1;
        const bool lastLive = last || (i == records.size() - 2 && records.last().takenBack);
        if (r.number != i + 1)
            return tr("record %1 is out of order").arg(r.number);
        if (r.pulsesNoted < 0 || (r.done && !r.announced) || (r.pulsesNoted > 0 && !r.announced))
            return tr("record %1 has pulses without their announcement").arg(r.number);
        if (r.takenBack && (!last || r.done || (r.pulsesNoted > 0 && !r.underWay)))
            return tr("record %1 is taken back after its pulses").arg(r.number);
        if (r.underWay && (!r.takenBack || !r.announced))
            return tr("record %1 is under way without its announcement and take-back")
                .arg(r.number);
        if (!r.takenBack && !lastLive && !r.done)
            return tr("record %1 is followed by another before its pulses were done").arg(r.number);
        if (r.after.logSha256.isEmpty() != r.after.rawSha256.isEmpty())
            return tr("record %1 has one hash only").arg(r.number);
    }
    return QString();
}

#ifdef Q_OS_UNIX
bool syncDescriptor(int fd)
{
    int result;
    do
        result = ::fsync(fd);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
#endif

} // namespace

int JournalPlan::gridPoints() const
{
    if (!temperature.on && !pressure.on)
        return 0;
    return (temperature.on ? temperature.points : 1) * (pressure.on ? pressure.points : 1);
}

int JournalPlan::totalPoints() const
{
    return gridPoints() + (referencePointOn ? 1 : 0);
}

LogState logStateOf(const QByteArray& log, const QByteArray& raw)
{
    return LogState{log.size(), raw.size(), sha256Hex(log), sha256Hex(raw)};
}

std::optional<LogState> readLogState(const LogFileNames& names)
{
    QFile log(names.log);
    QFile raw(names.rawLog);
    if (!log.open(QIODevice::ReadOnly) || !raw.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray logBytes = log.readAll();
    const QByteArray rawBytes = raw.readAll();
    if (logBytes.size() != log.size() || rawBytes.size() != raw.size())
        return std::nullopt;
    return logStateOf(logBytes, rawBytes);
}

const JournalRecord* JournalContents::lastLive() const
{
    for (int i = records.size() - 1; i >= 0; --i) {
        if (!records[i].takenBack)
            return &records[i];
    }
    return nullptr;
}

const JournalRecord* JournalContents::find(int number) const
{
    if (number < 1 || number > records.size())
        return nullptr;
    return &records[number - 1];
}

QByteArray planSha256(const JournalPlan& plan)
{
    // A text of its own rather than the JSON: the hash must not depend on how
    // a toolkit version formats numbers. Every member of the plan goes in.
    QByteArray text;
    const auto add = [&text](const QByteArray& value) { text += value + '\n'; };
    const auto number = [&add](double value) { add(QByteArray::number(value, 'g', 17)); };
    for (const JournalAxis* axis : {&plan.temperature, &plan.pressure}) {
        add(axis->on ? "on" : "off");
        number(axis->from);
        number(axis->to);
        number(axis->step);
        number(axis->points);
    }
    number(plan.unitFactor);
    add(plan.layout == LogLayout::Csv ? "csv" : "cls");
    add(plan.color ? "color" : "mono");
    for (const int value : {plan.pulsesPerPoint, plan.delayBetweenPulsesS, plan.waitBeforePulseS,
                            plan.extraWaitAtZeroS})
        number(value);
    add(plan.cameraFeedback ? "feedback" : "no feedback");
    add(plan.pulseWidth.toUtf8());
    add(plan.referencePointOn ? "reference" : "no reference");
    number(plan.referenceT);
    number(plan.referenceP);
    return sha256Hex(text);
}

QByteArray journalToBytes(const JournalContents& contents)
{
    QJsonArray records;
    for (const JournalRecord& record : contents.records)
        records.append(recordToJson(record));
    const QJsonObject root{{"format", contents.format},
                           {"box", contents.boxAddress},
                           {"log", contents.logs.log},
                           {"rawLog", contents.logs.rawLog},
                           {"plan", planToJson(contents.plan)},
                           {"planSha256", QString::fromLatin1(planSha256(contents.plan))},
                           {"records", records}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<JournalContents> journalFromBytes(const QByteArray& bytes, QString* error)
{
    const auto fail = [error](const QString& why) -> std::optional<JournalContents> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (document.isNull() || !document.isObject())
        return fail(tr("it is not a run journal (%1)").arg(parseError.errorString()));
    const QJsonObject root = document.object();
    QString missing;
    Reader r(&missing);

    JournalContents contents;
    contents.format = r.integer(root, "format");
    if (missing.isEmpty() && contents.format != kJournalFormat)
        return fail(tr("its format %1 is not %2").arg(contents.format).arg(kJournalFormat));
    contents.boxAddress = r.text(root, "box");
    contents.logs.log = r.text(root, "log");
    contents.logs.rawLog = r.text(root, "rawLog");

    const QJsonObject plan = r.object(root, "plan");
    JournalPlan& p = contents.plan;
    p.temperature = axisFromJson(r, r.object(plan, "temperature"));
    p.pressure = axisFromJson(r, r.object(plan, "pressure"));
    p.unitFactor = r.number(plan, "unitFactor");
    const QString layout = r.text(plan, "layout");
    if (layout != QLatin1String("csv") && layout != QLatin1String("cls") && missing.isEmpty())
        missing = QStringLiteral("layout");
    p.layout = layout == QLatin1String("csv") ? LogLayout::Csv : LogLayout::Cls;
    p.color = r.flag(plan, "color");
    p.pulsesPerPoint = r.integer(plan, "pulsesPerPoint");
    p.delayBetweenPulsesS = r.integer(plan, "delayBetweenPulses");
    p.waitBeforePulseS = r.integer(plan, "waitBeforePulse");
    p.extraWaitAtZeroS = r.integer(plan, "extraWaitAtZero");
    p.cameraFeedback = r.flag(plan, "cameraFeedback");
    p.pulseWidth = r.text(plan, "pulseWidth");
    const QJsonObject reference = r.object(plan, "reference");
    p.referencePointOn = r.flag(reference, "on");
    p.referenceT = r.number(reference, "t");
    p.referenceP = r.number(reference, "p");
    const bool hashKept = root.contains(QLatin1String("planSha256"));
    const QByteArray hash = hashKept ? r.text(root, "planSha256").toLatin1() : QByteArray();

    const QJsonArray records = r.take(root, "records", QJsonValue::Array).toArray();
    for (const QJsonValue& value : records) {
        if (!value.isObject())
            return fail(tr("a record is not an object"));
        const QJsonObject o = value.toObject();
        JournalRecord record;
        record.number = r.integer(o, "n");
        record.after.logSize = r.size(o, "log");
        record.after.rawSize = r.size(o, "raw");
        record.announced = r.flag(o, "announced");
        record.pulsesNoted = r.integer(o, "pulses");
        record.done = r.flag(o, "done");
        record.takenBack = r.flag(o, "takenBack");
        if (o.contains(QLatin1String("underWay")))
            record.underWay = r.flag(o, "underWay");
        if (o.contains(QLatin1String("logSha256")) || o.contains(QLatin1String("rawSha256"))) {
            record.after.logSha256 = r.sha256(o, "logSha256");
            record.after.rawSha256 = r.sha256(o, "rawSha256");
        }
        contents.records.append(record);
    }
    if (!missing.isEmpty())
        return fail(tr("\"%1\" is missing or not what it should be").arg(missing));
    if (hashKept && hash != planSha256(p))
        return fail(tr("its plan was changed after the run began"));
    const QString wrong = inconsistency(contents.records);
    if (!wrong.isEmpty())
        return fail(wrong);
    return contents;
}

QString journalPathFor(const QString& logName)
{
    return logName + QLatin1String(".run");
}

bool syncFileToDisk(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
#ifdef Q_OS_UNIX
    return syncDescriptor(file.handle());
#else
    return true;
#endif
}

bool syncFolderOf(const QString& path)
{
#ifdef Q_OS_UNIX
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = syncDescriptor(fd);
    ::close(fd);
    return synced;
#else
    Q_UNUSED(path)
    return true;
#endif
}

bool writeFileDurably(const QString& path, const QByteArray& bytes, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
#ifdef Q_OS_UNIX
    const QString temporary = path + QLatin1String(".tmp");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return fail(tr("can't create %1: %2").arg(temporary, file.errorString()));
    const bool written = file.write(bytes) == bytes.size() && syncDescriptor(file.handle());
    file.close();
    if (!written) {
        const QString why = file.errorString();
        QFile::remove(temporary);
        return fail(tr("can't write %1: %2").arg(temporary, why));
    }
    if (std::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(path).constData()) != 0) {
        const QString why = systemError();
        QFile::remove(temporary);
        return fail(tr("can't replace %1: %2").arg(path, why));
    }
    if (!syncFolderOf(path))
        return fail(tr("can't flush the folder of %1: %2").arg(path, systemError()));
    return true;
#else
    // The platform's own atomic replacement, with the file flushed first.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(tr("can't write %1: %2").arg(path, file.errorString()));
    return true;
#endif
}

bool RunJournal::refuse(const QString& why)
{
    m_error = why;
    return false;
}

bool RunJournal::commit(const JournalContents& next)
{
    QString why;
    if (!writeFileDurably(m_path, journalToBytes(next), &why))
        return refuse(why);
    m_contents = next;
    m_error.clear();
    return true;
}

bool RunJournal::begin(const JournalContents& contents)
{
    m_path = journalPathFor(contents.logs.log);
    JournalContents fresh = contents;
    fresh.format = kJournalFormat;
    fresh.records.clear();
    return commit(fresh);
}

bool RunJournal::open(const QString& path)
{
    m_path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(tr("can't read %1: %2").arg(path, file.errorString()));
    QString why;
    const std::optional<JournalContents> contents = journalFromBytes(file.readAll(), &why);
    if (!contents)
        return refuse(why);
    m_contents = *contents;
    m_error.clear();
    return true;
}

JournalRecord* RunJournal::lastEntry(int number)
{
    if (m_contents.records.isEmpty() || m_contents.records.last().number != number)
        return nullptr;
    return &m_contents.records.last();
}

bool RunJournal::recordAppended(int number, const LogState& after)
{
    const JournalRecord* last = m_contents.lastLive();
    const int expected = last ? last->number + 1 : 1;
    if (number != expected)
        return refuse(tr("record %1 appended where %2 was due").arg(number).arg(expected));
    if (last && !last->done)
        return refuse(tr("record %1 appended before the pulses of %2 were done")
                          .arg(number)
                          .arg(last->number));
    JournalContents next = m_contents;
    if (!next.records.isEmpty() && next.records.last().takenBack)
        next.records.removeLast(); // the same number again
    // Only the last two records need their hashes (see JournalRecord).
    for (int i = 0; i + 1 < next.records.size(); ++i) {
        next.records[i].after.logSha256.clear();
        next.records[i].after.rawSha256.clear();
    }
    JournalRecord record;
    record.number = number;
    record.after = after;
    next.records.append(record);
    return commit(next);
}

bool RunJournal::pulsesAnnounced(int number)
{
    const JournalRecord* record = lastEntry(number);
    if (!record || record->takenBack || record->announced)
        return refuse(tr("pulses of record %1 announced out of turn").arg(number));
    JournalContents next = m_contents;
    next.records.last().announced = true;
    return commit(next);
}

bool RunJournal::pulseNoted(int number)
{
    const JournalRecord* record = lastEntry(number);
    if (!record || record->takenBack || !record->announced || record->done)
        return refuse(tr("a pulse of record %1 noted out of turn").arg(number));
    JournalContents next = m_contents;
    ++next.records.last().pulsesNoted;
    return commit(next);
}

bool RunJournal::pulsesDone(int number)
{
    const JournalRecord* record = lastEntry(number);
    if (!record || record->takenBack || !record->announced || record->done)
        return refuse(tr("pulses of record %1 done out of turn").arg(number));
    JournalContents next = m_contents;
    next.records.last().done = true;
    return commit(next);
}

std::optional<JournalContents> journalWithTakeBack(const JournalContents& contents, int number,
                                                   bool underWay, QString* error)
{
    const JournalRecord* record =
        contents.records.isEmpty() || contents.records.last().number != number
            ? nullptr
            : &contents.records.last();
    if (record && record->takenBack)
        return contents;
    const JournalRecord* last = contents.lastLive();
    const int unknown = last ? last->number + 1 : 1;
    JournalContents next = contents;
    if (record && !record->done && (record->pulsesNoted == 0 || underWay)) {
        next.records.last().takenBack = true;
        next.records.last().underWay = underWay && record->announced;
    } else if (number == unknown && (!last || last->done)) {
        JournalRecord gone;
        gone.number = number;
        gone.takenBack = true;
        next.records.append(gone);
    } else {
        if (error)
            *error = tr("record %1 taken back out of turn").arg(number);
        return std::nullopt;
    }
    return next;
}

bool RunJournal::takenBack(int number, bool underWay)
{
    const JournalRecord* record = lastEntry(number);
    if (record && record->takenBack)
        return true; // noted before
    QString why;
    const std::optional<JournalContents> next =
        journalWithTakeBack(m_contents, number, underWay, &why);
    if (!next)
        return refuse(why);
    return commit(*next);
}

bool RunJournal::remove()
{
    if (m_path.isEmpty() || !QFile::exists(m_path))
        return true;
    if (!QFile::remove(m_path))
        return refuse(tr("can't remove %1").arg(m_path));
    syncFolderOf(m_path);
    return true;
}

} // namespace records
