#pragma once

#include "monitorsource.h"

#include "chartscale.h"

#include <QByteArray>
#include <QJsonObject>

// What the monitor sends, made from what a Source holds: JSON for the page and
// for scripts, the metrics in Prometheus' text format, and the event stream's
// messages. Pressures go out in the display unit.
namespace monitor {

// The readings of the last 20 events in /api/status.
constexpr int kStatusEvents = 20;
// Points per series at most in /api/history: two per slice of the span.
constexpr int kHistoryPoints = 2000;

QJsonObject boxJson(const BoxView& box);
QJsonObject runJson(const RunView& run, const BoxView& box, qint64 nowMs);
// A sample: its time and each channel, null when not known.
QJsonObject readingJson(const history::Sample& sample, double unitFactor);
QJsonObject eventJson(const history::Event& event);

QByteArray statusJson(const history::ReadingHistory& history, const BoxView& box,
                      const RunView& run, qint64 nowMs);
// The span the live view would show, each channel thinned as it thins it.
QByteArray historyJson(const history::ReadingHistory& history, const BoxView& box,
                       const RunView& run, chartscale::Span span, qint64 nowMs);
QByteArray metricsText(const history::ReadingHistory& history, const BoxView& box,
                       const RunView& run, const Counters& counters);

// One message of the event stream.
QByteArray eventStreamMessage(const char* event, const QJsonObject& data);

} // namespace monitor
