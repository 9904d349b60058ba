// Resident memory and CPU time of this process, for bytes-per-row figures and
// for where a flood's time goes.
#pragma once

#include <cstddef>

namespace orvanel::bench {

// Resident bytes now, from /proc/self/statm; 0 when it cannot be read.
std::size_t ResidentBytes();

// Anonymous plus shared resident bytes (RssAnon + RssShmem of
// /proc/self/status): what the process holds in memory apart from file pages,
// such as the spool's mapped files, which the kernel can write out and drop.
std::size_t AnonymousAndSharedBytes();

struct CpuSplit {
  double mainThreadMs = 0;          // the UI thread
  double otherThreadsMs = 0;        // the capture thread and any others
  double otherThreadsSystemMs = 0;  // of which in the kernel
  double childrenMs = 0;            // waited-for child processes (the flood generator)
  double runningChildrenMs = 0;     // child processes still running (the socket helper of a capture)
  double machineSoftirqMs = 0;      // softirq work on all CPUs, whoever it landed on
};
// User and system time so far; other threads only while they run.
CpuSplit CpuTimes();

}  // namespace orvanel::bench
