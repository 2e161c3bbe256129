#pragma once

#include "monitorsource.h"

// A Source whose box and run the test sets by hand, as the window or
// baroterm-run would report them.
class FakeSource : public monitor::Source
{
public:
    history::ReadingHistory readings;
    monitor::BoxView boxView;
    monitor::RunView runView;
    monitor::Counters totals;

    FakeSource()
    {
        boxView.address = QStringLiteral("192.168.1.100");
        for (const char* name : {"temperature", "n2", "o2", "pulse"})
            boxView.devices.push_back({QLatin1String(name), true, 0});
    }

    const history::ReadingHistory& history() const override { return readings; }
    monitor::BoxView box() const override { return boxView; }
    monitor::RunView run() const override { return runView; }
    monitor::Counters counters() const override { return totals; }

    void addReading(qint64 atMs, float t, float tSet, float pBar, float pSetBar, float n2, float o2)
    {
        history::Sample s;
        s.atMs = atMs;
        s.v = {{t, tSet, pBar, pSetBar, n2, o2}};
        readings.addSample(s);
        emit readingAdded();
    }
    void addEvent(qint64 atMs, history::EventKind kind, const QString& text)
    {
        readings.addEvent(atMs, kind, text);
        if (kind == history::EventKind::Record)
            ++totals.recordsWritten;
        else
            ++totals.warnings;
        emit eventAdded();
    }
    void setRun(const monitor::RunView& run)
    {
        runView = run;
        emit runChanged();
    }
    void setBox(const monitor::BoxView& box)
    {
        boxView = box;
        emit boxChanged();
    }
};
