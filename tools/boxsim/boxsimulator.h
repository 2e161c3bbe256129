#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

// A stand-in for the calibration box: the temperature controller (Modbus RTU
// slave 1 on port 4000), the N2 and O2 mass-flow controllers (ASCII, ports 4001
// and 4002), the pulse generator with its camera (port 4003) and the serial
// device server's web forms (HTTP). It runs on threads of its own; every public
// member is safe to call from any thread.
//
// It is written independently of the program's own protocol code on purpose:
// a bug shared by both would otherwise pass every test.
namespace boxsim {

enum Device
{
    Temperature = 0,
    N2 = 1,
    O2 = 2,
    Pulse = 3,
    Http = 4
};
constexpr int kDeviceCount = 5;

struct Faults
{
    bool refuse = false;           // connections are closed at once after accept
    bool silent = false;           // requests are read, never answered
    int delayMs = 0;               // every answer is sent this much later (not scaled)
    bool split = false;            // every answer goes out as two TCP segments
    int splitPauseMs = 30;         //   with this pause between them
    QByteArray garbageBefore;      // sent before every answer
    bool garbageInstead = false;   // garbageBefore replaces the answer
    int dropAfterAnswers = -1;     // close the connection after this many answers
    bool singleConnection = false; // a second connection to the port is refused
    bool badCrc = false;           // temperature: answers carry a wrong CRC
    bool exceptionAnswers = false; // temperature: Modbus exception answers (0x84 / 0x86)
    bool pulseFails = false;       // pulse: every command answers "RR1"
    int failPulses = 0;            // pulse: the next N commands answer "RR1"; counts down
    // Temperature, N2, O2: the next N set-point writes are recorded but neither
    // carried out nor answered, as if garbled on the serial line; counts down.
    int loseSetPoints = 0;
};

struct Options
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 basePort = 4000; // devices listen on basePort .. basePort + 3
    quint16 httpPort = 80;   // 0 picks an ephemeral port (see httpPort())
    double timeScale = 1.0;  // divides every simulated time constant and delay
    double thermalTimeConstantS = 60.0;
    double flowResponseS = 1.0;
    double initialTemperatureC = 22.0;
    int cameraDelayMs = 200;   // camera acknowledges this long after a '$' pulse
    bool cameraAnswers = true; // false: '$' pulses answer "RR2" after 5 s
    bool verbose = false;      // one trace line per frame on stderr
    QString logFile;           // optional line-per-frame record
    quint32 randomFaultSeed = 0;
    bool randomFaults = false; // seeded random mix of every fault mode
};

struct Event
{
    enum Kind
    {
        Connected,
        Disconnected,
        Data
    };
    qint64 msecs = 0; // monotonic, since start()
    Device device = Temperature;
    Kind kind = Data;
    quint64 connection = 0; // unique per accepted connection
    QByteArray bytes;       // Data: the bytes as received (one read)
};

// One complete request frame as the device understood it:
// - Temperature: every complete 8-byte request as received, also those the
//   slave ignores (bad CRC, another slave address);
// - N2, O2: one command line with its CR, NUL bytes removed, empty lines
//   skipped ("A\r", "*@=A\r", "A$$8\r", "A16000\r");
// - Pulse: the 4-byte command ("#010");
// - Http: the request target ("/network.html", "/Forms/save_1?...").
struct Frame
{
    qint64 msecs = 0;
    Device device = Temperature;
    quint64 connection = 0;
    QByteArray bytes;
};

// The box's true state when a pulse command arrived.
struct PulseTruth
{
    qint64 msecs = 0;
    QByteArray command;
    double sampleTemperatureC = 0;
    double n2MassFlow = 0;
    double o2MassFlow = 0;
    double airPressureBar = -1; // -1 when both flows are 0
    bool refused = false;       // answered "RR1": no light, no image
};

struct NetworkSettings
{
    QString ipAddress = QStringLiteral("192.168.1.251");
    QString subnetMask = QStringLiteral("255.255.255.0");
    QString defaultGateway = QStringLiteral("192.168.1.1");
};

class BoxSimulator
{
public:
    explicit BoxSimulator(const Options& options = Options());
    ~BoxSimulator(); // stops

    // Binds every port; false with a message when a port is taken.
    bool start(QString* error = nullptr);
    void stop();
    bool isRunning() const;

    QString host() const;
    quint16 port(Device device) const; // the HTTP port actually bound for Http

    void setFaults(Device device, const Faults& faults);
    Faults faults(Device device) const;
    void setTimeScale(double scale);
    void setCameraAnswers(bool answers);

    // Record of everything received.
    QList<Event> events() const;
    QList<Event> events(Device device) const;
    QList<Frame> frames(Device device) const; // requests reassembled per device
    QList<QByteArray> httpRequests() const;   // request targets, e.g. "/network.html"
    void clearRecord();

    // Bounded waits. They run the calling thread's event loop while waiting,
    // so a program under test on the same thread keeps working.
    bool waitFor(const std::function<bool()>& condition, int timeoutMs) const;
    // These two look at the whole record (since start or the last
    // clearRecord()), so a frame or event that came in before the call counts.
    bool waitForFrames(Device device, int count, int timeoutMs) const;
    bool waitForEvent(const std::function<bool(const Event&)>& match, int timeoutMs) const;

    // Device state.
    double sampleTemperatureC() const;
    void setSampleTemperatureC(double celsius); // jumps the sample there
    double temperatureSetPointC() const;
    QMap<int, int> registers() const; // every register written, as 16-bit values
    double massFlow(Device flowDevice) const;
    double flowSetPoint(Device flowDevice) const;
    double airPressureBar() const; // -1 when both flows are 0
    QList<PulseTruth> pulseTruth() const;
    int openConnections(Device device) const;
    NetworkSettings networkSettings() const;

    // Flow controllers: the selected gas's name and the registers written
    // with "$$W<register>=<value>".
    QByteArray gasName(Device flowDevice) const;
    QMap<int, int> flowRegisters(Device flowDevice) const;

    // Switches the seeded random mix on or off at run time; the same seed
    // replays the same mishaps, answer by answer, per device.
    void setRandomFaults(bool enabled, quint32 seed);
    // What the random mix did to each answer, per device, in order: "clean",
    // "split:<pause ms>", "delay:<ms>", "garbage", "corrupt" or "drop".
    QList<QByteArray> injectedFaults(Device device) const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace boxsim
