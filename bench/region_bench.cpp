// What a 256 x 256 region write and read cost beside moving the whole map,
// against the real KorventComp over loopback: median latencies, octets
// sent per update, and the component's peak memory beside its budget of
// 3 x the map + 30 MiB, after one whole store and the region traffic, then
// after repeated whole-map stores.  The first whole-map read after region writes
// joins the tiles into one buffer; later reads reuse it.
// Usage: region_bench [--large]   (--large adds a 20800 x 13600, 283 MB map)
#include "GridMapClient.h"
#include "KorventProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;
  constexpr int edge = 256;

  double medianMs(int runs, const std::function<void()>& call)
  {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
      const Clock::time_point start = Clock::now();
      call();
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
  }

  void measure(short width, short height)
  {
    const std::size_t bytes = static_cast<std::size_t>(width) * height;
    RunningKorvent korvent({"-o", "corba.args:-ORBgiopMaxMsgSize 400000000", "-o", "corba.request_timeout:600"});
    const RTC::TimedOctetSeq map = makeMap(std::vector<CORBA::Octet>(bytes, 5));
    const int wholeRuns = bytes > (100u << 20) ? 3 : 5;
    korvent.service->setGridMap(width, height, map);

    std::mt19937 random(7);
    KorventRegion::CellSeq cells(edge * edge);
    cells.length(edge * edge);
    std::memset(cells.get_buffer(), 9, cells.length());
    auto somewhere = [&](int size, int limit) { return static_cast<int>(random() % (limit - size + 1)); };
    const double setRegion = medianMs(200, [&] {
      korvent.region->setRegion(somewhere(edge, width), somewhere(edge, height), edge, edge, cells);
    });
    const double getRegion = medianMs(200, [&] {
      CORBA::ULongLong version = 0;
      KorventRegion::CellSeq_var got =
        korvent.region->getRegion(somewhere(edge, width), somewhere(edge, height), edge, edge, version);
    });
    auto getWhole = [&] {
      CORBA::Short w = 0, h = 0;
      RTC::TimedOctetSeq back;
      korvent.service->getGridMap(w, h, back);
    };
    const double firstRead = medianMs(wholeRuns, [&] {
      korvent.region->setRegion(0, 0, edge, edge, cells);  // a new version, not joined yet
      getWhole();
    }) - setRegion;
    const double laterRead = medianMs(wholeRuns, getWhole);
    const double regionPeakMiB = procStatus(korvent.process->pid(), "VmHWM") / 1024.0;
    const double setWhole = medianMs(wholeRuns, [&] { korvent.service->setGridMap(width, height, map); });
    const double peakMiB = procStatus(korvent.process->pid(), "VmHWM") / 1024.0;

    std::printf("\n%d x %d map (%.1f MB)\n", width, height, bytes / 1e6);
    std::printf("  %-44s %10.2f ms  (%zu octets)\n", "setGridMap, whole map (baseline)", setWhole, bytes);
    std::printf("  %-44s %10.3f ms  (%d octets; %.0fx less than the map)\n", "setRegion 256 x 256", setRegion,
                edge * edge, static_cast<double>(bytes) / (edge * edge));
    std::printf("  %-44s %10.3f ms\n", "getRegion 256 x 256", getRegion);
    std::printf("  %-44s %10.2f ms\n", "getGridMap, first after a region write", firstRead);
    std::printf("  %-44s %10.2f ms\n", "getGridMap, same version again", laterRead);
    std::printf("  %-44s %10.1f MiB (budget %.1f MiB)\n", "component peak RSS: one store, then regions", regionPeakMiB,
                3.0 * bytes / 1048576.0 + 30.0);
    std::printf("  %-44s %10.1f MiB\n", "component peak RSS: then whole-map stores", peakMiB);
    korvent.process->stop(SIGTERM, std::chrono::seconds(30));
  }
}

int main(int argc, char** argv)
{
  // Before the test support's ORB: omniORB keeps the first ORB_init's limit.
  int orbArgc = 3;
  char* orbArgv[] = {argv[0], const_cast<char*>("-ORBgiopMaxMsgSize"), const_cast<char*>("400000000"), nullptr};
  CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgv);
  std::printf("Region writes and reads of 256 x 256 cells (64 KiB) against whole maps, loopback, medians\n");
  measure(8192, 8192);
  if (argc > 1 && std::strcmp(argv[1], "--large") == 0)
    measure(20800, 13600);
  return 0;
}
