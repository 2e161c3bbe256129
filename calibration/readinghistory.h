#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <limits>
#include <vector>

// What the box read and what happened, kept for the live view and its export.
//
// The last 8 hours stay at full resolution; older readings are folded into one
// minimum and one maximum per minute and channel, so no extreme is lost. The
// whole record stays within 8 MiB: every store has a fixed capacity worked out
// from the size of its entries. When a store is full it gets coarser rather
// than forgetting: samples are folded into minutes early, minutes are merged
// in pairs, events of one kind in a row are merged into one with a count.
namespace history {

enum Channel
{
    Temperature,
    TemperatureSet,
    Pressure,    // equivalent air pressure, bar
    PressureSet, // bar
    N2,          // slpm
    O2,          // slpm
    kChannels
};

// A value not known (no reading yet, no pressure with the gas off).
constexpr float kUnknown = std::numeric_limits<float>::quiet_NaN();
inline bool known(float v)
{
    return v == v;
}

struct Sample
{
    qint64 atMs = 0; // since the epoch, UTC
    std::array<float, kChannels> v{{kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown}};
};

// Minimum and maximum of every channel over [startMs, endMs).
struct Span
{
    qint64 startMs = 0;
    qint64 endMs = 0;
    std::array<float, kChannels> min{{kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown}};
    std::array<float, kChannels> max{{kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown}};
};

enum class EventKind : quint8
{
    Record,         // a calibration record was written
    Warning,        // a red warning in the status bar
    ConnectionLost, // the box stopped answering
};

struct Event
{
    qint64 atMs = 0;
    EventKind kind = EventKind::Warning;
    quint16 count = 1;   // events of this kind in a row merged into this one
    QByteArray textUtf8; // the status-bar text, at most kMaxEventTextBytes
};

class ReadingHistory
{
public:
    static constexpr qint64 kFullResolutionMs = 8 * 3600 * 1000;
    static constexpr qint64 kSpanMs = 60 * 1000;
    static constexpr std::size_t kBudgetBytes = 8 * 1024 * 1024;
    static constexpr int kMaxEventTextBytes = 160;
    // The budget split: samples, minute spans, events.
    static constexpr std::size_t kSampleCapacity = 5 * 1024 * 1024 / sizeof(Sample);
    static constexpr std::size_t kSpanCapacity = 1024 * 1024 / sizeof(Span);
    // An event holds its text in a heap block of its own, with a header.
    static constexpr std::size_t kEventBytes = sizeof(Event) + 32 + kMaxEventTextBytes;
    static constexpr std::size_t kEventCapacity = 2 * 1024 * 1024 / kEventBytes;

    ReadingHistory();

    // Times earlier than the last one count as the last one: the wall clock
    // may be set back, the record stays in order.
    void addSample(const Sample& sample);
    void addEvent(qint64 atMs, EventKind kind, const QString& text);
    void clear();

    // Samples at full resolution, oldest first.
    std::size_t sampleCount() const { return m_count; }
    const Sample& sample(std::size_t i) const { return m_samples[(m_head + i) % kSampleCapacity]; }
    // First sample at or after `atMs`.
    std::size_t firstSampleAtOrAfter(qint64 atMs) const;
    // Older readings, oldest first; all of them end before the first sample.
    const std::vector<Span>& spans() const { return m_spans; }
    const std::vector<Event>& events() const { return m_events; }
    // Events of each kind ever added, merged ones included.
    qint64 eventsAdded() const { return m_eventsAdded; }

    // When the record begins, and the last time seen; -1 while empty.
    qint64 firstMs() const;
    qint64 lastMs() const { return m_lastMs; }

    // Bytes the stores may reach at most, and what they hold now.
    static std::size_t capacityBytes();
    std::size_t bytesUsed() const;

private:
    void foldOldest();
    void addSpan(const Span& span);

    std::vector<Sample> m_samples; // ring of kSampleCapacity, grown on demand
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    std::vector<Span> m_spans;
    std::vector<Event> m_events;
    qint64 m_lastMs = -1;
    qint64 m_eventsAdded = 0;
};

// Thins a time series for drawing: `buckets` equal slices of [fromMs, toMs),
// each giving its minimum and its maximum (in the order they came), so a
// spike narrower than a pixel still shows. Values must come in time order;
// unknown values and values outside the range are skipped.
class MinMaxThinner
{
public:
    struct Point
    {
        qint64 atMs;
        float value;
    };

    MinMaxThinner(qint64 fromMs, qint64 toMs, int buckets);
    void add(qint64 atMs, float value);
    // The thinned points, at most two per bucket, in time order.
    std::vector<Point> finish();

private:
    void flush();

    qint64 m_from, m_to;
    int m_buckets;
    int m_current = -1;
    Point m_min{0, 0}, m_max{0, 0};
    std::vector<Point> m_out;
};

// One channel of the record over [fromMs, toMs), thinned to `buckets`: the
// minute spans give their minimum and maximum at the start and the middle
// of their minute.
std::vector<MinMaxThinner::Point> thinned(const ReadingHistory& history, Channel channel,
                                          qint64 fromMs, qint64 toMs, int buckets);

} // namespace history
