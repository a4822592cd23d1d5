// How busy the process, or one thread, is while a test waits: a loop that
// spins where it should sleep shows as CPU time close to the wall time.
#pragma once

#include <time.h>

#include <cstdio>
#include <functional>

namespace cpu_time_detail {
inline double Seconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
}  // namespace cpu_time_detail

// CPU time of every thread of the process divided by the wall time that
// wait took: about 1 for one thread spinning, near 0 for a process at rest.
inline double CpuShareWhile(const std::function<void()>& wait) {
  using cpu_time_detail::Seconds;
  const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID), wall = Seconds(CLOCK_MONOTONIC);
  wait();
  return (Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu) / (Seconds(CLOCK_MONOTONIC) - wall);
}

// The calling thread's CPU time during wait divided by the part of the wall
// time in which it was not kept waiting for a processor: about 1 for a loop
// that spins however loaded the machine is, near 0 for one that rests. 0
// where the system keeps no such account (no /proc/thread-self/schedstat).
inline double ThreadBusyShareWhile(const std::function<void()>& wait) {
  using cpu_time_detail::Seconds;
  // Nanoseconds on a processor and waiting for one, so far.
  const auto account = [](double& onCpu, double& queued) {
    std::FILE* file = std::fopen("/proc/thread-self/schedstat", "r");
    unsigned long long run = 0, delay = 0;
    const bool read = file && std::fscanf(file, "%llu %llu", &run, &delay) == 2;
    if (file) std::fclose(file);
    onCpu = static_cast<double>(run) / 1e9;
    queued = static_cast<double>(delay) / 1e9;
    return read;
  };
  double cpu0 = 0, queued0 = 0, cpu1 = 0, queued1 = 0;
  const double wall = Seconds(CLOCK_MONOTONIC);
  const bool before = account(cpu0, queued0);
  wait();
  const bool after = account(cpu1, queued1);
  const double runnable = Seconds(CLOCK_MONOTONIC) - wall - (queued1 - queued0);
  return before && after && runnable > 0 ? (cpu1 - cpu0) / runnable : 0;
}

// Well under a core, generously for loaded and sanitized machines.
constexpr double kAtRest = 0.3;
