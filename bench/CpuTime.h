#pragma once
// Processor time as the benchmarks report it: user plus system time, in seconds.
#include <sys/resource.h>

namespace trimora::bench {

// Of `who`: RUSAGE_SELF for the whole process, RUSAGE_THREAD for the calling thread.
inline double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The process's minor page faults and system time so far: what fresh memory and the kernel cost.
struct KernelShare {
    long faults = 0;
    double systemSeconds = 0;
};
inline KernelShare KernelShareSoFar() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {usage.ru_minflt,
            static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6};
}

inline double ThreadCpuSeconds() { return CpuSeconds(RUSAGE_THREAD); }

}  // namespace trimora::bench
