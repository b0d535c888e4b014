// setGridMap latency of the real KorventComp with its durable map off and
// on, and how long a map takes to become durable.  Prints a table; not a
// timed test.  Usage: durable_map_bench [repetition-scale]
#include "GridMapClient.h"
#include "KorventConnection.h"
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TemporaryFolder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;

  struct Timing
  {
    double median;  // seconds
    double best;
  };

  Timing summarise(std::vector<double> seconds)
  {
    std::sort(seconds.begin(), seconds.end());
    return {seconds[seconds.size() / 2], seconds.front()};
  }

  RTC::TimedOctetSeq mapOf(std::size_t bytes, int variant)
  {
    std::vector<CORBA::Octet> octets(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
      octets[i] = static_cast<CORBA::Octet>(i * 131 + variant);
    return makeMap(octets);
  }

  ino_t inodeOf(const std::string& path)
  {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
  }

  // One KorventComp, with a store file in `folder` or without.
  class Subject
  {
  public:
    Subject(const NameServer& names, const TemporaryFolder& folder, bool durable)
      : storePath_(folder / "map.store")
    {
      std::vector<std::string> args;
      if (durable)
        args = {"-o", "korvent.map.store:" + storePath_};
      process_ = startKorventComp(names.address(), args);
      if (!waitFor([&] { return korventBound(names); }, std::chrono::seconds(20)))
        throw std::runtime_error("KorventComp did not start: " + process_->errorOutput());
      service_ = findKorventService(clientOrb(), names.address(), korventName());
    }

    ~Subject()
    {
      service_ = Korvent::_nil();
      process_->stop(SIGTERM, std::chrono::seconds(60));
    }

    Timing setLatency(std::size_t bytes, int repetitions)
    {
      std::vector<RTC::TimedOctetSeq> maps{mapOf(bytes, 0), mapOf(bytes, 1)};
      service_->setGridMap(1, 1, maps[0]);  // warm-up: connection and buffers
      std::vector<double> seconds;
      for (int i = 0; i < repetitions; ++i) {
        const Clock::time_point start = Clock::now();
        service_->setGridMap(1, 1, maps[i % 2]);
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      }
      return summarise(seconds);
    }

    // From the start of a set until the store file has been replaced by
    // one holding it (the writer fsyncs the file before renaming it).
    Timing timeToDurable(std::size_t bytes, int repetitions)
    {
      std::vector<double> seconds;
      for (int i = 0; i < repetitions; ++i) {
        RTC::TimedOctetSeq map = mapOf(bytes, i);
        // Let an earlier write finish first, so each one starts from quiet.
        const ino_t before = waitForQuiet();
        const Clock::time_point start = Clock::now();
        service_->setGridMap(1, 1, map);
        while (inodeOf(storePath_) == before)
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      }
      return summarise(seconds);
    }

  private:
    ino_t waitForQuiet()
    {
      ino_t inode = inodeOf(storePath_);
      for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const ino_t now = inodeOf(storePath_);
        if (now == inode)
          return now;
        inode = now;
      }
    }

    std::string storePath_;
    std::unique_ptr<ChildProcess> process_;
    Korvent_var service_;
  };
}

int main(int argc, char** argv)
{
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  NameServer names;
  names.start();
  TemporaryFolder folder;

  struct Size { std::size_t bytes; int repetitions; };
  const Size sizes[] = {{1u << 20, 100}, {64u << 20, 15}};
  std::printf("%-7s | %-31s | %-31s | %s\n", "size", "set, durability off: ms", "set, durability on: ms", "on/off");
  std::vector<Timing> off, on;
  {
    Subject subject(names, folder, false);
    for (const Size& size : sizes)
      off.push_back(subject.setLatency(size.bytes, std::max(5, static_cast<int>(size.repetitions * scale))));
  }
  Timing durable{};
  {
    Subject subject(names, folder, true);
    for (const Size& size : sizes)
      on.push_back(subject.setLatency(size.bytes, std::max(5, static_cast<int>(size.repetitions * scale))));
    durable = subject.timeToDurable(64u << 20, std::max(3, static_cast<int>(5 * scale)));
  }
  for (std::size_t i = 0; i < off.size(); ++i)
    std::printf("%-7s | median %7.2f (best %7.2f) | median %7.2f (best %7.2f) | %.2fx\n",
                (std::to_string(sizes[i].bytes >> 20) + " MiB").c_str(), off[i].median * 1e3, off[i].best * 1e3,
                on[i].median * 1e3, on[i].best * 1e3, on[i].median / off[i].median);
  std::printf("time until a 64 MiB map is durable (set start -> store file replaced): median %.0f ms (best %.0f ms)\n",
              durable.median * 1e3, durable.best * 1e3);
  std::printf("store file in %s; times are per call\n", folder.path().c_str());
  return 0;
}
