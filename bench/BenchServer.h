#ifndef BENCH_BENCHSERVER_H
#define BENCH_BENCHSERVER_H

#include "ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

// The benchmark's server process (bench_server) with the client's large
// message settings, and the lines it printed at start: the grid-map
// servant's IOR, the bare-ORB servant's IOR, the raw sink's TCP port (or,
// on a Unix-domain socket, its path).
struct BenchServer
{
  std::unique_ptr<ChildProcess> process;
  std::vector<std::string> lines;
};

// Starts it listening on the loopback over TCP, or, given a folder, only on
// Unix-domain sockets in it (the ORB's and the raw sink's); throws
// std::runtime_error with its standard error if it does not print its
// lines in time.
BenchServer startBenchServer(const std::string& unixFolder = "");

#endif // BENCH_BENCHSERVER_H
