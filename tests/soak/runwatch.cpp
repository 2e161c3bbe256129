#include "runwatch.h"

#include "faultschedule.h"
#include "runharness.h"

#include <QLineEdit>
#include <QStatusBar>

#include <cmath>

namespace {

constexpr double kTemperatureTolerance = 0.1; // degrees C
constexpr double kPressureTolerance = 0.01;   // bar
// The flows behind a pressure within 0.01 bar differ by about 0.02 slpm.
constexpr double kFlowTolerance = 0.05; // slpm
constexpr double kO2PercentPerBar = 21.2235345;

struct Record
{
    QString pressure;
    QString temperature;
    QString n2;
    QString o2;
    QString o2Percent;
};

void compare(QStringList& problems, int number, const QString& moment, const Record& r,
             const BoxState& box)
{
    const QString where = QStringLiteral("record %1 vs the box %2: ").arg(number).arg(moment);
    const double t = r.temperature.toDouble();
    if (std::fabs(t - box.temperatureC) > kTemperatureTolerance)
        problems << where +
                        QStringLiteral("T %1, box %2 C").arg(r.temperature).arg(box.temperatureC);
    if (box.airPressureBar == -1.0) {
        if (r.pressure != QLatin1String("n/a"))
            problems << where + QStringLiteral("P %1, box had no flow").arg(r.pressure);
        return;
    }
    bool ok = false;
    const double p = r.pressure.toDouble(&ok);
    if (!ok || std::fabs(p - box.airPressureBar) > kPressureTolerance)
        problems << where +
                        QStringLiteral("P %1, box %2 bar").arg(r.pressure).arg(box.airPressureBar);
    const double o2Percent = r.o2Percent.toDouble(&ok);
    if (!ok || std::fabs(o2Percent - box.airPressureBar * kO2PercentPerBar) >
                   kPressureTolerance * kO2PercentPerBar + 0.05)
        problems
            << where +
                   QStringLiteral("O2 %1 %, box %2 bar").arg(r.o2Percent).arg(box.airPressureBar);
    if (std::fabs(r.n2.toDouble() - box.n2) > kFlowTolerance ||
        std::fabs(r.o2.toDouble() - box.o2) > kFlowTolerance)
        problems << where + QStringLiteral("flows N2 %1 O2 %2, box %3 and %4 slpm")
                                .arg(r.n2, r.o2)
                                .arg(box.n2)
                                .arg(box.o2);
}

} // namespace

BoxState boxState(const boxsim::BoxSimulator& box)
{
    BoxState s;
    s.temperatureC = box.sampleTemperatureC();
    s.airPressureBar = box.airPressureBar();
    s.n2 = box.massFlow(boxsim::N2);
    s.o2 = box.massFlow(boxsim::O2);
    return s;
}

RunWatch::RunWatch(BoxFixture& f, FaultSchedule& faults, const RunSetup& setup)
    : m_f(f), m_faults(faults), m_setup(setup)
{
    m_truthAtStart = int(f.box->pulseTruth().size());
    m_clock.start();
    connect(f.window->statusBar(), &QStatusBar::messageChanged, this,
            [this](const QString& text) { message(text); });
    // The readouts behind the records, to follow a mismatch back.
    for (const char* name : {"curPN2_", "curPO2_", "curT"}) {
        auto* readout = findIn<QLineEdit>(f.window.get(), name);
        connect(readout, &QLineEdit::textChanged, this, [this, name](const QString& text) {
            m_messages << QStringLiteral("%1 s  (%2 %3)")
                              .arg(m_clock.elapsed() / 1000.0, 0, 'f', 3)
                              .arg(QLatin1String(name), text);
            if (m_messages.size() > 80)
                m_messages.removeFirst();
        });
    }
}

int RunWatch::recordsInLog() const
{
    return int(logLines(m_setup.logPath).size()) - (m_setup.cls ? 2 : 1);
}

void RunWatch::message(const QString& text)
{
    m_messages << QStringLiteral("%1 s  %2").arg(m_clock.elapsed() / 1000.0, 0, 'f', 3).arg(text);
    if (m_messages.size() > 80)
        m_messages.removeFirst();

    if (text.startsWith(QLatin1String("Delay before pulse ")) &&
        text.endsWith(QLatin1String(" sec"))) {
        Sequence s;
        s.recordsBefore = recordsInLog();
        s.box = boxState(*m_f.box);
        m_sequences << s;
        // The grid is done after this one, and the reference gas goes out once.
        if (keptSequences() == m_setup.gridPoints)
            m_faults.holdFlowWrites(true);
    } else if (text.startsWith(QLatin1String("Pulse ")) &&
               text.contains(QLatin1String(" ms sent"))) {
        Attempt a;
        a.sequence = int(m_sequences.size()) - 1;
        for (const Attempt& before : m_attempts)
            a.index += before.sequence == a.sequence ? 1 : 0;
        a.truthBefore = int(m_f.box->pulseTruth().size());
        a.armedAtMs = m_faults.nowMs();
        a.fault = m_faults.armPulse(m_setup.pulseCommand.startsWith('$'),
                                    a.index + 1 >= m_setup.pulsesPerPoint);
        m_attempts << a;
    } else if (text == QLatin1String("OK") || text == QLatin1String("Camera answer received") ||
               text.startsWith(QLatin1String("Warning: Camera did not answer"))) {
        endAttempt(true, true);
    } else if (text.startsWith(QLatin1String("Warning: No answer from the pulse generator"))) {
        endAttempt(true, false);
    } else if (text == QLatin1String("Warning: Can't reach the pulse generator, pulse not sent.")) {
        endAttempt(false, false);
    } else if (text.startsWith(QLatin1String("Warning: The pulse generator refused pulse "))) {
        pulseRefusalShown(text);
    } else if ((text.startsWith(QLatin1String("Warning: Can't reach the pulse generator")) ||
                text.startsWith(
                    QLatin1String("Warning: The pulse generator refused the pulses"))) &&
               text.endsWith(QLatin1String("point repeated."))) {
        if (m_sequences.isEmpty() || m_sequences.last().withdrawn) {
            m_problems << QStringLiteral("a point was repeated without a sequence: %1").arg(text);
        } else {
            m_sequences.last().withdrawn = true;
            m_sequences.last().withdrawnAsRefused = text.contains(QLatin1String("refused"));
        }
    } else if (text.startsWith(QLatin1String("Warning: Can't")) &&
               !text.startsWith(QLatin1String("Warning: Can't reach the pulse generator"))) {
        m_problems << QStringLiteral("the window said: %1").arg(text);
    }
}

void RunWatch::pulseErrorShown()
{
    endAttempt(true, true);
    if (!m_attempts.isEmpty())
        m_attempts.last().refused = true;
}

void RunWatch::pulseRefusalShown(const QString& text)
{
    // "Warning: The pulse generator refused pulse K of N @ T:.. P:.."
    const QStringList words = text.split(QLatin1Char(' '));
    const int k = words.value(6).toInt();
    const int n = words.value(8).toInt();
    if (m_attempts.isEmpty() || !m_attempts.last().refused || m_attempts.last().refusalShown) {
        m_problems << QStringLiteral("the window named a refusal the generator did not make: %1")
                          .arg(text);
        return;
    }
    Attempt& a = m_attempts.last();
    a.refusalShown = true;
    if (k != a.index + 1 || n != m_setup.pulsesPerPoint)
        m_problems << QStringLiteral("pulse command %1 was pulse %2 of %3, the window said: %4")
                          .arg(m_attempts.size())
                          .arg(a.index + 1)
                          .arg(m_setup.pulsesPerPoint)
                          .arg(text);
}

void RunWatch::endAttempt(bool answered, bool heard)
{
    if (m_attempts.isEmpty() || m_attempts.last().endedAtMs >= 0)
        return;
    Attempt& a = m_attempts.last();
    a.answered = answered;
    a.heard = heard;
    a.endedAtMs = m_faults.nowMs();
}

qint64 RunWatch::attemptEndMs(int attempt) const
{
    if (m_attempts[attempt].endedAtMs >= 0)
        return m_attempts[attempt].endedAtMs;
    return attempt + 1 < m_attempts.size() ? m_attempts[attempt + 1].armedAtMs : m_faults.nowMs();
}

int RunWatch::keptSequences() const
{
    int kept = 0;
    for (const Sequence& s : m_sequences)
        kept += s.withdrawn ? 0 : 1;
    return kept;
}

QString RunWatch::pulseLog() const
{
    QStringList entries;
    for (int j = 0; j < m_attempts.size(); ++j)
        entries << QStringLiteral("%1: %2 after %3")
                       .arg(j + 1)
                       .arg(m_attempts[j].fault)
                       .arg(m_attempts[j].truthBefore);
    return entries.join(QStringLiteral(", "));
}

QStringList RunWatch::check(RunFigures* figures) const
{
    QStringList problems = m_problems;
    const QList<boxsim::PulseTruth> truth = m_f.box->pulseTruth();

    // Every pulse command the box saw belongs to a sequence of this run, and
    // only a refused connection or the box away may keep one from arriving.
    QList<QList<int>> truthOfSequence;
    truthOfSequence.reserve(m_sequences.size());
    for (int k = 0; k < m_sequences.size(); ++k)
        truthOfSequence << QList<int>();
    int seen = m_truthAtStart;
    for (int j = 0; j < m_attempts.size(); ++j) {
        const Attempt& a = m_attempts[j];
        if (a.truthBefore != seen)
            problems << QStringLiteral("%1 pulse command(s) reached the box before command %2 "
                                       "without a sequence")
                            .arg(a.truthBefore - seen)
                            .arg(j + 1);
        const int next =
            j + 1 < m_attempts.size() ? m_attempts[j + 1].truthBefore : int(truth.size());
        const int delivered = next - a.truthBefore;
        const bool away = m_faults.awayBetween(a.armedAtMs, attemptEndMs(j));
        if (delivered == 0 && !FaultSchedule::mayLosePulse(a.fault) && !away)
            problems << QStringLiteral("pulse command %1 (sequence %2, generator fault %3) never "
                                       "reached the box")
                            .arg(j + 1)
                            .arg(a.sequence + 1)
                            .arg(a.fault);
        // An answer the window heard is the generator's: "RR1" exactly when
        // it refused the pulse.
        if (delivered >= 1 && a.heard && a.refused != truth[a.truthBefore].refused)
            problems << QStringLiteral("pulse command %1: the generator %2 it, the window heard %3")
                            .arg(j + 1)
                            .arg(truth[a.truthBefore].refused ? "refused" : "did not refuse")
                            .arg(a.refused ? "RR1" : "another answer");
        if (a.refused && !a.refusalShown)
            problems << QStringLiteral("pulse command %1 was refused without a warning").arg(j + 1);
        if (delivered > 1)
            problems << QStringLiteral("pulse command %1 reached the box %2 times")
                            .arg(j + 1)
                            .arg(delivered);
        if (a.sequence < 0) {
            problems << QStringLiteral("pulse command %1 came before any sequence").arg(j + 1);
        } else if (delivered >= 1 && !a.refused) {
            truthOfSequence[a.sequence] << a.truthBefore;
            if (truth[a.truthBefore].command != m_setup.pulseCommand)
                problems << QStringLiteral("pulse command %1 was %2, not %3")
                                .arg(j + 1)
                                .arg(QString::fromLatin1(truth[a.truthBefore].command),
                                     QString::fromLatin1(m_setup.pulseCommand));
        }
        if (figures) {
            ++figures->pulseCommands;
            figures->pulsesDelivered += qMin(delivered, 1);
            figures->pulsesLost += delivered == 0 ? 1 : 0;
            figures->pulsesLostAway += delivered == 0 && away ? 1 : 0;
            figures->generatorRefusals += a.refused ? 1 : 0;
        }
        seen = next;
    }
    if (m_attempts.isEmpty() && truth.size() != m_truthAtStart)
        problems << QStringLiteral("the box saw pulses but the window sent none");
    QList<int> kept; // the sequences that keep their record, in log order
    for (int k = 0; k < m_sequences.size(); ++k) {
        const Sequence& s = m_sequences[k];
        int commands = 0;
        bool answered = false;
        int refusals = 0;
        for (const Attempt& a : m_attempts) {
            if (a.sequence != k)
                continue;
            ++commands;
            answered = answered || (a.answered && !a.refused);
            refusals += a.refused ? 1 : 0;
        }
        const bool refused = refusals > 0;
        if (commands != m_setup.pulsesPerPoint)
            problems << QStringLiteral("sequence %1 sent %2 pulse commands, not %3")
                            .arg(k + 1)
                            .arg(commands)
                            .arg(m_setup.pulsesPerPoint);
        // The record is written just before the sequence; a withdrawn one is
        // gone again when the point is repeated.
        if (s.recordsBefore != int(kept.size()) + 1)
            problems << QStringLiteral("sequence %1 started with %2 records in the log, not %3")
                            .arg(k + 1)
                            .arg(s.recordsBefore)
                            .arg(kept.size() + 1);
        if (s.withdrawn) {
            if (answered)
                problems << QStringLiteral("sequence %1 was repeated though the generator "
                                           "answered a pulse of it")
                                .arg(k + 1);
            if (s.withdrawnAsRefused != refused)
                problems << QStringLiteral("sequence %1 was repeated saying the generator %2 "
                                           "its pulses, and it %3")
                                .arg(k + 1)
                                .arg(s.withdrawnAsRefused ? "refused" : "could not be reached for")
                                .arg(refused ? "refused some" : "refused none");
            if (figures) {
                ++figures->pointsRepeated;
                figures->pointsRefused += refused ? 1 : 0;
                figures->strayPulses += int(truthOfSequence[k].size());
            }
            continue;
        }
        if (truthOfSequence[k].isEmpty())
            problems << QStringLiteral("sequence %1 kept its record %2 though none of its pulses "
                                       "reached the box unrefused")
                            .arg(k + 1)
                            .arg(kept.size() + 1);
        kept << k;
        if (figures)
            figures->refusalsInKeptPoints += refusals;
    }

    // One record per kept sequence, in both logs.
    const QStringList log = logLines(m_setup.logPath);
    const QStringList raw = logLines(m_setup.rawLogPath);
    const int header = m_setup.cls ? 2 : 1;
    const int records = int(log.size()) - header;
    if (records != kept.size())
        problems << QStringLiteral("%1 records for %2 pulse sequences that reached the box")
                        .arg(records)
                        .arg(kept.size());
    if (raw.size() - 1 != records)
        problems
            << QStringLiteral("%1 raw gas records for %2 records").arg(raw.size() - 1).arg(records);

    const QChar separator = m_setup.cls ? QLatin1Char(' ') : QLatin1Char(',');
    const int checkable = qMin(qMin(records, int(raw.size()) - 1), int(kept.size()));
    for (int i = 0; i < checkable; ++i) {
        const QStringList fields = log[header + i].split(separator);
        const QStringList rawFields = raw[1 + i].split(QLatin1Char(','));
        const QString n = QStringLiteral("%1").arg(i + 1, 6, 10, QLatin1Char('0'));
        if (fields.size() != 6 || fields[2] != QStringLiteral("calib_%1_p.tif").arg(n) ||
            fields[3] != QLatin1String("1") ||
            fields[4] != QStringLiteral("calib_%1_r.tif").arg(n) ||
            fields[5] != QLatin1String("1")) {
            problems << QStringLiteral("record %1 reads \"%2\"").arg(i + 1).arg(log[header + i]);
            continue;
        }
        if (rawFields.size() != 6 || rawFields[0] != n || rawFields[3] != fields[1] ||
            rawFields[4] != fields[0]) {
            problems << QStringLiteral("raw gas record %1 reads \"%2\" beside \"%3\"")
                            .arg(i + 1)
                            .arg(raw[1 + i], log[header + i]);
            continue;
        }
        const Record r{fields[0], fields[1], rawFields[1], rawFields[2], rawFields[5]};
        compare(problems, i + 1, QStringLiteral("as the record was written"), r,
                m_sequences[kept[i]].box);
        for (int t : truthOfSequence[kept[i]]) {
            const boxsim::PulseTruth& p = truth[t];
            compare(problems, i + 1, QStringLiteral("at pulse command %1").arg(t + 1), r,
                    BoxState{p.sampleTemperatureC, p.airPressureBar, p.n2MassFlow, p.o2MassFlow});
        }
    }
    if (figures)
        figures->records += qMax(records, 0);
    return problems;
}
