// The decision whether and where an interrupted run goes on, from its journal
// and the bytes of both logs: a refusal that says why, or a decision that acts
// on the last record as the journal says and cuts the logs only at the end of
// a whole record.
// Input: a mode byte, then the journal, the calibration log and the raw log,
// separated by 0x1E bytes. Mode bit 0 puts the plan's headers in front of the
// logs, bit 1 gives each record's hashes from the logs themselves, so that the
// checks past them are reached.
#include "journalsupport.h"
#include "logformat.h"
#include "resumeplan.h"

#include <QCryptographicHash>

using records::ResumeDecision;

namespace {

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The lines of `bytes` from `from` to `to`, each ended by CR LF; none when the
// piece does not end with one.
std::optional<QList<QByteArray>> wholeLines(const QByteArray& bytes, qint64 from, qint64 to)
{
    QList<QByteArray> lines;
    int start = int(from);
    while (start < to) {
        const int end = int(bytes.indexOf("\r\n", start));
        if (end < 0 || end + 2 > to)
            return std::nullopt;
        lines << bytes.mid(start, end + 2 - start);
        start = end + 2;
    }
    return lines;
}

// Both logs up to the given sizes hold exactly `count` records, numbered from 1.
void checkRecords(const records::JournalPlan& plan, const QByteArray& log, const QByteArray& raw,
                  qint64 logSize, qint64 rawSize, int count)
{
    const int logHeader =
        int(records::calibrationLogHeader(plan.layout, plan.color, plan.unitFactor).size());
    const int rawHeader = int(records::rawLogHeader(plan.unitFactor).size());
    FUZZ_CHECK(logSize >= logHeader && logSize <= log.size());
    FUZZ_CHECK(rawSize >= rawHeader && rawSize <= raw.size());
    const std::optional<QList<QByteArray>> logLines = wholeLines(log, logHeader, logSize);
    const std::optional<QList<QByteArray>> rawLines = wholeLines(raw, rawHeader, rawSize);
    FUZZ_CHECK(logLines && logLines->size() == count);
    FUZZ_CHECK(rawLines && rawLines->size() == count);
    const QByteArray separator = plan.layout == records::LogLayout::Csv ? "," : " ";
    for (int n = 1; n <= count; ++n) {
        QByteArray images;
        for (const QString& image : records::imageNames(plan.color, n))
            images += separator + image.toLatin1() + separator + "1";
        FUZZ_CHECK(logLines->at(n - 1).endsWith(images + "\r\n"));
        FUZZ_CHECK(rawLines->at(n - 1).startsWith(records::formatRecordNumber(n).toLatin1() + ','));
    }
}

void checkDecision(const records::JournalContents& journal, const QByteArray& log,
                   const QByteArray& raw, const ResumeDecision& d)
{
    const records::JournalPlan& plan = journal.plan;
    const int r = d.lastRecord;
    FUZZ_CHECK(d.logSize <= d.repairedLogSize && d.rawSize <= d.repairedRawSize);
    checkRecords(plan, log, raw, d.repairedLogSize, d.repairedRawSize, r);
    checkRecords(plan, log, raw, d.logSize, d.rawSize, d.pointIndex);

    // Pulses of a record may have gone out when it was announced and not taken
    // back by the run itself (which does so only when none went out).
    const auto underWay = [](const records::JournalRecord* record) {
        return record && record->announced && !record->done &&
               (!record->takenBack || record->underWay);
    };
    const records::JournalRecord* fate = journal.find(r);
    const bool done = fate && fate->done && !fate->takenBack;
    FUZZ_CHECK(d.action != ResumeDecision::Continue || r == 0 || done);
    FUZZ_CHECK(d.action == ResumeDecision::Continue || !done);
    FUZZ_CHECK((d.action == ResumeDecision::RepeatAfterAnnounce) ==
               (d.action != ResumeDecision::Continue && underWay(fate)));
    FUZZ_CHECK(d.pointIndex == (d.takeBack() ? r - 1 : r));
    FUZZ_CHECK(d.nextRecordNumber == d.pointIndex + 1);
    // The images named are those of the point taken again, when a try of it was under way.
    FUZZ_CHECK(d.possibleImages == (underWay(journal.find(d.nextRecordNumber))
                                        ? records::imageNames(plan.color, d.nextRecordNumber)
                                        : QStringList()));
    for (int n = 1; n <= d.pointIndex; ++n) {
        const records::JournalRecord* before = journal.find(n);
        FUZZ_CHECK(before && before->done && !before->takenBack);
    }
    FUZZ_CHECK(d.totalPoints == plan.totalPoints());
    FUZZ_CHECK((d.kind == ResumeDecision::Complete) == (d.pointIndex == d.totalPoints));
    FUZZ_CHECK(d.pointIndex <= d.totalPoints);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 mode = data[0];
    const QList<QByteArray> parts =
        fuzzsupport::pieces(fuzzsupport::bytes(data + 1, size - 1), '\x1e', 3);
    const QByteArray& journalBytes = parts[0];
    QByteArray log = parts[1];
    QByteArray raw = parts[2];

    std::optional<records::JournalContents> journal = records::journalFromBytes(journalBytes);
    ResumeDecision decision;
    if (journal && (mode & 3) != 0) {
        const records::JournalPlan& plan = journal->plan;
        if (mode & 1) {
            log.prepend(records::calibrationLogHeader(plan.layout, plan.color, plan.unitFactor));
            raw.prepend(records::rawLogHeader(plan.unitFactor));
        }
        if (mode & 2) {
            for (records::JournalRecord& record : journal->records) {
                records::LogState& after = record.after;
                if (after.logSha256.isEmpty() || after.logSize > log.size() ||
                    after.rawSize > raw.size())
                    continue;
                after.logSha256 = sha256Hex(log.left(int(after.logSize)));
                after.rawSha256 = sha256Hex(raw.left(int(after.rawSize)));
            }
        }
        decision = records::decideResume(*journal, log, raw);
    } else {
        decision = records::decideResume(journalBytes, log, raw);
    }

    if (decision.kind == ResumeDecision::Refuse) {
        FUZZ_CHECK(!decision.message.isEmpty());
        return 0;
    }
    FUZZ_CHECK(journal); // never a decision from a journal that can't be read
    checkDecision(*journal, log, raw, decision);
    (void)decision.question();
    (void)decision.imagesWarning();
    return 0;
}
