// A monitor over a made-up run, for the page's browser test and for looking
// at the page: readings twice a second, a point recorded every few seconds
// on a 3 x 4 grid with a reference point, now and then a warning.
//   monitor_fakerun [--address A] [--port P] [--seconds N] [--record-ms MS] [--key-file F]
// Prints the page's address on its first line, then serves until N seconds
// have passed (default 300) or it is ended.
#include "access.h"
#include "fakesource.h"
#include "monitorserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kReadingMs = 500;
constexpr qint64 kPrefillMs = 5 * 60 * 1000;

class FakeRun
{
public:
    FakeRun(FakeSource& source, int recordMs) : m_source(source), m_recordMs(recordMs)
    {
        m_source.boxView.logName = QStringLiteral("calibration-2026-12-08.csv");
        m_source.boxView.gasOn = true;
        m_source.boxView.devices[0].setPointRetries = 1;
        run::Plan plan;
        plan.temperatureAxisOn = true;
        plan.temperature = sweep::planTemperature(20, 30, 5);
        plan.pressureAxisOn = true;
        plan.pressure = sweep::planPressure(1, 4, 1, 1);
        plan.referencePointOn = true;
        plan.referenceT = 23;
        plan.referenceP = 1;
        monitor::RunView run;
        run.started = run.active = true;
        run.plan = plan;
        run.phase = QStringLiteral("Waiting for the temperature");
        run.waits.waitBeforePulseS = 2;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        run.startMs = run.lastPointMs = now - kPrefillMs;
        m_source.runView = run;
        // The last minutes before the page opened.
        for (qint64 t = now - kPrefillMs; t < now; t += kReadingMs) {
            addReading(t, false);
            if (t == now - kPrefillMs / 2)
                m_source.readings.addEvent(t, history::EventKind::Warning,
                                           QStringLiteral("No answer from the O2 controller"));
        }
        m_lastRecordMs = now;
    }

    void tick()
    {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        addReading(now, true);
        if (now - m_lastRecordMs < m_recordMs)
            return;
        m_lastRecordMs = now;
        monitor::RunView run = m_source.runView;
        const int all = progress::gridOf(run.plan).allPoints();
        if (!run.active)
            return;
        ++m_records;
        m_source.totals.pulsesSent += 3;
        m_source.addEvent(now, history::EventKind::Record,
                          QStringLiteral("Record %1 written").arg(m_records));
        if (m_records % 5 == 0)
            m_source.addEvent(now + 1, history::EventKind::Warning,
                              QStringLiteral("The flows did not settle within 60 s"));
        run.pointsDone = std::min(run.pointsDone + 1, all);
        run.lastPointMs = now;
        static const char* const phases[] = {"Waiting for the pressure",
                                             "Waiting for the flows to settle",
                                             "Waiting before the pulse", "Pulsing"};
        run.phase = QLatin1String(phases[m_records % 4]);
        run.referenceUnderWay = run.pointsDone == all - 1;
        if (run.pointsDone == all) {
            run.active = false;
            run.referenceDone = true;
            run.endMs = now;
            run.phase = QStringLiteral("Done");
        }
        m_source.setRun(run);
    }

private:
    void addReading(qint64 atMs, bool announce)
    {
        const double s = double(atMs % 3600000) / 1000.0;
        const float t = float(24.0 + 1.5 * std::sin(s / 90.0) + 0.05 * std::sin(s * 1.7));
        const float p = float(2.0 + 0.2 * std::sin(s / 40.0));
        history::Sample sample;
        sample.atMs = atMs;
        sample.v = {{t, 25.0f, p, 2.0f, float(p * 0.79), float(p * 0.21)}};
        if (announce) {
            m_source.addReading(atMs, sample.v[0], sample.v[1], sample.v[2], sample.v[3],
                                sample.v[4], sample.v[5]);
        } else {
            m_source.readings.addSample(sample);
        }
    }

    FakeSource& m_source;
    int m_recordMs;
    int m_records = 0;
    qint64 m_lastRecordMs = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.addOptions({{"address", "Loopback address to listen on.", "A", "127.0.0.1"},
                        {"port", "Port; 0 for any free one.", "P", "0"},
                        {"seconds", "Serve this long.", "N", "300"},
                        {"record-ms", "A point recorded this often.", "MS", "2000"},
                        {"key-file", "Ask the key of this file.", "F"}});
    options.process(app);

    FakeSource source;
    FakeRun run(source, options.value(QStringLiteral("record-ms")).toInt());
    monitor::MonitorServer server(source);
    QByteArray key;
    if (options.isSet(QStringLiteral("key-file"))) {
        const monitor::KeyFile file =
            monitor::readOrCreateKeyFile(options.value(QStringLiteral("key-file")));
        if (!file.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(file.error));
            return 2;
        }
        key = file.key;
    }
    monitor::Endpoint endpoint;
    endpoint.address = QHostAddress(options.value(QStringLiteral("address")));
    const QString error = server.start(
        endpoint.address, quint16(options.value(QStringLiteral("port")).toUInt()), key);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    endpoint.port = server.port();
    std::printf("%s\n", qPrintable(monitor::pageAddress(endpoint, key)));
    std::fflush(stdout);

    QTimer readings;
    QObject::connect(&readings, &QTimer::timeout, &app, [&run] { run.tick(); });
    readings.start(kReadingMs);
    QTimer::singleShot(options.value(QStringLiteral("seconds")).toInt() * 1000, &app,
                       &QCoreApplication::quit);
    return app.exec();
}
