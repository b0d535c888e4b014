#ifndef BENCH_BENCHSERVER_H
#define BENCH_BENCHSERVER_H

#include "ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

// The benchmark's server process (bench_server) with the client's large
// message settings, and the lines it printed at start: the grid-map
// servant's IOR, the bare-ORB servant's IOR, the raw TCP sink's port.
struct BenchServer
{
  std::unique_ptr<ChildProcess> process;
  std::vector<std::string> lines;
};

// Starts it; throws std::runtime_error with its standard error if it does
// not print its lines in time.
BenchServer startBenchServer();

#endif // BENCH_BENCHSERVER_H
