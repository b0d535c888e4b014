// Aggregate getGridMap throughput of 1, 2 and 4 concurrent readers of one
// 16 MiB map, alone and while a writer replaces the map continuously.
// Readers never wait on one another in the server: each copies from the
// snapshot it took, with no lock held.  Usage: readers_bench [seconds]
#include "BenchServer.h"
#include "GridMapClient.h"
#include "rtm/manager/MemoryPolicy.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <thread>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;
  constexpr std::size_t mapBytes = 16u << 20;

  struct Result
  {
    double readMBps;
    double writeMBps;
  };

  Result run(Korvent_ptr korvent, int readers, bool withWriter, std::chrono::duration<double> window)
  {
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, writes{0};
    std::vector<std::thread> threads;
    for (int r = 0; r < readers; ++r)
      threads.emplace_back([&] {
        CORBA::Short width, height;
        while (!stop) {
          // A fresh map each time: an inout map sends what it holds.
          RTC::TimedOctetSeq map;
          korvent->getGridMap(width, height, map);
          ++reads;
        }
      });
    if (withWriter)
      threads.emplace_back([&] {
        RTC::TimedOctetSeq map = makeMap(std::vector<CORBA::Octet>(mapBytes, 7));
        while (!stop) {
          korvent->setGridMap(4096, 4096, map);
          ++writes;
        }
      });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // every thread under way
    const long reads0 = reads, writes0 = writes;
    const Clock::time_point t0 = Clock::now();
    std::this_thread::sleep_for(window);
    const long reads1 = reads, writes1 = writes;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    stop = true;
    for (std::thread& t : threads)
      t.join();
    const double perCall = static_cast<double>(mapBytes) / 1e6 / elapsed;
    return {static_cast<double>(reads1 - reads0) * perCall, static_cast<double>(writes1 - writes0) * perCall};
  }
}

int main(int argc, char** argv)
{
  const std::chrono::duration<double> window(argc > 1 ? std::atof(argv[1]) : 3.0);
  RTC::retainLargeBuffers();
  BenchServer server = startBenchServer();
  Korvent_var korvent = korventFromString(server.lines[0]);
  korvent->setGridMap(4096, 4096, makeMap(std::vector<CORBA::Octet>(mapBytes, 3)));

  std::printf("getGridMap of a 16 MiB map, aggregate over %.0f s (MB/s)\n", window.count());
  std::printf("%-8s | %-12s | %-10s | %-26s\n", "readers", "readers only", "vs 1", "with a writer: read, write");
  double single = 0.0;
  for (int readers : {1, 2, 4}) {
    const Result alone = run(korvent, readers, false, window);
    const Result mixed = run(korvent, readers, true, window);
    if (readers == 1)
      single = alone.readMBps;
    std::printf("%-8d | %12.1f | %9.2fx | %12.1f, %12.1f\n", readers, alone.readMBps, alone.readMBps / single,
                mixed.readMBps, mixed.writeMBps);
  }
  korvent = Korvent::_nil();
  server.process->stop(SIGTERM, std::chrono::seconds(20));
  return 0;
}
