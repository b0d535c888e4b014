// Stress of the hardened runtime: a real omniNames and KorventComp, then
// (a) connect/disconnect cycles, (b) connects from processes that die
// without disconnecting, (c) steady 64 MiB set/get traffic, (d) a 200 MiB
// map replaced by a small one, (e) six 250 MiB requests that go silent.
// Before and after each phase it prints KorventComp's connector count,
// thread count and memory; "quiet" lines come after a pause in which the
// component is expected to give free memory back.  Usage: hardening_stress
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "RawGiop.h"

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
  // Comfortably longer than manager.memory.release_after (3 s by default).
  constexpr auto quietPause = 6s;

  double secondsSince(Clock::time_point start)
  {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  void report(RunningKorvent& korvent, const char* when)
  {
    const pid_t pid = korvent.process->pid();
    std::printf("  %-34s connectors %3u  threads %3ld  VmRSS %8ld kB  VmHWM %8ld kB\n", when,
                korvent.connectorCount(), procStatus(pid, "Threads"), procStatus(pid, "VmRSS"),
                procStatus(pid, "VmHWM"));
    std::fflush(stdout);
  }

  void quietThenReport(RunningKorvent& korvent)
  {
    std::this_thread::sleep_for(quietPause);
    report(korvent, "after quiet");
  }

  RTC::PortService_ptr portFrom(const std::string& ior)
  {
    CORBA::Object_var object = clientOrb()->string_to_object(ior.c_str());
    return RTC::PortService::_narrow(object);
  }

  void connectCycles(RunningKorvent& korvent, int cycles)
  {
    ChildProcess peer({HOSTILE_PEER_PATH, "accept", "1", "-ORBendPoint", "giop:tcp:127.0.0.1:"});
    std::optional<std::string> ior = peer.readLine(20s);
    if (!ior)
      throw std::runtime_error("hostile_peer did not start: " + peer.errorOutput());
    RTC::PortService_var other = portFrom(*ior);
    int failed = 0;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < cycles; ++i) {
      RTC::ConnectorProfile profile;
      profile.name = "cycle";
      profile.connector_id = "";
      profile.ports.length(2);
      profile.ports[0] = RTC::PortService::_duplicate(korvent.port);
      profile.ports[1] = RTC::PortService::_duplicate(other);
      if (korvent.port->connect(profile) != RTC::RTC_OK || korvent.port->disconnect(profile.connector_id) != RTC::RTC_OK)
        ++failed;
    }
    std::printf("  %d cycles in %.1f s, %d failed\n", cycles, secondsSince(start), failed);
  }

  void dyingConnects(RunningKorvent& korvent, int total, int perProcess)
  {
    const CORBA::String_var providerIor = clientOrb()->object_to_string(korvent.port);
    int connected = 0;
    int leftOver = 0;
    const Clock::time_point start = Clock::now();
    for (int done = 0; done < total; done += perProcess) {
      ChildProcess child({HOSTILE_PEER_PATH, "connect", providerIor.in(), std::to_string(perProcess),
                          "-ORBendPoint", "giop:tcp:127.0.0.1:"});
      std::optional<std::string> line = child.readLine(120s);
      if (line && line->rfind("connected ", 0) == 0)
        connected += std::atoi(line->c_str() + 10);
      child.stop(SIGKILL, 10s);
      // The next batch needs the dead one's places: asking for the
      // profiles drops connectors whose peer is gone.
      if (!waitFor([&] { return korvent.connectorCount() == 0; }, 30s))
        ++leftOver;
    }
    std::printf("  %d connects from %d killed processes in %.1f s, %d connected, %d batches not dropped in 30 s\n",
                total, total / perProcess, secondsSince(start), connected, leftOver);
  }

  void steadyTraffic(RunningKorvent& korvent, std::chrono::seconds duration)
  {
    std::vector<CORBA::Octet> octets(64u << 20, 0x3C);
    const RTC::TimedOctetSeq map = makeMap(octets);
    int rounds = 0;
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < duration) {
      korvent.service->setGridMap(8192, 8192, map);
      RTC::TimedOctetSeq got;
      CORBA::Short width = 0, height = 0;
      korvent.service->getGridMap(width, height, got);
      if (got.data.length() != octets.size())
        std::printf("  wrong map size %u\n", got.data.length());
      ++rounds;
    }
    std::printf("  %d rounds of 64 MiB set + get in %.1f s\n", rounds, secondsSince(start));
  }

  void hugeThenSmall(RunningKorvent& korvent)
  {
    {
      std::vector<CORBA::Octet> huge(200u << 20, 0x11);
      korvent.service->setGridMap(32767, 6400, makeMap(huge));
    }
    report(korvent, "200 MiB map stored");
    korvent.service->setGridMap(2, 2, makeMap({1, 2, 3, 4}));
    report(korvent, "small map stored");
  }

  void silentHugeRequests(RunningKorvent& korvent, int count)
  {
    const IiopAddress address = iiopAddressOf(korvent.serviceIor);
    std::vector<int> sockets;
    for (int i = 0; i < count; ++i) {
      int fd = connectTcp(address.host, address.port);
      if (fd < 0 || !sendAll(fd, partialSetGridMapRequest(address.objectKey, static_cast<uint32_t>(i + 1),
                                                         250u << 20, 16u << 20)))
        std::printf("  request %d could not be sent\n", i);
      sockets.push_back(fd);
    }
    report(korvent, "six partial requests pending");
    const Clock::time_point start = Clock::now();
    int closed = 0;
    for (int fd : sockets) {
      closed += closedByPeer(fd, 60s) ? 1 : 0;
      close(fd);
    }
    std::printf("  %d of %d silent connections closed by the component within %.1f s\n", closed, count,
                secondsSince(start));
  }
}

int main()
{
  std::printf("hardening stress: KorventComp with corba.request_timeout 5 s, other keys default\n");
  RunningKorvent korvent({"-o", "corba.request_timeout:5"});
  report(korvent, "start");

  std::printf("(a) connect/disconnect cycles\n");
  report(korvent, "before");
  connectCycles(korvent, 10000);
  report(korvent, "after");
  quietThenReport(korvent);

  std::printf("(b) connects from processes killed without disconnecting\n");
  report(korvent, "before");
  dyingConnects(korvent, 2000, 50);
  report(korvent, "after");
  quietThenReport(korvent);

  std::printf("(c) steady 64 MiB set/get traffic\n");
  report(korvent, "before");
  steadyTraffic(korvent, 20s);
  report(korvent, "after");
  quietThenReport(korvent);

  std::printf("(d) 200 MiB map replaced by a small one\n");
  report(korvent, "before");
  hugeThenSmall(korvent);
  quietThenReport(korvent);

  std::printf("(e) six 250 MiB requests that go silent after 16 MiB\n");
  report(korvent, "before");
  silentHugeRequests(korvent, 6);
  report(korvent, "after");
  quietThenReport(korvent);

  const Clock::time_point stopping = Clock::now();
  std::optional<int> status = korvent.process->stop(SIGTERM, 60s);
  std::printf("SIGTERM: ended after %.1f s with status %d\n", secondsSince(stopping), status ? *status : -1);
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0 ? 0 : 1;
}
