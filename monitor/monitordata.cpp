#include "monitordata.h"

#include "barotermversion.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace monitor {

namespace {

struct ChannelName
{
    history::Channel channel;
    const char* name;
    bool pressure; // in the display unit
};

constexpr ChannelName kChannels[] = {
    {history::Temperature, "T", false}, {history::TemperatureSet, "Tset", false},
    {history::Pressure, "P", true},     {history::PressureSet, "Pset", true},
    {history::N2, "N2", false},         {history::O2, "O2", false},
};

// A float as it was read, without the digits its conversion to double adds.
QByteArray number(double value)
{
    return QByteArray::number(value, 'g', 7);
}

QJsonValue jsonNumber(float value, double factor = 1.0)
{
    if (!history::known(value))
        return QJsonValue();
    return number(double(value) * factor).toDouble();
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray jsonString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

const char* kindName(history::EventKind kind)
{
    switch (kind) {
    case history::EventKind::Record:
        return "record";
    case history::EventKind::Warning:
        return "warning";
    case history::EventKind::ConnectionLost:
        return "connection-lost";
    }
    return "warning";
}

const history::Sample* lastSample(const history::ReadingHistory& history)
{
    const std::size_t n = history.sampleCount();
    return n ? &history.sample(n - 1) : nullptr;
}

QByteArray labelValue(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c == '\n' ? QByteArray("\\n") : QByteArray(1, c);
    }
    return out;
}

class Metrics
{
public:
    void family(const char* name, const char* type, const char* help)
    {
        m_text +=
            QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char* name, const QByteArray& labels, const QByteArray& value)
    {
        m_text += name;
        if (!labels.isEmpty())
            m_text += '{' + labels + '}';
        m_text += ' ' + value + '\n';
    }
    void gauge(const char* name, const char* help, const QByteArray& value,
               const QByteArray& labels = QByteArray())
    {
        family(name, "gauge", help);
        sample(name, labels, value);
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

QByteArray metricValue(float value, double factor = 1.0)
{
    return history::known(value) ? number(double(value) * factor) : QByteArray("NaN");
}

} // namespace

QJsonObject boxJson(const BoxView& box)
{
    QJsonArray devices;
    for (const Device& d : box.devices)
        devices.append(QJsonObject{{QStringLiteral("name"), d.name},
                                   {QStringLiteral("connected"), d.connected}});
    return QJsonObject{
        {QStringLiteral("address"), box.address}, {QStringLiteral("log"), box.logName},
        {QStringLiteral("unit"), box.unitLabel},  {QStringLiteral("unitFactor"), box.unitFactor},
        {QStringLiteral("gasOn"), box.gasOn},     {QStringLiteral("devices"), devices}};
}

QJsonObject runJson(const RunView& run, const BoxView& box, qint64 nowMs)
{
    QJsonObject out{{QStringLiteral("started"), run.started},
                    {QStringLiteral("active"), run.active},
                    {QStringLiteral("phase"), run.phase}};
    if (!run.started) {
        out.insert(QStringLiteral("pointsDone"), 0);
        out.insert(QStringLiteral("points"), 0);
        return out;
    }
    const progress::Grid grid = progress::gridOf(run.plan);
    out.insert(QStringLiteral("pointsDone"), run.pointsDone);
    out.insert(QStringLiteral("points"), grid.allPoints());
    const qint64 until = run.active || run.endMs < 0 ? nowMs : run.endMs;
    out.insert(QStringLiteral("elapsedMs"), double(std::max<qint64>(0, until - run.startMs)));
    if (run.active) {
        const progress::Estimate e =
            progress::estimateRemaining(progress::fixedWaitsPerPoint(run.plan, run.waits),
                                        run.pointsDone, run.startMs, run.lastPointMs, nowMs);
        out.insert(QStringLiteral("remainingMs"), double(e.remainingMs));
        // Without a point done the fixed waits only give the least it takes.
        out.insert(QStringLiteral("remainingMeasured"), e.measured);
    }

    const progress::GridHeadings headings =
        progress::gridHeadings(run.plan, box.unitFactor, box.unitLabel);
    static const char* const stateNames[] = {"waiting", "current", "done"};
    const int done = std::min(run.pointsDone, grid.gridPoints());
    QJsonArray cells;
    for (int r = 0; r < grid.temperatures; ++r) {
        QJsonArray row;
        for (int c = 0; c < grid.pressures; ++c)
            row.append(QLatin1String(stateNames[int(progress::pointState(
                grid, done, run.active, run.referenceUnderWay, run.referenceDone, r, c))]));
        cells.append(row);
    }
    if (grid.referencePoint)
        cells.append(QJsonArray{QLatin1String(stateNames[int(progress::pointState(
            grid, done, run.active, run.referenceUnderWay, run.referenceDone, -1, 0))])});
    out.insert(
        QStringLiteral("grid"),
        QJsonObject{{QStringLiteral("rows"), QJsonArray::fromStringList(headings.rows)},
                    {QStringLiteral("columns"), QJsonArray::fromStringList(headings.columns)},
                    {QStringLiteral("cells"), cells}});
    return out;
}

QJsonObject readingJson(const history::Sample& sample, double unitFactor)
{
    QJsonObject out{{QStringLiteral("atMs"), double(sample.atMs)}};
    for (const ChannelName& c : kChannels)
        out.insert(QLatin1String(c.name),
                   jsonNumber(sample.v[c.channel], c.pressure ? unitFactor : 1.0));
    return out;
}

QJsonObject eventJson(const history::Event& event)
{
    return QJsonObject{{QStringLiteral("atMs"), double(event.atMs)},
                       {QStringLiteral("kind"), QLatin1String(kindName(event.kind))},
                       {QStringLiteral("count"), int(event.count)},
                       {QStringLiteral("text"), QString::fromUtf8(event.textUtf8)}};
}

QByteArray statusJson(const history::ReadingHistory& history, const BoxView& box,
                      const RunView& run, qint64 nowMs)
{
    QJsonObject readings;
    if (const history::Sample* last = lastSample(history)) {
        readings = readingJson(*last, box.unitFactor);
        readings.insert(QStringLiteral("ageMs"), double(std::max<qint64>(0, nowMs - last->atMs)));
    }
    QJsonArray events;
    const std::vector<history::Event>& all = history.events();
    for (std::size_t i = all.size() > kStatusEvents ? all.size() - kStatusEvents : 0;
         i < all.size(); ++i)
        events.append(eventJson(all[i]));
    return compact(
        QJsonObject{{QStringLiteral("nowMs"), double(nowMs)},
                    {QStringLiteral("box"), boxJson(box)},
                    {QStringLiteral("readings"), readings},
                    {QStringLiteral("run"), runJson(run, box, nowMs)},
                    {QStringLiteral("events"), events},
                    {QStringLiteral("versions"),
                     QJsonObject{{QStringLiteral("program"), QStringLiteral(BAROTERM_VERSION)},
                                 {QStringLiteral("qt"), QLatin1String(qVersion())}}}});
}

QByteArray historyJson(const history::ReadingHistory& history, const BoxView& box,
                       const RunView& run, chartscale::Span span, qint64 nowMs)
{
    chartscale::WindowInputs in;
    in.span = span;
    in.nowMs = nowMs;
    in.firstReadingMs = history.firstMs();
    in.lastReadingMs = history.lastMs();
    if (run.started) {
        in.runStartMs = run.startMs;
        in.runEndMs = run.active ? -1 : run.endMs;
    }
    const chartscale::Window window = chartscale::timeWindow(in);

    // Written by hand: up to 12,000 numbers, which a JSON document would
    // build as as many objects first.
    QByteArray out = "{\"fromMs\":" + QByteArray::number(window.fromMs) +
                     ",\"toMs\":" + QByteArray::number(window.toMs) +
                     ",\"unit\":" + jsonString(box.unitLabel) + ",\"series\":{";
    for (const ChannelName& c : kChannels) {
        if (c.channel != kChannels[0].channel)
            out += ',';
        out += '"' + QByteArray(c.name) + "\":[";
        const double factor = c.pressure ? box.unitFactor : 1.0;
        bool first = true;
        // The window's end is the last reading itself, and it is drawn too.
        for (const auto& p : history::thinned(history, c.channel, window.fromMs, window.toMs + 1,
                                              kHistoryPoints / 2)) {
            if (!first)
                out += ',';
            first = false;
            out += '[' + QByteArray::number(p.atMs) + ',' + number(double(p.value) * factor) + ']';
        }
        out += ']';
    }
    QJsonArray events;
    for (const history::Event& e : history.events()) {
        if (e.atMs >= window.fromMs && e.atMs <= window.toMs)
            events.append(eventJson(e));
    }
    out += "},\"events\":" + QJsonDocument(events).toJson(QJsonDocument::Compact) + '}';
    return out;
}

QByteArray metricsText(const history::ReadingHistory& history, const BoxView& box,
                       const RunView& run, const Counters& counters)
{
    history::Sample none;
    const history::Sample& s = lastSample(history) ? *lastSample(history) : none;
    const QByteArray unit = "unit=\"" + labelValue(box.unitLabel) + '"';
    Metrics m;
    m.gauge("baroterm_temperature_celsius", "The last temperature reading.",
            metricValue(s.v[history::Temperature]));
    m.gauge("baroterm_temperature_setpoint_celsius", "The temperature set point.",
            metricValue(s.v[history::TemperatureSet]));
    m.gauge("baroterm_pressure", "The equivalent air pressure, in the display unit.",
            metricValue(s.v[history::Pressure], box.unitFactor), unit);
    m.gauge("baroterm_pressure_setpoint", "The pressure set point, in the display unit.",
            metricValue(s.v[history::PressureSet], box.unitFactor), unit);
    m.family("baroterm_flow_slpm", "gauge", "The mass flow read from each controller.");
    m.sample("baroterm_flow_slpm", "gas=\"N2\"", metricValue(s.v[history::N2]));
    m.sample("baroterm_flow_slpm", "gas=\"O2\"", metricValue(s.v[history::O2]));
    m.gauge("baroterm_gas_on", "1 while the gas is on.", box.gasOn ? "1" : "0");
    m.family("baroterm_device_up", "gauge", "1 while the device answers.");
    for (const Device& d : box.devices)
        m.sample("baroterm_device_up", "device=\"" + labelValue(d.name) + '"',
                 d.connected ? "1" : "0");
    const progress::Grid grid = progress::gridOf(run.plan);
    m.gauge("baroterm_run_points_done", "Points of the last run done.",
            QByteArray::number(run.started ? run.pointsDone : 0));
    m.gauge("baroterm_run_points", "Points of the last run in all.",
            QByteArray::number(run.started ? grid.allPoints() : 0));
    m.gauge("baroterm_run_active", "1 while a run goes on.", run.active ? "1" : "0");
    m.family("baroterm_records_written_total", "counter", "Calibration records written.");
    m.sample("baroterm_records_written_total", {}, QByteArray::number(counters.recordsWritten));
    m.family("baroterm_warnings_total", "counter", "Warnings shown.");
    m.sample("baroterm_warnings_total", {}, QByteArray::number(counters.warnings));
    m.family("baroterm_setpoint_retries_total", "counter", "Set points sent again, per device.");
    for (const Device& d : box.devices)
        m.sample("baroterm_setpoint_retries_total", "device=\"" + labelValue(d.name) + '"',
                 QByteArray::number(d.setPointRetries));
    m.family("baroterm_pulses_sent_total", "counter", "Pulses sent to the generator.");
    m.sample("baroterm_pulses_sent_total", {}, QByteArray::number(counters.pulsesSent));
    m.family("baroterm_pulses_unanswered_total", "counter", "Pulses the generator did not answer.");
    m.sample("baroterm_pulses_unanswered_total", {}, QByteArray::number(counters.pulsesUnanswered));
    return m.text();
}

QByteArray eventStreamMessage(const char* event, const QJsonObject& data)
{
    // Compact JSON holds no line break, so it is one data line.
    return QByteArray("event: ") + event + "\ndata: " + compact(data) + "\n\n";
}

RunView runViewOf(const progress::RunTracker& tracker, const progress::PhaseInputs& phase,
                  const progress::FixedWaits& waits)
{
    RunView v;
    v.started = tracker.started();
    v.active = tracker.active();
    v.phase = progress::phaseText(phase);
    v.plan = tracker.plan();
    v.pointsDone = tracker.pointsDone();
    v.referenceUnderWay = tracker.referenceUnderWay();
    v.referenceDone = tracker.referenceDone();
    v.startMs = tracker.startMs();
    v.endMs = tracker.endMs();
    v.lastPointMs = tracker.lastPointMs();
    v.waits = waits;
    return v;
}

} // namespace monitor
