#pragma once

#include <QtGlobal>

// What the process costs right now, read from the kernel.
namespace procstats {

// A "Vm..." line of /proc/self/status in kB (VmRSS, VmHWM); -1 when missing.
qint64 statusKb(const char* field);
inline qint64 rssKb()
{
    return statusKb("VmRSS");
}
inline qint64 peakRssKb()
{
    return statusKb("VmHWM");
}

// Descriptors open in this process.
int openFds();

// User plus system CPU time of all threads of this process, seconds.
double cpuSeconds();

// Milliseconds from the kernel starting this process until now (10 ms steps).
double msSinceProcessStart();

} // namespace procstats
