// How busy the whole process is while a test waits: a loop that spins where
// it should sleep shows as CPU time close to the wall time.
#pragma once

#include <time.h>

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

// Well under a core, generously for loaded and sanitized machines.
constexpr double kAtRest = 0.3;
