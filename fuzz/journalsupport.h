#pragma once

// Shared by the journal and resume targets: two journals compared field by field.

#include "fuzzsupport.h"
#include "runjournal.h"

namespace fuzzsupport {

inline bool sameAxis(const records::JournalAxis& a, const records::JournalAxis& b)
{
    return a.on == b.on && a.from == b.from && a.to == b.to && a.step == b.step &&
           a.points == b.points;
}

inline bool sameJournal(const records::JournalContents& a, const records::JournalContents& b)
{
    const records::JournalPlan& p = a.plan;
    const records::JournalPlan& q = b.plan;
    if (a.format != b.format || a.boxAddress != b.boxAddress || a.logs.log != b.logs.log ||
        a.logs.rawLog != b.logs.rawLog || !sameAxis(p.temperature, q.temperature) ||
        !sameAxis(p.pressure, q.pressure) || p.unitFactor != q.unitFactor || p.layout != q.layout ||
        p.color != q.color || p.pulsesPerPoint != q.pulsesPerPoint ||
        p.delayBetweenPulsesS != q.delayBetweenPulsesS ||
        p.waitBeforePulseS != q.waitBeforePulseS || p.extraWaitAtZeroS != q.extraWaitAtZeroS ||
        p.cameraFeedback != q.cameraFeedback || p.pulseWidth != q.pulseWidth ||
        p.referencePointOn != q.referencePointOn || p.referenceT != q.referenceT ||
        p.referenceP != q.referenceP || a.records.size() != b.records.size())
        return false;
    for (int i = 0; i < a.records.size(); ++i) {
        const records::JournalRecord& r = a.records[i];
        const records::JournalRecord& s = b.records[i];
        if (r.number != s.number || r.after.logSize != s.after.logSize ||
            r.after.rawSize != s.after.rawSize || r.after.logSha256 != s.after.logSha256 ||
            r.after.rawSha256 != s.after.rawSha256 || r.announced != s.announced ||
            r.pulsesNoted != s.pulsesNoted || r.done != s.done || r.takenBack != s.takenBack ||
            r.underWay != s.underWay)
            return false;
    }
    return true;
}

} // namespace fuzzsupport
