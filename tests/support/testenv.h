#pragma once

#include <QString>

namespace testenv {

// Points the per-user settings store at a fresh temporary folder of this test
// process, so no test reads or writes the user's real settings or another
// test's. Call before the first QSettings is made.
void isolateSettings();

// A loopback address of its own for each call within this process and across
// parallel test processes: 127.x.y.z derived from the process id and a counter,
// never 127.0.0.1 (the demo's address).
QString uniqueLoopbackHost();

// Factor for upper time bounds: sanitized builds run several times slower
// (BAROTERM_TIMING_SLACK, default 1).
int timingSlack();

} // namespace testenv
