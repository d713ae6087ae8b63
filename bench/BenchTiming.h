#pragma once
// Timing shared by the benchmarks: wall time depends on whatever else the
// machine runs, CPU time (user and system) much less, so both are reported.

#include <chrono>
#include <functional>

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

// Wall and CPU time of one piece of work; who as for CpuSeconds.
inline Timing Time(int who, const std::function<void()>& work)
{
    const double cpu = CpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), CpuSeconds(who) - cpu};
}
