// What a 256 x 256 region write and read cost beside moving the whole map,
// against the real KorventComp over loopback: median latencies, octets
// sent per update, and the component's peak memory beside its budget of
// 3 x the map + 30 MiB, after one whole store and the region traffic, then
// after repeated whole-map stores.  A whole-map read after region writes is
// sent from the tiles: the first read costs what a later one does.
// With --durable, on a 20800 x 13600 map (283 MB): 256 x 256 setRegion
// with the durable map (korvent.map.store) off, the baseline, and on: the
// median and worst latency, the component's CPU time per write (all its
// threads, from the scheduler's run times) and the octets it wrote per write (from
// /proc/<pid>/io, folding the log into the store file included), then the
// start-up time with a store file alone and with a log of 10 000 records.
// With --sockets N: the component's CPU time for 1000 region writes of
// 256 x 256 (each a request watched for its rate) on a quiet machine, and
// with N idle loopback connections held open by this process, taken in
// turns.
// Usage: region_bench [--large | --durable | --sockets N]   (--large adds a 20800 x 13600 map)
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "ProcessCpu.h"
#include "TemporaryFolder.h"

#include "mapio/MapLog.h"
#include "mapio/MapLogFile.h"
#include "mapio/StoreFile.h"

#include <algorithm>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
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
    auto getWhole = [&] {
      CORBA::Short w = 0, h = 0;
      RTC::TimedOctetSeq back;
      korvent.service->getGridMap(w, h, back);
    };
    const double plainRead = medianMs(wholeRuns, getWhole);

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
    std::printf("  %-44s %10.2f ms\n", "getGridMap, map stored whole (baseline)", plainRead);
    std::printf("  %-44s %10.2f ms\n", "getGridMap, first after a region write", firstRead);
    std::printf("  %-44s %10.2f ms\n", "getGridMap, same version again", laterRead);
    std::printf("  %-44s %10.1f MiB (budget %.1f MiB)\n", "component peak RSS: one store, then regions", regionPeakMiB,
                3.0 * bytes / 1048576.0 + 30.0);
    std::printf("  %-44s %10.1f MiB\n", "component peak RSS: then whole-map stores", peakMiB);
    korvent.process->stop(SIGTERM, std::chrono::seconds(30));
  }
}

namespace
{
  // A field of /proc/<pid>/io ("write_bytes": octets sent to the disk).
  double ioCounter(pid_t pid, const std::string& name)
  {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    double value = 0;
    while (io >> key >> value)
      if (key == name + ":")
        return value;
    return -1;
  }

  std::uint64_t fileSizeOf(const std::string& path)
  {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  }

  void durableWrites(short width, short height, bool durable, int writes)
  {
    TemporaryFolder folder;
    std::vector<std::string> args{"-o", "corba.args:-ORBgiopMaxMsgSize 400000000", "-o", "corba.request_timeout:600"};
    if (durable)
      args.insert(args.end(), {"-o", "korvent.map.store:" + folder / "map.store"});
    RunningKorvent korvent(args);
    const std::size_t bytes = static_cast<std::size_t>(width) * height;
    korvent.service->setGridMap(width, height, makeMap(std::vector<CORBA::Octet>(bytes, 5)));
    KorventRegion::CellSeq cells(edge * edge);
    cells.length(edge * edge);
    std::memset(cells.get_buffer(), 9, cells.length());
    // Not counted: the whole map's store file, written on the writer's thread.
    if (durable)
      while (fileSizeOf(folder / "map.store") != 36 + bytes)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    korvent.region->setRegion(0, 0, edge, edge, cells);

    std::mt19937 random(11);
    const pid_t pid = korvent.process->pid();
    const double cpuBefore = cpuSeconds(pid);
    const double diskBefore = ioCounter(pid, "write_bytes");
    std::vector<double> ms;
    for (int i = 0; i < writes; ++i) {
      const int x = static_cast<int>(random() % (width - edge + 1));
      const int y = static_cast<int>(random() % (height - edge + 1));
      std::memset(cells.get_buffer(), i % 250 + 1, cells.length());
      const Clock::time_point start = Clock::now();
      korvent.region->setRegion(x, y, edge, edge, cells);
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    // A folding of the log still running belongs to these writes: wait
    // until the component is idle.
    for (double last = cpuSeconds(pid);;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      const double now = cpuSeconds(pid);
      if (now - last < 0.02)
        break;
      last = now;
    }
    const double cpuMs = (cpuSeconds(pid) - cpuBefore) * 1000.0 / writes;
    const double diskKiB = (ioCounter(pid, "write_bytes") - diskBefore) / 1024.0 / writes;
    korvent.process->stop(SIGTERM, std::chrono::seconds(120));
    std::sort(ms.begin(), ms.end());
    std::printf("  durable map %-3s  setRegion %8.3f ms median %9.3f ms worst   CPU %6.3f ms/write   disk %8.1f KiB/write\n",
                durable ? "on" : "off", ms[ms.size() / 2], ms.back(), cpuMs, diskKiB);
  }

  // Start-up time with the store file alone, then with `records` records
  // of 256 x 256 in its log.
  void startUp(short width, short height, int records)
  {
    TemporaryFolder folder;
    const std::string store = folder / "map.store";
    const std::size_t bytes = static_cast<std::size_t>(width) * height;
    mapio::writeStoreFile(store, width, height, std::string(bytes, 5), 1);
    auto timedStart = [&] {
      const Clock::time_point start = Clock::now();
      RunningKorvent korvent({"-o", "korvent.map.store:" + store});
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      korvent.process->stop(SIGTERM, std::chrono::seconds(120));
      return seconds;
    };
    const double alone = timedStart();
    // The run floor file moved the version on: the log follows the store file's.
    const std::uint64_t base = mapio::readStoreFile(store)->version;
    mapio::MapLogFile log = mapio::MapLogFile::create(store + ".log", base);
    std::mt19937 random(5);
    std::string chunk;
    for (int n = 0; n < records; ++n) {
      const std::size_t start = chunk.size();
      const std::size_t cells = mapio::maplog::beginRegionRecord(
          chunk, base + n + 1, base + n, static_cast<int>(random() % (width - edge + 1)),
          static_cast<int>(random() % (height - edge + 1)), edge, edge);
      std::memset(chunk.data() + cells, n % 250 + 1, edge * edge);
      mapio::maplog::endRecord(chunk, start);
      if (chunk.size() > (64u << 20) || n + 1 == records) {
        log.append(chunk);
        chunk.clear();
      }
    }
    log.sync();
    const double withLog = timedStart();
    std::printf("  start-up until bound, store file alone (baseline)   %8.2f s\n", alone);
    std::printf("  start-up until bound, with a log of %d records   %8.2f s  (log %.0f MiB)\n", records, withLog,
                log.size() / 1048576.0);
  }
}

namespace
{
  // Idle loopback connections to a listener of this process's own: the
  // machine's TCP table grows by twice their number.
  class IdleConnections
  {
  public:
    explicit IdleConnections(int count)
    {
      const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof address;
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
      ::listen(listener, 4096);
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
      for (int i = 0; i < count; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(client, reinterpret_cast<sockaddr*>(&address), length) == 0)
          fds_.push_back(::accept(listener, nullptr, nullptr));
        fds_.push_back(client);
      }
      ::close(listener);
    }
    ~IdleConnections()
    {
      for (int fd : fds_)
        ::close(fd);
    }
    IdleConnections(const IdleConnections&) = delete;
    IdleConnections& operator=(const IdleConnections&) = delete;

  private:
    std::vector<int> fds_;
  };

  void writesBesideSockets(int sockets)
  {
    constexpr short width = 8192, height = 8192;
    constexpr int writes = 1000;
    RunningKorvent korvent({"-o", "corba.args:-ORBgiopMaxMsgSize 400000000"});
    korvent.service->setGridMap(width, height, makeMap(std::vector<CORBA::Octet>(std::size_t(width) * height, 5)));
    KorventRegion::CellSeq cells(edge * edge);
    cells.length(edge * edge);
    std::memset(cells.get_buffer(), 9, cells.length());
    std::mt19937 random(3);
    auto cpuMsPerWrite = [&] {
      const double before = cpuSeconds(korvent.process->pid());
      for (int i = 0; i < writes; ++i)
        korvent.region->setRegion(static_cast<int>(random() % (width - edge + 1)),
                                  static_cast<int>(random() % (height - edge + 1)), edge, edge, cells);
      return (cpuSeconds(korvent.process->pid()) - before) * 1000.0 / writes;
    };
    cpuMsPerWrite();  // warm-up: a tile's first write since the whole map was stored allocates its block
    std::printf("%d region writes of 256 x 256, component CPU per write, in turns\n", writes);
    for (int round = 0; round < 3; ++round) {
      const double quiet = cpuMsPerWrite();
      double busy = 0;
      {
        IdleConnections idle(sockets);
        busy = cpuMsPerWrite();
      }
      std::printf("  quiet machine (baseline) %7.3f ms   with %d idle connections %7.3f ms   (%.2fx)\n", quiet,
                  sockets, busy, busy / quiet);
    }
    korvent.process->stop(SIGTERM, std::chrono::seconds(30));
  }
}

int main(int argc, char** argv)
{
  // Before the test support's ORB: omniORB keeps the first ORB_init's limit.
  int orbArgc = 3;
  char* orbArgv[] = {argv[0], const_cast<char*>("-ORBgiopMaxMsgSize"), const_cast<char*>("400000000"), nullptr};
  CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgv);
  if (argc > 1 && std::strcmp(argv[1], "--durable") == 0) {
    const int writes = argc > 2 ? std::atoi(argv[2]) : 5000;
    std::printf("256 x 256 region writes on a 20800 x 13600 map, %d writes each, loopback\n", writes);
    durableWrites(20800, 13600, false, writes);
    durableWrites(20800, 13600, true, writes);
    startUp(20800, 13600, 10000);
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[1], "--sockets") == 0) {
    writesBesideSockets(std::atoi(argv[2]));
    return 0;
  }
  std::printf("Region writes and reads of 256 x 256 cells (64 KiB) against whole maps, loopback, medians\n");
  measure(8192, 8192);
  if (argc > 1 && std::strcmp(argv[1], "--large") == 0)
    measure(20800, 13600);
  return 0;
}
