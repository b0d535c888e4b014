#ifndef BENCH_PROCESSCPU_H
#define BENCH_PROCESSCPU_H

#include <sys/types.h>

// CPU seconds used so far by the live threads of `pid`, to the nanosecond
// (the scheduler's run time, where /proc/<pid>/stat counts 10 ms ticks).
double cpuSeconds(pid_t pid);

#endif // BENCH_PROCESSCPU_H
