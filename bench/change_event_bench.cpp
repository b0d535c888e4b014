// The mapChanged event against fetching the map: the time from setGridMap
// returning to a subscriber holding the event (median and worst of many, on
// the loopback), beside one getGridMap of a 64 MiB map; and the writer's
// setGridMap time with 0, 1 and 10 subscribers, one of them stopped with
// SIGSTOP; and how long a watch whose connection the component dropped
// (stopped past the call timeout) needs, once continued, to notice, connect
// again and show the map stored meanwhile.  Usage: change_event_bench [events]
#include "ChangeListener.h"
#include "ChildProcess.h"
#include "ConnectorProfiles.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"

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

  {
    // Recovery of a dropped subscription, from SIGCONT to the line of the
    // version stored while the watch was stopped.
    CORBA::String_var ior = clientOrb()->object_to_string(korvent.rtc);
    RTC::PortService_var changes = portNamed(korvent.rtc, "mapChanged");
    auto connectors = [&] {
      RTC::ConnectorProfileList_var list = changes->get_connector_profiles();
      return list->length();
    };
    std::vector<double> recoveries;
    for (int i = 0; i < 5; ++i) {
      ChildProcess watch({KORVENT_MAP_PATH, "--ior", ior.in(), "watch"});
      if (!watch.readLine(std::chrono::seconds(20)) || !waitFor([&] { return connectors() == 1; }, std::chrono::seconds(20)))
        return std::fprintf(stderr, "change_event_bench: the watch did not connect\n"), 1;
      watch.signal(SIGSTOP);
      watch.waitUntilStopped(std::chrono::seconds(10));
      // The first push times out and drops the connection; the second
      // version is never sent on it.
      korvent.service->setGridMap(4, 4, makeMap(std::vector<CORBA::Octet>(16, 4)));
      korvent.service->setGridMap(4, 4, makeMap(std::vector<CORBA::Octet>(16, 5)));
      const std::string version = "version " + std::to_string(korvent.region->shape().version) + ",";
      if (!waitFor([&] { return connectors() == 0; }, std::chrono::seconds(30)))
        return std::fprintf(stderr, "change_event_bench: the connection was not dropped\n"), 1;
      const Clock::time_point continued = Clock::now();
      watch.signal(SIGCONT);
      for (std::optional<std::string> line; (line = watch.readLine(std::chrono::seconds(30)));)
        if (line->rfind(version, 0) == 0) {
          recoveries.push_back(ms(Clock::now() - continued));
          break;
        }
      watch.stop(SIGINT, std::chrono::seconds(20));  // disconnects, for the next run's count
    }
    if (recoveries.size() != 5)
      return std::fprintf(stderr, "change_event_bench: a watch did not catch up\n"), 1;
    std::printf("watch continued after its connection was dropped, to the missed version's line (5 runs): "
                "median %.1f ms, worst %.1f ms\n",
                median(recoveries), *std::max_element(recoveries.begin(), recoveries.end()));
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
