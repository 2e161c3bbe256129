#include "faultschedule.h"

#include <QDoubleSpinBox>

#include <algorithm>
#include <cmath>

using boxsim::Device;

namespace {

// Every kind comes round once per deck; "clean" more often, so that readings
// still get through between the mishaps.
const QStringList kControllerDeck = {
    "clean", "clean",          "clean",           "refuse",     "silent",           "delay",
    "split", "garbage-before", "garbage-instead", "drop-after", "single-connection"};
const QStringList kTemperatureOnly = {"bad-crc", "exception"};
// "fails": the generator refuses the pulse ("RR1"); "fails-twice": this one
// and the next of the same point, so that a point of two pulses loses both.
const QStringList kPulseDeck = {"clean",    "clean",          "clean",           "silent",
                                "refuse",   "fails",          "fails-twice",     "delay",
                                "split",    "garbage-before", "garbage-instead", "drop-at-request",
                                "no-camera"};

// The box away, and back: as long as its device server takes to restart, and
// a few times a calibration.
constexpr int kOutageMinMs = 1000;
constexpr int kOutageMaxMs = 5000;
constexpr int kOutageGapMinMs = 20000;
constexpr int kOutageGapMaxMs = 50000;
constexpr int kRestartRetryMs = 200;
// An operator reads "Connection problem" this long before pressing Ok.
constexpr int kReadingMinMs = 500;
constexpr int kReadingMaxMs = 3000;

// Junk that may look like the start of an answer: the slave address and the
// function codes, the unit letter, line ends and zero bytes.
const char kControllerJunk[] = "\x01\x04\x06\x08\x84\xFF\x00\r\nA +-.9?";
// No status word can be spelled from these, and no zero byte hides one.
const char kPulseJunk[] = "#$?~!\r\n\xFF 0123";

const char* deviceName(Device device)
{
    static const char* const names[] = {"temperature", "n2", "o2", "pulse", "http"};
    return names[int(device)];
}

// Kinds that make a controller ignore a write: a refused connection never
// carries it, and the temperature controller answers an exception instead.
bool losesWrites(const QString& kind)
{
    return kind == "refuse" || kind == "exception" || kind == "single-connection";
}

QString heldBack(Device device)
{
    return QStringLiteral("%1:held-back").arg(QLatin1String(deviceName(device)));
}

} // namespace

FaultSchedule::FaultSchedule(boxsim::BoxSimulator* box, quint32 seed) : m_box(box)
{
    for (int d = 0; d < boxsim::kDeviceCount; ++d) {
        std::seed_seq sequence{seed, quint32(d), 0x50A6u};
        m_rngs[size_t(d)].seed(sequence);
        m_current[size_t(d)] = QStringLiteral("clean");
    }
    std::seed_seq outageSequence{seed, 0x0D7A6Eu};
    m_outageRng.seed(outageSequence);
    std::seed_seq operatorSequence{seed, 0x0B5E7Au};
    m_operatorRng.seed(operatorSequence);
    m_outageTimer.setSingleShot(true);
    connect(&m_outageTimer, &QTimer::timeout, this, [this] {
        if (boxAway())
            bringBoxBack(true);
        else
            takeBoxAway();
    });
    m_clock.start();
    for (int d = 0; d < 3; ++d) {
        QTimer& timer = m_phaseTimers[size_t(d)];
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [this, d] { nextPhase(Device(d)); });
    }
}

void FaultSchedule::start()
{
    for (int d = 0; d < 3; ++d)
        nextPhase(Device(d));
    scheduleOutage();
}

void FaultSchedule::stop()
{
    for (QTimer& timer : m_phaseTimers)
        timer.stop();
    m_outageTimer.stop();
    if (boxAway())
        bringBoxBack(false);
    for (int d = 0; d < boxsim::kDeviceCount; ++d) {
        m_box->setFaults(Device(d), boxsim::Faults());
        m_current[size_t(d)] = QStringLiteral("clean");
    }
    m_box->setCameraAnswers(true);
}

void FaultSchedule::scheduleOutage()
{
    if (!m_outagesOn)
        return;
    const quint32 span = kOutageGapMaxMs - kOutageGapMinMs + 1;
    m_outageTimer.start(kOutageGapMinMs + int(m_outageRng() % span));
}

void FaultSchedule::takeBoxAway()
{
    if (m_outageHook)
        m_outageHook(true);
    Outage outage;
    outage.beganMs = nowMs();
    m_outages << outage;
    m_box->stop();
    const quint32 span = kOutageMaxMs - kOutageMinMs + 1;
    m_outageTimer.start(kOutageMinMs + int(m_outageRng() % span));
}

void FaultSchedule::bringBoxBack(bool scheduleNext)
{
    // Before start(), which seeds the mix.
    if (m_mixSeed != 0)
        m_box->setRandomFaults(true, m_mixSeed + quint32(m_outages.size()));
    QString error;
    if (!m_box->start(&error)) {
        // The outage only grows longer; the run's own time limit bounds it.
        qWarning("soak: the box did not come back (%s); trying again", qPrintable(error));
        m_outageTimer.start(kRestartRetryMs);
        return;
    }
    m_outages.last().endedMs = nowMs();
    if (m_outageHook)
        m_outageHook(false);
    if (scheduleNext)
        scheduleOutage();
}

bool FaultSchedule::awayBetween(qint64 fromMs, qint64 toMs) const
{
    for (const Outage& outage : m_outages) {
        if (outage.beganMs <= toMs && (outage.endedMs < 0 || outage.endedMs >= fromMs))
            return true;
    }
    return false;
}

int FaultSchedule::operatorReadingMs()
{
    const quint32 span = kReadingMaxMs - kReadingMinMs + 1;
    return kReadingMinMs + int(m_operatorRng() % span);
}

void FaultSchedule::guardSetPoint(const QDoubleSpinBox* setT)
{
    m_setT = setT;
    connect(setT, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            [this] { setPointMoving(); });
}

void FaultSchedule::setPointMoving()
{
    // The window moves the spin box 100 to 200 ms before it sends; the
    // command takes about a second.
    m_writeHold = QDeadlineTimer(3000);
    liftWriteLosses(Device::Temperature);
}

void FaultSchedule::holdFlowWrites(bool hold)
{
    m_holdFlowWrites = hold;
    if (hold) {
        liftWriteLosses(Device::N2);
        liftWriteLosses(Device::O2);
    }
}

void FaultSchedule::liftWriteLosses(Device device)
{
    if (!m_guards || !losesWrites(m_current[size_t(device)]))
        return;
    m_box->setFaults(device, boxsim::Faults());
    m_current[size_t(device)] = QStringLiteral("clean");
    ++m_applied[heldBack(device)];
}

bool FaultSchedule::writesMayBeLost(Device device) const
{
    if (!m_guards)
        return true;
    if (device != Device::Temperature)
        return !m_holdFlowWrites;
    if (!m_writeHold.hasExpired())
        return false;
    return !m_setT || std::fabs(m_box->temperatureSetPointC() - m_setT->value()) < 0.06;
}

QString FaultSchedule::draw(Device device)
{
    QStringList& deck = m_decks[size_t(device)];
    if (deck.isEmpty()) {
        if (device == Device::Pulse) {
            deck = kPulseDeck;
        } else {
            deck = kControllerDeck;
            if (device == Device::Temperature)
                deck += kTemperatureOnly;
        }
        std::shuffle(deck.begin(), deck.end(), m_rngs[size_t(device)]);
    }
    return deck.takeFirst();
}

QByteArray FaultSchedule::junk(Device device, int length, const QByteArray& alphabet)
{
    QByteArray bytes;
    for (int i = 0; i < length; ++i)
        bytes += alphabet.at(int(m_rngs[size_t(device)]() % quint32(alphabet.size())));
    return bytes;
}

boxsim::Faults FaultSchedule::faultsFor(Device device, const QString& kind)
{
    std::mt19937& rng = m_rngs[size_t(device)];
    const bool pulse = device == Device::Pulse;
    const QByteArray alphabet = pulse ? QByteArray(kPulseJunk, sizeof kPulseJunk - 1)
                                      : QByteArray(kControllerJunk, sizeof kControllerJunk - 1);
    boxsim::Faults f;
    if (kind == "refuse") {
        f.refuse = true;
    } else if (kind == "silent") {
        f.silent = true;
    } else if (kind == "delay") {
        // A pulse answer still comes well inside the window's wait for it.
        f.delayMs = pulse ? 1500 + int(rng() % 2500) : 200 + int(rng() % 700);
    } else if (kind == "split") {
        f.split = true;
        f.splitPauseMs = pulse ? 50 + int(rng() % 250) : 10 + int(rng() % 90);
    } else if (kind == "garbage-before") {
        f.garbageBefore = junk(device, 1 + int(rng() % 8), alphabet);
    } else if (kind == "garbage-instead") {
        f.garbageInstead = true;
        if (rng() % 2)
            f.garbageBefore = junk(device, 1 + int(rng() % 12), alphabet);
    } else if (kind == "drop-after") {
        f.dropAfterAnswers = int(rng() % 4);
    } else if (kind == "drop-at-request") {
        f.dropAfterAnswers = 0;
    } else if (kind == "single-connection") {
        f.singleConnection = true;
    } else if (kind == "bad-crc") {
        f.badCrc = true;
    } else if (kind == "exception") {
        f.exceptionAnswers = true;
    } else if (kind == "fails" || kind == "fails-twice") {
        f.pulseFails = true;
    }
    return f;
}

void FaultSchedule::nextPhase(Device device)
{
    QString kind = draw(device);
    if (losesWrites(kind) && !writesMayBeLost(device)) {
        ++m_applied[heldBack(device)];
        kind = QStringLiteral("clean");
    }
    m_box->setFaults(device, faultsFor(device, kind));
    m_current[size_t(device)] = kind;
    ++m_applied[QStringLiteral("%1:%2").arg(QLatin1String(deviceName(device)), kind)];
    m_phaseTimers[size_t(device)].start(400 + int(m_rngs[size_t(device)]() % 1600));
}

QString FaultSchedule::armPulse(bool cameraFeedback, bool lastOfPoint)
{
    QString kind;
    if (m_refusalsOwed > 0) {
        --m_refusalsOwed;
        kind = QStringLiteral("fails");
    } else {
        kind = draw(Device::Pulse);
        if (kind == "fails-twice" && lastOfPoint)
            kind = QStringLiteral("fails");
        else if (kind == "fails-twice")
            m_refusalsOwed = 1;
    }
    // Without the camera hand-shake the generator never waits for the camera.
    if (kind == "no-camera" && !cameraFeedback)
        kind = QStringLiteral("clean");
    m_box->setCameraAnswers(kind != "no-camera");
    m_box->setFaults(Device::Pulse, faultsFor(Device::Pulse, kind));
    m_current[Device::Pulse] = kind;
    ++m_applied[QStringLiteral("pulse:%1").arg(kind)];
    return kind;
}
