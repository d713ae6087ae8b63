#pragma once
// Timing shared by the benchmarks: wall time depends on whatever else the
// machine runs, CPU time (user and system) much less, so both are reported.

#include <sys/resource.h>

struct Timing {
    double wall = 0;
    double cpu = 0;
};

// CPU seconds of this process (RUSAGE_SELF) or of its finished children (RUSAGE_CHILDREN).
inline double CpuSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
