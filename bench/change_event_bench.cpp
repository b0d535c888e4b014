// The mapChanged event against fetching the map: the time from setGridMap
// returning to a subscriber holding the event (median and worst of many, on
// the loopback), beside one getGridMap of a 64 MiB map; and the writer's
// setGridMap time with 0, 1 and 10 subscribers, one of them stopped with
// SIGSTOP.  Usage: change_event_bench [events]
#include "ChangeListener.h"
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "KorventProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;

  double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

  double median(std::vector<double> values)
  {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }

  // Median time of `count` setGridMap calls of `map`.
  double setTime(Korvent_ptr korvent, const RTC::TimedOctetSeq& map, int count)
  {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
      const Clock::time_point start = Clock::now();
      korvent->setGridMap(1024, 1024, map);
      times.push_back(ms(Clock::now() - start));
    }
    return median(times);
  }
}

int main(int argc, char** argv)
{
  const int events = argc > 1 ? std::atoi(argv[1]) : 300;
  RunningKorvent korvent({"-o", "corba.args:-ORBgiopMaxMsgSize 268435456", "-o", "corba.call_timeout:1"});

  // Event latency: one small map at a time, waiting for each event.
  {
    ChangeListener listener(korvent.rtc);
    listener.next();  // the retained event, if any
    const RTC::TimedOctetSeq small = makeMap(std::vector<CORBA::Octet>(16, 1));
    std::vector<double> latencies;
    for (int i = 0; i < events; ++i) {
      korvent.service->setGridMap(4, 4, small);
      const Clock::time_point returned = Clock::now();
      if (listener.next().data.length() != 9) {
        std::fprintf(stderr, "change_event_bench: an event did not arrive\n");
        return 1;
      }
      latencies.push_back(ms(Clock::now() - returned));
    }
    std::printf("event after setGridMap returned (loopback, %d events): median %.3f ms, worst %.3f ms\n", events,
                median(latencies), *std::max_element(latencies.begin(), latencies.end()));
  }

  // The alternative: fetching the whole map to see whether it changed.
  {
    korvent.service->setGridMap(8192, 8192, makeMap(std::vector<CORBA::Octet>(64u << 20, 2)));
    std::vector<double> fetches;
    for (int i = 0; i < 5; ++i) {
      CORBA::Short width, height;
      RTC::TimedOctetSeq map;
      const Clock::time_point start = Clock::now();
      korvent.service->getGridMap(width, height, map);
      fetches.push_back(ms(Clock::now() - start));
    }
    std::printf("getGridMap of a 64 MiB map (loopback, baseline): median %.1f ms\n", median(fetches));
  }

  // The writer's cost with subscribers: korvent-map watch processes.
  const RTC::TimedOctetSeq mib = makeMap(std::vector<CORBA::Octet>(1u << 20, 3));
  CORBA::String_var ior = clientOrb()->object_to_string(korvent.rtc);
  std::vector<std::unique_ptr<ChildProcess>> watchers;
  for (int subscribers : {0, 1, 10}) {
    while (static_cast<int>(watchers.size()) < subscribers) {
      watchers.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{KORVENT_MAP_PATH, "--ior", ior.in(), "watch"}));
      watchers.back()->readLine(std::chrono::seconds(20));  // connected: the retained event arrived
    }
    if (subscribers == 10) {
      watchers.back()->signal(SIGSTOP);
      watchers.back()->waitUntilStopped(std::chrono::seconds(10));
    }
    std::printf("setGridMap of 1 MiB with %2d subscriber(s)%s: median %.3f ms\n", subscribers,
                subscribers == 10 ? " (one stopped)" : "", setTime(korvent.service, mib, 50));
  }
  watchers.back()->signal(SIGCONT);
  return 0;
}
