// The map on ROS 2's DDS as a Fast DDS subscriber on the loopback sees it:
// the time from calling setRegion to the update in the subscriber's hands
// (median and worst), beside setRegion's own round trip measured in the
// same run; the time a 16 and a 64 MiB map take to reach a subscriber that
// starts after the map was stored (its whole start-up and discovery
// included), beside the same for a 1 MiB map; and KorventComp's memory
// holding the 64 MiB map with the ROS 2 side on and off; and that memory
// while a subscriber that stopped acknowledging (SIGSTOP) is sent 8 maps of
// 16 MiB, and whether it gets the last one once it goes on.
// Usage: ros2_bench [updates]
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "RosMapListener.h"

#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
  using Clock = std::chrono::system_clock;
  using namespace std::chrono_literals;

  long long nowNs()
  {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
  }

  double median(std::vector<double> values)
  {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }

  std::vector<std::string> componentArgs(int domain, bool ros2)
  {
    return {"-o", std::string("korvent.ros2.enable:") + (ros2 ? "YES" : "NO"), "-o",
            "korvent.ros2.domain:" + std::to_string(domain), "-o", "korvent.ros2.localhost_only:YES"};
  }

  // A grey image of `side` x `side` with all three kinds of cell.
  std::vector<CORBA::Octet> imageOf(int side)
  {
    std::vector<CORBA::Octet> grey(static_cast<std::size_t>(side) * side);
    for (std::size_t i = 0; i < grey.size(); ++i)
      grey[i] = static_cast<CORBA::Octet>((i % side) * 37 + (i / side) * 11);
    return grey;
  }

  // CRC-32 of the grid a subscriber should get.
  unsigned long expectedCrc(const std::vector<CORBA::Octet>& grey, int side)
  {
    std::string grid;
    for (int cell : rosGridOf(std::string(grey.begin(), grey.end()), side, side))
      grid.push_back(static_cast<char>(cell));
    return crc32(0, reinterpret_cast<const Bytef*>(grid.data()), static_cast<uInt>(grid.size()));
  }

  void lateJoin(int domain, int side)
  {
    RunningKorvent korvent(componentArgs(domain, true));
    const std::vector<CORBA::Octet> grey = imageOf(side);
    korvent.service->setGridMap(static_cast<short>(side), static_cast<short>(side), makeMap(grey));
    const long long start = nowNs();
    RosMapListener listener(domain);
    const std::optional<std::string> line = listener.find("map ", 600s);
    if (!line) {
      std::printf("%5d MiB map: did not arrive within 600 s\n", side * side >> 20);
      return;
    }
    const std::vector<std::string> fields = fieldsOf(*line);
    const bool intact = fields[14] == "crc32:" + std::to_string(expectedCrc(grey, side));
    std::printf("%8.1f MiB map to a late subscriber: %8.3f s (cells %s); KorventComp VmRSS %ld MiB, VmHWM %ld MiB\n",
                side * double(side) / (1 << 20), (std::stoll(fields[15]) - start) / 1e9,
                intact ? "intact" : "WRONG", procStatus(korvent.process->pid(), "VmRSS") >> 10,
                procStatus(korvent.process->pid(), "VmHWM") >> 10);
  }

  void stalledSubscriber(int domain)
  {
    constexpr int side = 4096;
    RunningKorvent korvent(componentArgs(domain, true));
    korvent.service->setGridMap(side, side, makeMap(imageOf(side)));
    RosMapListener listener(domain);
    if (!listener.find("map ", 600s))
      return;
    const pid_t pid = korvent.process->pid();
    std::printf("16 MiB maps, subscriber stopped: VmRSS %ld MiB before", procStatus(pid, "VmRSS") >> 10);
    kill(listener.pid(), SIGSTOP);
    std::vector<CORBA::Octet> grey = imageOf(side);
    for (int i = 1; i <= 8; ++i) {
      std::fill(grey.begin(), grey.begin() + i * side, static_cast<CORBA::Octet>(0));
      const auto start = std::chrono::steady_clock::now();
      korvent.service->setGridMap(side, side, makeMap(grey));
      std::printf(i == 1 ? ", setGridMap %.0f ms" : " %.0f ms",
                  std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      std::this_thread::sleep_for(1s);
    }
    std::this_thread::sleep_for(5s);
    std::printf(", after 8 maps %ld MiB (VmHWM %ld MiB)", procStatus(pid, "VmRSS") >> 10, procStatus(pid, "VmHWM") >> 10);
    kill(listener.pid(), SIGCONT);
    std::optional<std::string> line;
    const std::string last = "crc32:" + std::to_string(expectedCrc(grey, side));
    while ((line = listener.find("map ", 120s)) && fieldsOf(*line)[14] != last) {
    }
    std::printf("; once continued it %s the last map\n", line ? "got" : "did NOT get");
  }

  void memoryWithout(int domain, int side)
  {
    RunningKorvent korvent(componentArgs(domain, false));
    korvent.service->setGridMap(static_cast<short>(side), static_cast<short>(side), makeMap(imageOf(side)));
    std::printf("%8.1f MiB map, ROS 2 side off:                         KorventComp VmRSS %ld MiB, VmHWM %ld MiB\n",
                side * double(side) / (1 << 20), procStatus(korvent.process->pid(), "VmRSS") >> 10,
                procStatus(korvent.process->pid(), "VmHWM") >> 10);
  }
}

int main(int argc, char** argv)
{
  const int updates = argc > 1 ? std::atoi(argv[1]) : 200;
  const int domain = 1 + getpid() % 100;
  {
    RunningKorvent korvent(componentArgs(domain, true));
    korvent.service->setGridMap(1024, 1024, makeMap(imageOf(1024)));
    RosMapListener listener(domain);
    if (!listener.find("map ", 60s) || !listener.find("matched updates", 60s)) {
      std::printf("the subscriber got no map\n");
      return 1;
    }
    const std::vector<CORBA::Octet> cells(16 * 16, 0);
    std::vector<double> latencies, calls;
    for (int i = 0; i < updates; ++i) {
      const long long start = nowNs();
      korvent.region->setRegion(static_cast<short>(i * 37 % 1000), static_cast<short>(i * 53 % 1000), 16, 16,
                                cellSeqOf(cells));
      calls.push_back((nowNs() - start) / 1e6);
      const std::optional<std::string> line = listener.find("update ", 10s);
      if (!line) {
        std::printf("update %d did not arrive\n", i);
        return 1;
      }
      latencies.push_back((std::stoll(fieldsOf(*line)[9]) - start) / 1e6);
    }
    std::printf("setRegion of 16 x 16 cells into 1024 x 1024, %d times:\n", updates);
    std::printf("  to the update at the Fast DDS subscriber: median %.3f ms, worst %.3f ms\n", median(latencies),
                *std::max_element(latencies.begin(), latencies.end()));
    std::printf("  setRegion's own round trip (baseline):   median %.3f ms, worst %.3f ms\n", median(calls),
                *std::max_element(calls.begin(), calls.end()));
  }
  for (int side : {1024, 4096, 8192})
    lateJoin(domain, side);
  memoryWithout(domain, 8192);
  stalledSubscriber(domain);
  return 0;
}
