#include "readinghistory.h"

#include <algorithm>

namespace history {

namespace {

void widen(Span& span, const std::array<float, kChannels>& low,
           const std::array<float, kChannels>& high)
{
    for (int c = 0; c < kChannels; ++c) {
        if (known(low[c]) && !(span.min[c] <= low[c]))
            span.min[c] = low[c];
        if (known(high[c]) && !(span.max[c] >= high[c]))
            span.max[c] = high[c];
    }
}

QByteArray clippedUtf8(const QString& text, int maxBytes)
{
    QString clipped = text;
    QByteArray bytes = clipped.toUtf8();
    while (bytes.size() > maxBytes) {
        clipped.chop(1);
        bytes = clipped.toUtf8();
    }
    // The conversion may leave room for three bytes a character.
    bytes.squeeze();
    return bytes;
}

} // namespace

ReadingHistory::ReadingHistory()
{
    // Reserved once, so the stores never grow past their share of the budget.
    m_samples.reserve(kSampleCapacity);
    m_spans.reserve(kSpanCapacity);
    m_events.reserve(kEventCapacity);
}

void ReadingHistory::clear()
{
    m_samples.clear();
    m_head = m_count = 0;
    m_spans.clear();
    m_events.clear();
    m_lastMs = -1;
    m_eventsAdded = 0;
}

void ReadingHistory::addSample(const Sample& sample)
{
    Sample s = sample;
    s.atMs = std::max(s.atMs, m_lastMs);
    m_lastMs = s.atMs;
    while (m_count > 0 &&
           (m_count == kSampleCapacity || this->sample(0).atMs < s.atMs - kFullResolutionMs))
        foldOldest();
    if (m_samples.size() < kSampleCapacity) {
        m_samples.push_back(s);
    } else {
        m_samples[(m_head + m_count) % kSampleCapacity] = s;
    }
    ++m_count;
}

void ReadingHistory::foldOldest()
{
    const Sample& oldest = sample(0);
    if (!m_spans.empty() && oldest.atMs < m_spans.back().endMs) {
        widen(m_spans.back(), oldest.v, oldest.v);
    } else {
        Span span;
        span.startMs = oldest.atMs - ((oldest.atMs % kSpanMs) + kSpanMs) % kSpanMs;
        span.endMs = span.startMs + kSpanMs;
        widen(span, oldest.v, oldest.v);
        addSpan(span);
    }
    m_head = (m_head + 1) % kSampleCapacity;
    --m_count;
}

void ReadingHistory::addSpan(const Span& span)
{
    if (m_spans.size() == kSpanCapacity) {
        // Weeks of readings: every two neighbours become one, extremes kept.
        std::size_t out = 0;
        for (std::size_t i = 0; i < m_spans.size(); i += 2) {
            Span merged = m_spans[i];
            if (i + 1 < m_spans.size()) {
                merged.endMs = m_spans[i + 1].endMs;
                widen(merged, m_spans[i + 1].min, m_spans[i + 1].max);
            }
            m_spans[out++] = merged;
        }
        m_spans.resize(out);
    }
    m_spans.push_back(span);
}

void ReadingHistory::addEvent(qint64 atMs, EventKind kind, const QString& text)
{
    ++m_eventsAdded;
    atMs = std::max(atMs, m_lastMs);
    m_lastMs = atMs;
    if (m_events.size() == kEventCapacity) {
        // The oldest two of one kind in a row become one; without such a
        // pair the oldest two do.
        std::size_t at = 0;
        for (std::size_t i = 0; i + 1 < m_events.size(); ++i) {
            if (m_events[i].kind == m_events[i + 1].kind) {
                at = i;
                break;
            }
        }
        Event& first = m_events[at];
        first.count = quint16(std::min(0xFFFF, first.count + m_events[at + 1].count));
        m_events.erase(m_events.begin() + std::ptrdiff_t(at + 1));
    }
    Event event;
    event.atMs = atMs;
    event.kind = kind;
    event.textUtf8 = clippedUtf8(text, kMaxEventTextBytes);
    m_events.push_back(event);
}

std::size_t ReadingHistory::firstSampleAtOrAfter(qint64 atMs) const
{
    std::size_t lo = 0, hi = m_count;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (sample(mid).atMs < atMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

qint64 ReadingHistory::firstMs() const
{
    qint64 first = -1;
    if (!m_spans.empty())
        first = m_spans.front().startMs;
    else if (m_count > 0)
        first = sample(0).atMs;
    if (!m_events.empty() && (first < 0 || m_events.front().atMs < first))
        first = m_events.front().atMs;
    return first;
}

std::size_t ReadingHistory::capacityBytes()
{
    return kSampleCapacity * sizeof(Sample) + kSpanCapacity * sizeof(Span) +
           kEventCapacity * kEventBytes;
}

std::size_t ReadingHistory::bytesUsed() const
{
    std::size_t bytes = m_samples.capacity() * sizeof(Sample) + m_spans.capacity() * sizeof(Span) +
                        m_events.capacity() * sizeof(Event);
    for (const Event& event : m_events)
        bytes += 32 + std::size_t(event.textUtf8.capacity());
    return bytes;
}

MinMaxThinner::MinMaxThinner(qint64 fromMs, qint64 toMs, int buckets)
    : m_from(fromMs), m_to(std::max(toMs, fromMs + 1)), m_buckets(std::max(buckets, 1))
{
    m_out.reserve(std::size_t(m_buckets) * 2);
}

void MinMaxThinner::add(qint64 atMs, float value)
{
    if (!known(value) || atMs < m_from || atMs >= m_to)
        return;
    const int bucket = int((atMs - m_from) * m_buckets / (m_to - m_from));
    if (bucket != m_current) {
        flush();
        m_current = bucket;
        m_min = m_max = {atMs, value};
        return;
    }
    if (value < m_min.value)
        m_min = {atMs, value};
    if (value > m_max.value)
        m_max = {atMs, value};
}

void MinMaxThinner::flush()
{
    if (m_current < 0)
        return;
    const bool minFirst = m_min.atMs <= m_max.atMs;
    m_out.push_back(minFirst ? m_min : m_max);
    if (m_min.atMs != m_max.atMs || m_min.value != m_max.value)
        m_out.push_back(minFirst ? m_max : m_min);
    m_current = -1;
}

std::vector<MinMaxThinner::Point> MinMaxThinner::finish()
{
    flush();
    return std::move(m_out);
}

std::vector<MinMaxThinner::Point> thinned(const ReadingHistory& history, Channel channel,
                                          qint64 fromMs, qint64 toMs, int buckets)
{
    MinMaxThinner thinner(fromMs, toMs, buckets);
    for (const Span& span : history.spans()) {
        if (span.endMs <= fromMs)
            continue;
        if (span.startMs >= toMs)
            break;
        thinner.add(span.startMs, span.min[channel]);
        thinner.add(span.startMs + (span.endMs - span.startMs) / 2, span.max[channel]);
    }
    for (std::size_t i = history.firstSampleAtOrAfter(fromMs); i < history.sampleCount(); ++i) {
        const Sample& s = history.sample(i);
        if (s.atMs >= toMs)
            break;
        thinner.add(s.atMs, s.v[channel]);
    }
    return thinner.finish();
}

} // namespace history
