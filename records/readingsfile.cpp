#include "readingsfile.h"

#include "readingsexport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <charconv>
#include <deque>
#include <string>
#include <string_view>

namespace records {

namespace {

using pointstats::Kind;
using pointstats::PulseOutcome;
using pointstats::TraceLine;

QString tr(const char* text)
{
    return QCoreApplication::translate("ReadingsFile", text);
}

struct KindName
{
    Kind kind;
    const char* word;
};
constexpr KindName kKindNames[] = {
    {Kind::Start, "start"},
    {Kind::Reading, "reading"},
    {Kind::SetPoint, "set_point"},
    {Kind::Reached, "reached"},
    {Kind::PulsesBegin, "pulses_begin"},
    {Kind::Pulse, "pulse"},
    {Kind::PulsesEnd, "pulses_end"},
    {Kind::Record, "record"},
    {Kind::TakenBack, "taken_back"},
    {Kind::Warning, "warning"},
    {Kind::Stop, "stop"},
};

std::optional<Kind> kindOf(std::string_view word)
{
    for (const KindName& name : kKindNames) {
        if (word == name.word)
            return name.kind;
    }
    return std::nullopt;
}

const char* outcomeWord(PulseOutcome outcome)
{
    switch (outcome) {
    case PulseOutcome::Sent:
        return "sent";
    case PulseOutcome::Refused:
        return "refused";
    case PulseOutcome::Answered:
        break;
    }
    return "answered";
}

// The event texts of the numbered kinds, and how they are read back.
const QRegularExpression& numberedText(Kind kind)
{
    static const QRegularExpression record(QStringLiteral("^Record (\\d+) written$"));
    static const QRegularExpression takenBack(QStringLiteral("^Record (\\d+) taken back$"));
    static const QRegularExpression begin(QStringLiteral("^Pulses of record (\\d+) begin$"));
    static const QRegularExpression end(QStringLiteral("^Pulses of record (\\d+) end$"));
    static const QRegularExpression pulse(
        QStringLiteral("^Pulse (\\d+) of record (\\d+) (sent|refused|answered)$"));
    switch (kind) {
    case Kind::Record:
        return record;
    case Kind::TakenBack:
        return takenBack;
    case Kind::PulsesBegin:
        return begin;
    case Kind::PulsesEnd:
        return end;
    default:
        return pulse;
    }
}

bool numbered(Kind kind)
{
    return kind == Kind::Record || kind == Kind::TakenBack || kind == Kind::PulsesBegin ||
           kind == Kind::PulsesEnd || kind == Kind::Pulse;
}

// Reads CSV text record by record without copying it: a field is a view of
// the text, or of `unescaped` for a quoted field with doubled quotes in it.
class CsvReader
{
public:
    explicit CsvReader(const QByteArray& bytes) : m_data(bytes.constData()), m_size(bytes.size()) {}

    // False at the end, or at a record cut off before its CR LF (or not
    // CSV): nothing after it can be trusted.
    bool next(std::vector<std::string_view>& fields)
    {
        fields.clear();
        m_unescaped.clear();
        qint64 i = m_whole;
        while (i < m_size) {
            if (m_data[i] == '"') {
                qint64 j = ++i;
                bool doubled = false;
                while (j < m_size &&
                       (m_data[j] != '"' || (j + 1 < m_size && m_data[j + 1] == '"'))) {
                    doubled = doubled || m_data[j] == '"';
                    j += m_data[j] == '"' ? 2 : 1;
                }
                if (j >= m_size)
                    return false;
                fields.push_back(doubled ? unescape(i, j) : std::string_view(m_data + i, j - i));
                i = j + 1;
            } else {
                qint64 j = i;
                while (j < m_size && m_data[j] != ',' && m_data[j] != '\r')
                    ++j;
                fields.emplace_back(m_data + i, j - i);
                i = j;
            }
            if (i < m_size && m_data[i] == ',') {
                ++i;
            } else if (i + 1 < m_size && m_data[i] == '\r' && m_data[i + 1] == '\n') {
                m_whole = i + 2;
                return true;
            } else {
                return false;
            }
        }
        return false;
    }
    // Where the last record read ends.
    qint64 whole() const { return m_whole; }

private:
    std::string_view unescape(qint64 from, qint64 to)
    {
        std::string& text = m_unescaped.emplace_back();
        for (qint64 k = from; k < to; ++k) {
            text += m_data[k];
            k += m_data[k] == '"' ? 1 : 0;
        }
        return text;
    }

    const char* m_data;
    qint64 m_size;
    qint64 m_whole = 0;
    std::deque<std::string> m_unescaped; // stays where it is while views point into it
};

// "2026-12-08T19:53:10.123Z" as the export writes it; -1 for anything else.
// Worked out here rather than by QDateTime: a long run's file has 150 000 lines.
qint64 msFromIsoUtc(std::string_view text)
{
    static constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (text.size() != kForm.size())
        return -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == 'd' ? !digit : text[i] != kForm[i])
            return -1;
    }
    const auto number = [&text](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return -1;
    // Days since 1970-01-01 of a proleptic Gregorian date.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const qint64 days = qint64(era) * 146097 + dayOfEra - 719468;
    return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + number(20, 3);
}

// A reading in its column's unit, "n/a" unknown; from_chars reads "." whatever the locale.
float valueFrom(std::string_view field, double factor, bool* ok)
{
    if (field == "n/a")
        return history::kUnknown;
    double value = 0;
    const std::from_chars_result read =
        std::from_chars(field.data(), field.data() + field.size(), value);
    *ok = *ok && read.ec == std::errc() && read.ptr == field.data() + field.size();
    return float(value / factor);
}

QString utf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

} // namespace

QString kindWord(Kind kind)
{
    for (const KindName& name : kKindNames) {
        if (name.kind == kind)
            return QLatin1String(name.word);
    }
    return QString();
}

QString identityText(const RunIdentity& identity)
{
    JournalContents run = identity.run;
    run.records.clear();
    QJsonObject root{{"program", identity.program},
                     {"run", QJsonDocument::fromJson(journalToBytes(run)).object()}};
    if (identity.resumedAtPoint >= 0)
        root.insert(QStringLiteral("resumedAtPoint"), identity.resumedAtPoint);
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Compact));
}

std::optional<RunIdentity> identityFromText(const QString& text, QString* error)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject root = document.object();
    QString why;
    const std::optional<JournalContents> run =
        journalFromBytes(QJsonDocument(root.value(QLatin1String("run")).toObject()).toJson(), &why);
    if (!root.value(QLatin1String("program")).isString() || !run) {
        if (error)
            *error = tr("its run start can't be read (%1)").arg(why);
        return std::nullopt;
    }
    RunIdentity identity;
    identity.program = root.value(QLatin1String("program")).toString();
    identity.run = *run;
    identity.resumedAtPoint = root.value(QLatin1String("resumedAtPoint")).toInt(-1);
    return identity;
}

QString eventText(const TraceLine& line)
{
    switch (line.kind) {
    case Kind::Record:
        return QStringLiteral("Record %1 written").arg(line.record);
    case Kind::TakenBack:
        return QStringLiteral("Record %1 taken back").arg(line.record);
    case Kind::PulsesBegin:
        return QStringLiteral("Pulses of record %1 begin").arg(line.record);
    case Kind::PulsesEnd:
        return QStringLiteral("Pulses of record %1 end").arg(line.record);
    case Kind::Pulse:
        return QStringLiteral("Pulse %1 of record %2 %3")
            .arg(line.pulse)
            .arg(line.record)
            .arg(QLatin1String(outcomeWord(line.outcome)));
    case Kind::SetPoint:
        return line.text.isEmpty() ? QStringLiteral("Set points sent") : line.text;
    case Kind::Reached:
        return line.text.isEmpty() ? QStringLiteral("Point reached") : line.text;
    case Kind::Stop:
        return line.text.isEmpty() ? QStringLiteral("Run ended") : line.text;
    case Kind::Start:
    case Kind::Warning:
    case Kind::Reading:
        break;
    }
    return line.text;
}

QByteArray readingsFileLine(const TraceLine& line, double unitFactor)
{
    return readingsCsvLine(line.atMs, line.values, unitFactor, eventText(line),
                           kindWord(line.kind));
}

qint64 wholeLinesLength(const QByteArray& bytes)
{
    CsvReader reader(bytes);
    std::vector<std::string_view> fields;
    while (reader.next(fields)) {
    }
    return reader.whole();
}

std::optional<ReadingsFile> readingsFileFromBytes(const QByteArray& bytes, QString* error)
{
    const auto fail = [error](int line, const QString& why) -> std::optional<ReadingsFile> {
        if (error)
            *error = line > 0 ? tr("line %1: %2").arg(line).arg(why) : why;
        return std::nullopt;
    };
    if (!bytes.startsWith(readingsCsvHeader()))
        return fail(0, tr("it does not begin with the readings file's header"));
    CsvReader reader(bytes);
    std::vector<std::string_view> f;
    reader.next(f); // the header
    ReadingsFile file;
    file.lines.reserve(std::size_t(bytes.count('\n')));
    double factor = 1.0;
    int lineNumber = 2;
    for (; reader.next(f); ++lineNumber) {
        if (f.size() != 9)
            return fail(lineNumber, tr("it has %1 fields, not 9").arg(f.size()));
        const std::optional<Kind> kind = kindOf(f[8]);
        if (!kind)
            return fail(lineNumber, tr("\"%1\" is no kind of line").arg(utf8(f[8])));
        // The run's start comes first and gives the unit of the pressures.
        if (lineNumber == 2) {
            if (*kind != Kind::Start)
                return fail(lineNumber, tr("the run's start is missing"));
            QString why;
            const std::optional<RunIdentity> identity = identityFromText(utf8(f[7]), &why);
            if (!identity)
                return fail(lineNumber, why);
            file.identity = *identity;
            factor = identity->run.plan.unitFactor;
        }
        TraceLine line;
        line.kind = *kind;
        line.atMs = msFromIsoUtc(f[0]);
        bool ok = line.atMs >= 0;
        line.values[history::Temperature] = valueFrom(f[1], 1.0, &ok);
        line.values[history::TemperatureSet] = valueFrom(f[2], 1.0, &ok);
        line.values[history::Pressure] = valueFrom(f[3], factor, &ok);
        line.values[history::PressureSet] = valueFrom(f[4], factor, &ok);
        line.values[history::N2] = valueFrom(f[5], 1.0, &ok);
        line.values[history::O2] = valueFrom(f[6], 1.0, &ok);
        if (!ok)
            return fail(lineNumber, tr("its time or a reading can't be read"));
        const QString text = utf8(f[7]);
        if (numbered(line.kind)) {
            const QRegularExpressionMatch match = numberedText(line.kind).match(text);
            if (!match.hasMatch())
                return fail(lineNumber, tr("\"%1\" does not say which record").arg(text));
            if (line.kind == Kind::Pulse) {
                line.pulse = match.captured(1).toInt();
                line.record = match.captured(2).toInt();
                const QString outcome = match.captured(3);
                line.outcome = outcome == QLatin1String("sent")      ? PulseOutcome::Sent
                               : outcome == QLatin1String("refused") ? PulseOutcome::Refused
                                                                     : PulseOutcome::Answered;
            } else {
                line.record = match.captured(1).toInt();
            }
        } else {
            line.text = text;
        }
        file.lines.push_back(std::move(line));
    }
    // Only the last line may be torn (by a crash); one that is not CSV with
    // more lines after it is not.
    const int lineEnd = bytes.indexOf("\r\n", int(reader.whole()));
    if (lineEnd >= 0 && lineEnd + 2 < bytes.size())
        return fail(lineNumber, tr("it is not a line of the readings file"));
    if (file.lines.empty())
        return fail(0, tr("it holds no run start"));
    return file;
}

QString readingsPathFor(const QString& logName)
{
    return logName + QLatin1String(".readings.csv");
}

QString pointsPathFor(const QString& logName)
{
    return logName + QLatin1String(".points.csv");
}

QString reportPathFor(const QString& logName)
{
    return logName + QLatin1String(".report.html");
}

bool ReadingsFileAppender::create(const QString& path, const RunIdentity& identity, qint64 atMs)
{
    return open(path, false, identity, atMs);
}

bool ReadingsFileAppender::resume(const QString& path, const RunIdentity& identity, qint64 atMs)
{
    return open(path, true, identity, atMs);
}

bool ReadingsFileAppender::open(const QString& path, bool keep, const RunIdentity& identity,
                                qint64 atMs)
{
    m_file.close();
    m_file.setFileName(path);
    m_unitFactor = identity.run.plan.unitFactor;
    m_last.fill(history::kUnknown);
    if (!m_file.open(QIODevice::ReadWrite | (keep ? QIODevice::NotOpen : QIODevice::Truncate))) {
        m_error = tr("can't open %1: %2").arg(path, m_file.errorString());
        return false;
    }
    const QByteArray kept = m_file.readAll();
    // A file that is not one of ours is written anew rather than added to.
    const qint64 whole = kept.startsWith(readingsCsvHeader()) ? wholeLinesLength(kept) : 0;
    if (!m_file.resize(whole) || !m_file.seek(whole)) {
        m_error = tr("can't cut %1 back to its whole lines: %2").arg(path, m_file.errorString());
        m_file.close();
        return false;
    }
    TraceLine start;
    start.atMs = atMs;
    start.kind = Kind::Start;
    start.text = identityText(identity);
    return (whole > 0 || write(readingsCsvHeader())) && add(start);
}

bool ReadingsFileAppender::add(TraceLine line)
{
    if (line.kind == Kind::Reading)
        m_last = line.values;
    else
        line.values = m_last;
    return write(readingsFileLine(line, m_unitFactor));
}

bool ReadingsFileAppender::write(const QByteArray& bytes)
{
    if (!m_file.isOpen()) {
        m_error = tr("the readings file is not open");
        return false;
    }
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        m_error = tr("can't write %1: %2").arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    return true;
}

} // namespace records
