#include "sessionsource.h"

#include "boxsession.h"
#include "units.h"

#include <QFileInfo>

namespace monitor {

namespace {

// A run's phase changes between the session's signals; looked at this often.
constexpr int kLookMs = 250;

} // namespace

SessionSource::SessionSource(const BoxSession& session, QObject* parent)
    : Source(parent), m_session(session)
{
    m_eventsSeen = session.history().eventsAdded();
    m_lastRun = run();
    m_lastBox = box();
    // Each reading signal follows its sample.
    const auto reading = [this] {
        emit readingAdded();
        look();
    };
    connect(&session, &BoxSession::temperatureRead, this, reading);
    connect(&session, &BoxSession::n2Read, this, reading);
    connect(&session, &BoxSession::o2Read, this, reading);
    connect(&session, &BoxSession::connectionLost, this, &SessionSource::look);
    connect(&session, &BoxSession::recordWritten, this, [this] {
        ++m_counters.recordsWritten;
        look();
    });
    connect(&session, &BoxSession::message, this, &SessionSource::look);
    connect(&session, &BoxSession::setPointNotice, this, &SessionSource::look);
    connect(&session, &BoxSession::pointDone, this, &SessionSource::look);
    connect(&session, &BoxSession::runEnded, this, &SessionSource::look);
    connect(&session, &BoxSession::gasSwitched, this, &SessionSource::look);
    connect(&m_looks, &QTimer::timeout, this, &SessionSource::look);
    m_looks.start(kLookMs);
}

const history::ReadingHistory& SessionSource::history() const
{
    return m_session.history();
}

BoxView SessionSource::box() const
{
    BoxView v;
    v.address = m_session.address();
    const QString log = m_session.log().files().log;
    if ((m_session.model().logging() || m_session.tracker().plan().writeLog) && !log.isEmpty())
        v.logName = QFileInfo(log).fileName();
    v.unitFactor = m_session.unitFactor();
    const QString label = units::unitLabel(units::unitFromFactor(v.unitFactor));
    if (!label.isEmpty())
        v.unitLabel = label;
    v.gasOn = !m_session.model().gasOff();
    const auto controller = [this](const char* name, setpoint::Controller which) {
        return Device{QLatin1String(name), m_session.answering(which),
                      m_session.setPointRetries(which)};
    };
    v.devices = {
        controller("temperature", setpoint::Controller::Temperature),
        controller("n2", setpoint::Controller::N2),
        controller("o2", setpoint::Controller::O2),
        {QStringLiteral("pulse"), m_session.pulseTotals().answering, 0},
    };
    return v;
}

RunView SessionSource::run() const
{
    const progress::PhaseInputs phase{m_session.controller().phase(),
                                      m_session.controller().repeatingPoint(),
                                      m_session.pulseStage()};
    const BoxSession::PulseSettings& pulses = m_session.pulseSettings();
    progress::FixedWaits waits;
    waits.waitBeforePulseS = pulses.waitBeforeS;
    waits.extraWaitAtZeroS = pulses.extraWaitAtZeroS;
    waits.pulsesPerPoint = pulses.pulses;
    waits.delayBetweenPulsesS = pulses.delayBetweenS;
    return runViewOf(m_session.tracker(), phase, waits);
}

Counters SessionSource::counters() const
{
    Counters c = m_counters;
    c.pulsesSent = m_session.pulseTotals().sent;
    c.pulsesUnanswered = m_session.pulseTotals().unanswered;
    return c;
}

void SessionSource::look()
{
    const history::ReadingHistory& h = m_session.history();
    if (h.eventsAdded() != m_eventsSeen) {
        // Every signal that follows an event brings a look at once, so
        // events rarely arrive here two at a time.
        if (!h.events().empty() && h.events().back().kind != history::EventKind::Record)
            m_counters.warnings += h.eventsAdded() - m_eventsSeen;
        m_eventsSeen = h.eventsAdded();
        emit eventAdded();
    }
    const RunView r = run();
    if (!sameShown(r, m_lastRun)) {
        m_lastRun = r;
        emit runChanged();
    }
    const BoxView b = box();
    if (!sameShown(b, m_lastBox)) {
        m_lastBox = b;
        emit boxChanged();
    }
}

bool sameShown(const RunView& a, const RunView& b)
{
    return a.started == b.started && a.active == b.active && a.phase == b.phase &&
           a.pointsDone == b.pointsDone && a.referenceUnderWay == b.referenceUnderWay &&
           a.referenceDone == b.referenceDone && a.startMs == b.startMs && a.endMs == b.endMs;
}

bool sameShown(const BoxView& a, const BoxView& b)
{
    if (a.address != b.address || a.logName != b.logName || a.unitLabel != b.unitLabel ||
        a.gasOn != b.gasOn || a.devices.size() != b.devices.size())
        return false;
    for (std::size_t i = 0; i < a.devices.size(); ++i)
        if (a.devices[i].connected != b.devices[i].connected)
            return false;
    return true;
}

} // namespace monitor
