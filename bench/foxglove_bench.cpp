// The Foxglove endpoint as a viewer on the loopback sees it: the time from
// calling setRegion to the new /map message in the viewer's hands (median
// and worst), beside setRegion's own round trip measured in the same run,
// for a 4 MiB map and (with --large) a 282 MB one of 20800 x 13600 cells;
// KorventComp's memory per added viewer of the 4 MiB map; and what a viewer
// that stops reading costs and gets.
// Usage: foxglove_bench [--large]
#include "FoxgloveConnection.h"
#include "GridMapClient.h"
#include "KorventProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;
  using namespace std::chrono_literals;

  double msSince(Clock::time_point start)
  {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  double median(std::vector<double> values)
  {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }

  struct Component
  {
    RunningKorvent korvent;
    std::string host;
    int port = 0;

    explicit Component(const std::vector<std::string>& extra)
      : korvent([&] {
          std::vector<std::string> args = foxgloveArgs();
          args.insert(args.end(), {"-o", "corba.args:-ORBgiopMaxMsgSize 400000000", "-o",
                                   "corba.request_timeout:600"});
          args.insert(args.end(), extra.begin(), extra.end());
          return args;
        }())
    {
      const std::string endpoint =
        loggedValue(*korvent.process, R"(Foxglove endpoint at ws://([0-9.]+:[0-9]+))", "Foxglove endpoint");
      host = endpoint.substr(0, endpoint.find(':'));
      port = std::stoi(endpoint.substr(endpoint.find(':') + 1));
    }

    void store(short width, short height)
    {
      std::vector<CORBA::Octet> grey(std::size_t(width) * height);
      for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<CORBA::Octet>((i % width) * 37 + (i / width) * 11);
      korvent.service->setGridMap(width, height, makeMap(grey));
    }

    long rssKb() const { return procStatus(korvent.process->pid(), "VmRSS"); }
  };

  // A viewer subscribed to /map that has the current map.
  std::unique_ptr<FoxgloveConnection> subscribedViewer(const Component& component, int receiveBuffer = 0)
  {
    auto viewer = std::make_unique<FoxgloveConnection>(component.host, component.port, "foxglove.websocket.v1",
                                                       receiveBuffer);
    viewer->sendText(R"({"op":"subscribe","subscriptions":[{"id":1,"channelId":1}]})");
    return viewer;
  }

  bool nextMap(FoxgloveConnection& viewer)
  {
    for (;;) {
      const std::optional<FoxgloveConnection::Message> message = viewer.read(600s);
      if (!message)
        return false;
      if (message->binary)
        return true;
    }
  }

  KorventRegion::CellSeq cellsOf(int edge, CORBA::Octet value)
  {
    KorventRegion::CellSeq cells(edge * edge);
    cells.length(edge * edge);
    std::memset(cells.get_buffer(), value, cells.length());
    return cells;
  }

  void latency(short width, short height, int writes)
  {
    Component component({});
    component.store(width, height);
    auto viewer = subscribedViewer(component);
    Clock::time_point start = Clock::now();
    if (!nextMap(*viewer)) {
      std::printf("  no first map\n");
      return;
    }
    std::printf("%d x %d (%.1f MB): first map at a new subscriber %.0f ms\n", width, height,
                width * double(height) / 1e6, msSince(start));
    std::vector<double> toViewer, call;
    for (int i = 0; i < writes; ++i) {
      start = Clock::now();
      component.korvent.region->setRegion(16 * i, 16, 16, 16, cellsOf(16, static_cast<CORBA::Octet>(i)));
      call.push_back(msSince(start));
      if (!nextMap(*viewer)) {
        std::printf("  no map after write %d\n", i);
        return;
      }
      toViewer.push_back(msSince(start));
    }
    std::printf("  setRegion to the new /map at the viewer: median %.1f ms, worst %.1f ms (%d writes)\n",
                median(toViewer), *std::max_element(toViewer.begin(), toViewer.end()), writes);
    std::printf("  setRegion's own round trip (baseline):   median %.1f ms, worst %.1f ms\n", median(call),
                *std::max_element(call.begin(), call.end()));
    std::printf("  KorventComp RSS with one viewer: %ld MiB\n", component.rssKb() >> 10);
    component.korvent.process->stop(SIGTERM, 60s);
  }

  void memoryPerViewer(int added)
  {
    Component component({"-o", "korvent.foxglove.max_connections:64"});
    component.store(2048, 2048);
    auto first = subscribedViewer(component);
    nextMap(*first);
    const long before = component.rssKb();
    std::vector<std::unique_ptr<FoxgloveConnection>> viewers;
    for (int i = 0; i < added; ++i) {
      viewers.push_back(subscribedViewer(component));
      nextMap(*viewers.back());
    }
    const long after = component.rssKb();
    std::printf("Memory per viewer of a 4 MiB map: RSS %ld MiB with 1 viewer, %ld MiB with %d more: %.0f KiB each\n",
                before >> 10, after >> 10, added, double(after - before) / added);
    component.korvent.process->stop(SIGTERM, 60s);
  }

  void stalledViewer()
  {
    Component component({"-o", "korvent.foxglove.stall_grace:2"});
    component.store(2048, 2048);
    auto reader = subscribedViewer(component);
    nextMap(*reader);
    const long before = component.rssKb();
    auto stalled = subscribedViewer(component, 4096);
    const Clock::time_point start = Clock::now();
    int writes = 0, received = 0;
    long peak = before;
    double closedAfter = -1;
    // Region writes until the stalled viewer is closed, then 10 more.
    for (int after = 0; after < 10 && msSince(start) < 60000; ++writes) {
      component.korvent.region->setRegion(16 * (writes % 100), 16, 16, 16,
                                          cellsOf(16, static_cast<CORBA::Octet>(writes)));
      received += nextMap(*reader) ? 1 : 0;
      peak = std::max(peak, component.rssKb());
      if (closedAfter < 0 && component.korvent.process->errorOutput().find("nothing of its message could be sent") !=
                               std::string::npos)
        closedAfter = msSince(start);
      after += closedAfter < 0 ? 0 : 1;
    }
    std::printf("A viewer of the 4 MiB map that stops reading (grace 2 s), beside one that reads:\n");
    std::printf("  the reading viewer got %d of %d new maps; RSS %ld MiB before, at most %ld MiB meanwhile\n", received,
                writes, before >> 10, peak >> 10);
    if (closedAfter < 0)
      std::printf("  the stalled viewer was not closed within 60 s\n");
    else
      std::printf("  the stalled viewer was closed %.1f s after it subscribed, with a warning\n", closedAfter / 1000);
    component.korvent.process->stop(SIGTERM, 60s);
  }
}

int main(int argc, char** argv)
{
  // Before the test support's ORB: omniORB keeps the first ORB_init's limit.
  int orbArgc = 3;
  char* orbArgv[] = {argv[0], const_cast<char*>("-ORBgiopMaxMsgSize"), const_cast<char*>("400000000"), nullptr};
  CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgv);
  std::printf("Foxglove endpoint, one viewer on the loopback\n");
  latency(2048, 2048, 20);
  if (argc > 1 && std::strcmp(argv[1], "--large") == 0)
    latency(20800, 13600, 5);
  memoryPerViewer(16);
  stalledViewer();
  return 0;
}
