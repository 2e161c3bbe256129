#include "pointstats.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace pointstats {

history::Channel channelOf(Quantity quantity)
{
    switch (quantity) {
    case T:
        return history::Temperature;
    case P:
        return history::Pressure;
    case N2:
        return history::N2;
    case O2:
    case kQuantities:
        break;
    }
    return history::O2;
}

ChannelStats channelStats(const std::vector<double>& values)
{
    ChannelStats stats;
    double sum = 0;
    for (const double v : values) {
        if (std::isnan(v))
            continue;
        ++stats.count;
        sum += v;
        stats.min = stats.count == 1 ? v : std::min(stats.min, v);
        stats.max = stats.count == 1 ? v : std::max(stats.max, v);
    }
    if (stats.count == 0)
        return stats;
    stats.mean = sum / stats.count;
    if (stats.count < 2)
        return stats;
    double squares = 0;
    for (const double v : values) {
        if (!std::isnan(v))
            squares += (v - stats.mean) * (v - stats.mean);
    }
    stats.sd = std::sqrt(squares / (stats.count - 1));
    return stats;
}

namespace {

double known(float v)
{
    return history::known(v) ? double(v) : kUnknown;
}

// Walks the trace once. A point runs from the end of the point before (or
// the run's start) until the pulses of its record have ended; a record taken
// back leaves its point open for the next try.
class Walker
{
public:
    explicit Walker(const std::vector<TraceLine>& lines) : m_lines(lines) {}

    std::vector<PointStats> run()
    {
        for (std::size_t i = 0; i < m_lines.size(); ++i)
            step(i);
        closeRecord();
        std::vector<PointStats> out;
        for (auto& entry : m_done)
            out.push_back(std::move(entry.second));
        return out;
    }

private:
    void step(std::size_t i)
    {
        const TraceLine& line = m_lines[i];
        switch (line.kind) {
        case Kind::Start:
        case Kind::Stop:
            closeRecord();
            newPoint();
            break;
        case Kind::Reading:
            break;
        case Kind::SetPoint:
            if (m_setPointMs < 0)
                m_setPointMs = line.atMs;
            break;
        case Kind::Reached:
            if (m_setPointMs >= 0 && m_reachedMs < 0)
                m_reachedMs = line.atMs;
            break;
        case Kind::Warning:
            m_warnings.append(line.text);
            break;
        case Kind::Record:
            closeRecord();
            openRecord(line);
            break;
        case Kind::PulsesBegin:
            if (current(line))
                settledWindow(i);
            break;
        case Kind::Pulse:
            if (current(line)) {
                m_open->pulsesSent += line.outcome != PulseOutcome::Answered;
                m_open->pulsesRefused += line.outcome == PulseOutcome::Refused;
                m_open->pulsesAnswered += line.outcome == PulseOutcome::Answered;
            }
            break;
        case Kind::PulsesEnd:
            if (current(line)) {
                firstReadingAfter(i);
                closeRecord();
                newPoint();
            }
            break;
        case Kind::TakenBack:
            takeBack(line.record);
            break;
        }
    }

    bool current(const TraceLine& line) const { return m_open && m_open->record == line.record; }

    void newPoint()
    {
        m_setPointMs = -1;
        m_reachedMs = -1;
        m_tries = 1;
        m_warnings.clear();
    }

    void openRecord(const TraceLine& line)
    {
        PointStats stats;
        stats.record = line.record;
        stats.tries = m_tries;
        stats.recordedMs = line.atMs;
        stats.setT = known(line.values[history::TemperatureSet]);
        stats.setPBar = known(line.values[history::PressureSet]);
        if (m_setPointMs >= 0 && m_reachedMs >= 0)
            stats.settlingS = double(m_reachedMs - m_setPointMs) / 1000.0;
        m_open = stats;
    }

    void closeRecord()
    {
        if (!m_open)
            return;
        m_open->warnings = m_warnings;
        m_settling[m_open->record] = {m_setPointMs, m_reachedMs};
        m_done[m_open->record] = std::move(*m_open);
        m_open.reset();
    }

    void takeBack(int record)
    {
        if (m_open && m_open->record == record) {
            m_tries = m_open->tries + 1;
            m_open.reset();
            return;
        }
        // A resume takes back a record whose sequence a crash cut short.
        const auto found = m_done.find(record);
        if (found != m_done.end()) {
            m_tries = found->second.tries + 1;
            m_warnings = found->second.warnings + m_warnings;
            m_setPointMs = m_settling[record].first;
            m_reachedMs = m_settling[record].second;
            m_done.erase(found);
            return;
        }
        ++m_tries;
    }

    // The readings of the last 10 s before the sequence, within this session,
    // from the one that showed the point reached on: on a pressure grid the
    // point before lies only seconds back, and its readings would pass for
    // this point's scatter.
    void settledWindow(std::size_t pulsesBegin)
    {
        const qint64 fromMs = m_lines[pulsesBegin].atMs - kSettledWindowMs;
        std::size_t first = pulsesBegin;
        for (std::size_t j = pulsesBegin; j-- > 0;) {
            const TraceLine& line = m_lines[j];
            if (line.kind == Kind::Start || line.atMs < fromMs)
                break;
            first = j;
            if (line.kind == Kind::Reading && m_reachedMs >= 0 && line.atMs <= m_reachedMs)
                break;
        }
        while (first < pulsesBegin && m_lines[first].kind != Kind::Reading)
            ++first;
        std::array<std::vector<double>, kQuantities> values;
        int readings = 0;
        for (std::size_t j = first; j < pulsesBegin; ++j) {
            if (m_lines[j].kind != Kind::Reading)
                continue;
            ++readings;
            for (int q = 0; q < kQuantities; ++q)
                values[q].push_back(known(m_lines[j].values[channelOf(Quantity(q))]));
        }
        m_open->windowBegin = first;
        m_open->windowEnd = pulsesBegin;
        m_open->windowReadings = readings;
        for (int q = 0; q < kQuantities; ++q)
            m_open->window[q] = channelStats(values[q]);
    }

    // None once the set points have moved on (the run's end sends its own at
    // once): such a reading says nothing of the exposure.
    void firstReadingAfter(std::size_t pulsesEnd)
    {
        for (std::size_t j = pulsesEnd + 1; j < m_lines.size(); ++j) {
            const TraceLine& line = m_lines[j];
            if (line.kind == Kind::Start || line.kind == Kind::SetPoint)
                return;
            if (line.kind != Kind::Reading)
                continue;
            for (int q = 0; q < kQuantities; ++q) {
                m_open->after[q] = known(line.values[channelOf(Quantity(q))]);
                m_open->afterMinusMean[q] = m_open->after[q] - m_open->window[q].mean;
            }
            return;
        }
    }

    const std::vector<TraceLine>& m_lines;
    std::map<int, PointStats> m_done;
    // When each closed point's set point went out and when it was reached,
    // for a take-back that opens the point again.
    std::map<int, std::pair<qint64, qint64>> m_settling;
    std::optional<PointStats> m_open;
    qint64 m_setPointMs = -1;
    qint64 m_reachedMs = -1;
    int m_tries = 1;
    QStringList m_warnings;
};

} // namespace

std::vector<PointStats> computePointStats(const std::vector<TraceLine>& lines)
{
    return Walker(lines).run();
}

} // namespace pointstats
