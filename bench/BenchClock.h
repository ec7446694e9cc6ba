#pragma once

#include <chrono>

#include <sys/resource.h>
#include <sys/time.h>

// The clocks every benchmark reads: wall time since a start, and CPU time (user + system) of this
// process (RUSAGE_SELF) or of its waited-for children (RUSAGE_CHILDREN), in seconds.
namespace BenchClock
{
inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto toSeconds = [](const timeval& t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}
} // namespace BenchClock
