#include "resumeplan.h"

#include "inputranges.h"
#include "logformat.h"
#include "presetfile.h"
#include "sweep.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QVector>

#include <optional>

namespace records {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("RunJournal", text);
}

const QByteArray kLineEnd("\r\n");

ResumeDecision refusal(const QString& why)
{
    ResumeDecision decision;
    decision.kind = ResumeDecision::Refuse;
    decision.message = tr("The interrupted run can't be resumed: %1").arg(why);
    return decision;
}

bool prefixMatches(const QByteArray& bytes, qint64 size, const QByteArray& sha256Hex)
{
    return bytes.size() >= size &&
           QCryptographicHash::hash(bytes.left(int(size)), QCryptographicHash::Sha256).toHex() ==
               sha256Hex;
}

// The whole lines at the start of `tail`, up to two: more is never left by a run.
QList<QByteArray> wholeLines(const QByteArray& tail)
{
    QList<QByteArray> lines;
    int from = 0;
    while (lines.size() < 2) {
        const int end = tail.indexOf(kLineEnd, from);
        if (end < 0)
            break;
        lines << tail.mid(from, end + kLineEnd.size() - from);
        from = end + kLineEnd.size();
    }
    return lines;
}

bool isCalibrationRecord(const QByteArray& line, const JournalPlan& plan, int number)
{
    const QByteArray sep = plan.layout == LogLayout::Csv ? "," : " ";
    QByteArray images;
    for (const QString& image : imageNames(plan.color, number))
        images += sep + image.toLatin1() + sep + "1";
    return line.endsWith(images + kLineEnd) && line.size() > images.size() + kLineEnd.size();
}

bool isRawRecord(const QByteArray& line, int number)
{
    return line.startsWith(formatRecordNumber(number).toLatin1() + ',');
}

// Where each record of a log ends, when the bytes from `from` to `to` are
// records 1, 2, ... each whole; none otherwise.
template <typename IsRecord>
std::optional<QVector<qint64>> recordEnds(const QByteArray& bytes, qint64 from, qint64 to,
                                          IsRecord isRecord)
{
    QVector<qint64> ends;
    qint64 start = from;
    while (start < to) {
        const qint64 end = bytes.indexOf(kLineEnd, int(start)) + kLineEnd.size();
        if (end < kLineEnd.size() || end > to ||
            !isRecord(bytes.mid(int(start), int(end - start)), int(ends.size()) + 1))
            return std::nullopt;
        ends << end;
        start = end;
    }
    return ends;
}

QString spinProblem(const char* key, double value, const inputs::SpinRange& range)
{
    if (inputs::fitsSpinBox(value, range))
        return QString();
    return tr("%1 = %2 is not from %3 to %4 with at most %5 decimals")
        .arg(QLatin1String(key))
        .arg(value, 0, 'g', 10)
        .arg(range.minimum)
        .arg(range.maximum)
        .arg(range.decimals);
}

QString wholeProblem(const char* key, int value, int minimum, int maximum)
{
    if (value >= minimum && value <= maximum)
        return QString();
    return tr("%1 = %2 is not a whole number from %3 to %4")
        .arg(QLatin1String(key))
        .arg(value)
        .arg(minimum)
        .arg(maximum);
}

} // namespace

QString planProblem(const JournalPlan& plan)
{
    if (unitsTextForFactor(plan.unitFactor).isEmpty())
        return tr("unitFactor = %1 is none of bar, kPa and psi").arg(plan.unitFactor, 0, 'g', 17);
    const std::optional<int> width = parsePulseWidth(plan.pulseWidth);
    QStringList problems{
        wholeProblem("pulsesPerPoint", plan.pulsesPerPoint, 1, inputs::kMaxPulsesPerPoint),
        wholeProblem("delayBetweenPulses", plan.delayBetweenPulsesS, 0, kMaxDelayBetweenPulses),
        wholeProblem("waitBeforePulse", plan.waitBeforePulseS, 0, kMaxWaitBeforePulse),
        wholeProblem("extraWaitAtZero", plan.extraWaitAtZeroS, 0, kMaxExtraWaitBeforeZero),
        !width || padPulseWidth(*width) != plan.pulseWidth
            ? tr("pulseWidth = \"%1\" is not three digits from 001 to 999").arg(plan.pulseWidth)
            : QString(),
    };
    if (!plan.temperature.on && !plan.pressure.on)
        problems << tr("neither axis is on");
    const JournalAxis& t = plan.temperature;
    if (t.on) {
        problems << spinProblem("temperature.from", t.from, inputs::kTemperatureRange)
                 << spinProblem("temperature.to", t.to, inputs::kTemperatureRange)
                 << spinProblem("temperature.step", t.step, inputs::kTemperatureStepRange);
    }
    const JournalAxis& p = plan.pressure;
    if (p.on) {
        const inputs::SpinRange range = inputs::pressureRange(plan.unitFactor, false);
        problems << spinProblem("pressure.from", p.from, range)
                 << spinProblem("pressure.to", p.to, range)
                 << spinProblem("pressure.step", p.step,
                                inputs::pressureRange(plan.unitFactor, true));
    }
    if (plan.referencePointOn) {
        problems << spinProblem("reference.t", plan.referenceT, inputs::kReferenceTemperatureRange)
                 << spinProblem("reference.p", plan.referenceP,
                                inputs::referencePressureRange(plan.unitFactor));
    }
    problems.removeAll(QString());
    if (!problems.isEmpty())
        return problems.first();
    // The axes as the window plans them from these values.
    if (t.on && t.points != sweep::planTemperature(t.from, t.to, t.step).points)
        return tr("temperature.points = %1 is not what its axis gives").arg(t.points);
    if (p.on && p.points != sweep::planPressure(p.from, p.to, p.step, plan.unitFactor).points)
        return tr("pressure.points = %1 is not what its axis gives").arg(p.points);
    return QString();
}

QString ResumeDecision::question() const
{
    return tr("Resume the interrupted run at point %1 of %2?").arg(pointIndex + 1).arg(totalPoints);
}

QString ResumeDecision::imagesWarning() const
{
    if (possibleImages.isEmpty())
        return QString();
    return tr("The pulses of record %1 were under way when the run stopped: the camera may hold "
              "%2 from them. The point is taken again; delete those images.")
        .arg(nextRecordNumber)
        .arg(possibleImages.join(QLatin1String(", ")));
}

ResumeDecision decideResume(const QByteArray& journal, const QByteArray& log, const QByteArray& raw)
{
    QString why;
    const std::optional<JournalContents> contents = journalFromBytes(journal, &why);
    if (!contents)
        return refusal(tr("its journal can't be read: %1.").arg(why));
    return decideResume(*contents, log, raw);
}

ResumeDecision decideResume(const JournalContents& journal, const QByteArray& log,
                            const QByteArray& raw)
{
    const JournalPlan& plan = journal.plan;
    const QString& logName = journal.logs.log;
    const QString& rawName = journal.logs.rawLog;
    const QString problem = planProblem(plan);
    if (!problem.isEmpty())
        return refusal(
            tr("the plan in its journal is not one the program makes: %1.").arg(problem));

    // The headers say the unit, the layout and the colour the run wrote.
    const QByteArray logHeader = calibrationLogHeader(plan.layout, plan.color, plan.unitFactor);
    const QByteArray rawHeader = rawLogHeader(plan.unitFactor);
    if (!log.startsWith(logHeader))
        return refusal(tr("the header of %1 is not that of the run's plan (another unit, "
                          "layout or colour).")
                           .arg(logName));
    if (!raw.startsWith(rawHeader))
        return refusal(
            tr("the header of %1 is not that of the run's plan (another unit).").arg(rawName));

    // The last record the journal has in the logs, and where the logs ended
    // with it; the hash covers every byte before it.
    const JournalRecord* last = journal.lastLive();
    const int m = last ? last->number : 0;
    LogState base{logHeader.size(), rawHeader.size(), {}, {}};
    if (last) {
        base = last->after;
        if (base.logSha256.isEmpty())
            return refusal(tr("its journal holds no hash of record %1.").arg(m));
        if (log.size() < base.logSize || raw.size() < base.rawSize)
            return refusal(tr("the logs are shorter than its journal says: record %1 is "
                              "missing.")
                               .arg(m));
        if (!prefixMatches(log, base.logSize, base.logSha256))
            return refusal(tr("%1 was changed after record %2 was written.").arg(logName).arg(m));
        if (!prefixMatches(raw, base.rawSize, base.rawSha256))
            return refusal(tr("%1 was changed after record %2 was written.").arg(rawName).arg(m));
    }

    // The hash vouches for the bytes, not for the journal's sizes of the
    // records before: both logs must hold records 1 to m there, each whole.
    const std::optional<QVector<qint64>> logEnds =
        recordEnds(log, logHeader.size(), base.logSize, [&plan](const QByteArray& line, int n) {
            return isCalibrationRecord(line, plan, n);
        });
    const std::optional<QVector<qint64>> rawEnds =
        recordEnds(raw, rawHeader.size(), base.rawSize, isRawRecord);
    if (!logEnds || logEnds->size() != m)
        return refusal(
            tr("%1 does not hold records 1 to %2 as its journal says.").arg(logName).arg(m));
    if (!rawEnds || rawEnds->size() != m)
        return refusal(
            tr("%1 does not hold records 1 to %2 as its journal says.").arg(rawName).arg(m));

    // Past that: at most the next record, whole in both files, or in one only,
    // and a torn line.
    const QList<QByteArray> logTail = wholeLines(log.mid(int(base.logSize)));
    const QList<QByteArray> rawTail = wholeLines(raw.mid(int(base.rawSize)));
    if (logTail.size() > 1 || rawTail.size() > 1)
        return refusal(tr("the logs hold records after record %1 that its journal never "
                          "noted.")
                           .arg(m));
    for (const QByteArray& line : logTail) {
        if (!isCalibrationRecord(line, plan, m + 1))
            return refusal(tr("%1 was changed after record %2 was written.").arg(logName).arg(m));
    }
    for (const QByteArray& line : rawTail) {
        if (!isRawRecord(line, m + 1))
            return refusal(tr("%1 was changed after record %2 was written.").arg(rawName).arg(m));
    }

    ResumeDecision decision;
    decision.kind = ResumeDecision::Resume;
    decision.totalPoints = plan.totalPoints();
    decision.repairedLogSize = base.logSize;
    decision.repairedRawSize = base.rawSize;
    int r = m;
    if (logTail.size() == 1 && rawTail.size() == 1) {
        // In both logs but not yet in the journal, or taken back there (a
        // crash before the cut, or before a new try of the point was noted).
        if (last && !last->done)
            return refusal(tr("the logs hold record %1 while the pulses of record %2 were "
                              "not done.")
                               .arg(m + 1)
                               .arg(m));
        r = m + 1;
        decision.repairedLogSize += logTail.first().size();
        decision.repairedRawSize += rawTail.first().size();
    }
    if (r > decision.totalPoints)
        return refusal(tr("the logs hold %1 records, more than the %2 points of its plan.")
                           .arg(r)
                           .arg(decision.totalPoints));
    decision.lastRecord = r;

    const JournalRecord* fate = journal.find(r);
    if (r == 0 || (fate && fate->done && !fate->takenBack)) {
        decision.action = ResumeDecision::Continue;
        decision.logSize = decision.repairedLogSize;
        decision.rawSize = decision.repairedRawSize;
        decision.pointIndex = r;
    } else {
        // Its pulses may have gone out: announced, and not taken back by the
        // run itself (which does so only when none went out).
        const bool underWay = fate && fate->announced && (!fate->takenBack || fate->underWay);
        decision.action =
            underWay ? ResumeDecision::RepeatAfterAnnounce : ResumeDecision::RepeatNotAnnounced;
        QString why;
        if (!journalWithTakeBack(journal, r, underWay, &why))
            return refusal(tr("its journal can't take record %1 back: %2.").arg(r).arg(why));
        // Where the logs ended before R, as the journal noted it then.
        decision.logSize = r > 1 ? logEnds->at(r - 2) : logHeader.size();
        decision.rawSize = r > 1 ? rawEnds->at(r - 2) : rawHeader.size();
        const JournalRecord* before = journal.find(r - 1);
        if (before && (before->after.logSize != decision.logSize ||
                       before->after.rawSize != decision.rawSize))
            return refusal(
                tr("its journal says record %1 ends elsewhere than the logs do.").arg(r - 1));
        decision.pointIndex = r - 1;
    }
    decision.nextRecordNumber = decision.pointIndex + 1;
    // The point taken again had a try whose pulses were under way: R itself,
    // or a try a resume took back before the logs were cut.
    const JournalRecord* retaken = journal.find(decision.nextRecordNumber);
    if (retaken && retaken->announced && !retaken->done &&
        (!retaken->takenBack || retaken->underWay))
        decision.possibleImages = imageNames(plan.color, decision.nextRecordNumber);
    if (decision.pointIndex >= decision.totalPoints)
        decision.kind = ResumeDecision::Complete;
    return decision;
}

ResumeFiles resumeFilesFor(const QString& logName)
{
    return ResumeFiles{{logName, rawLogNameFor(logName)}, journalPathFor(logName)};
}

ResumeDecision decideResume(const ResumeFiles& files)
{
    QByteArray bytes[3];
    const QString names[3] = {files.journal, files.logs.log, files.logs.rawLog};
    for (int i = 0; i < 3; ++i) {
        QFile file(names[i]);
        if (!file.open(QIODevice::ReadOnly))
            return refusal(tr("can't read %1: %2.").arg(names[i], file.errorString()));
        bytes[i] = file.readAll();
    }
    return decideResume(bytes[0], bytes[1], bytes[2]);
}

bool applyResume(const ResumeFiles& files, const ResumeDecision& decision, RunJournal& journal,
                 QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (decision.kind == ResumeDecision::Refuse)
        return fail(decision.message);
    if (!journal.open(files.journal))
        return fail(journal.errorString());
    if (decision.takeBack() &&
        !journal.takenBack(decision.lastRecord,
                           decision.action == ResumeDecision::RepeatAfterAnnounce))
        return fail(journal.errorString());
    QFile log(files.logs.log);
    QFile raw(files.logs.rawLog);
    if (log.size() < decision.logSize || raw.size() < decision.rawSize)
        return fail(tr("the logs changed since the resume was decided."));
    if (!log.resize(decision.logSize) || !raw.resize(decision.rawSize))
        return fail(tr("can't cut the logs back: %1").arg(log.errorString() + raw.errorString()));
    if (!syncFileToDisk(files.logs.log) || !syncFileToDisk(files.logs.rawLog))
        return fail(tr("can't flush the logs to disk."));
    return true;
}

} // namespace records
