// Attacks on a fresh KorventComp with its default limits, each while one
// well-behaved client keeps reading a 1 KiB corner of the map: connections
// that each declare a 250 MiB setGridMap (then 8 MiB), send 1 MiB and go
// silent; a flood of short connections carrying garbage; connections that
// each send 249 of a declared 250 MiB and go silent; readers that ask for a
// 32 MiB map and read nothing, the map replaced before each, over TCP and
// over the local socket; readers that ask for a 32 MiB region and read
// nothing; writers storing 16 MiB maps at once (large requests in
// fragments).  Then a reader that trickles a 282 MB map at 64 KiB/s while
// one cell changes, timing a fresh whole-map read beside one made before.  Prints, per attack, the good client's worst and
// median call time, the component's RSS, threads and open sockets (peak
// during the attack, and 3 s after it), and when the attackers were
// dropped.  Usage: attack_bench [stalled connections] [flood connections]
// [first words of the one attack to run]
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "RawGiop.h"
#include "TemporaryFolder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
  double msSince(Clock::time_point start)
  {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  struct Figures
  {
    long rssKiB = 0, threads = 0, sockets = 0;

    static Figures of(pid_t pid) { return {procStatus(pid, "VmRSS"), procStatus(pid, "Threads"), openSockets(pid)}; }
    void keepPeak(const Figures& f)
    {
      rssKiB = std::max(rssKiB, f.rssKiB);
      threads = std::max(threads, f.threads);
      sockets = std::max(sockets, f.sockets);
    }
  };

  // Reads a 32 x 32 corner of the map (1 KiB) back to back, each call
  // bounded, and keeps the times.
  class GoodClient
  {
  public:
    explicit GoodClient(KorventRegion_ptr service) : service_(KorventRegion::_duplicate(service))
    {
      omniORB::setClientCallTimeout(service_, 10000);
      thread_ = std::thread([this] { run(); });
    }
    ~GoodClient()
    {
      stop_ = true;
      thread_.join();
    }

    void restart()
    {
      std::lock_guard<std::mutex> lock(mutex_);
      times_.clear();
      failures_ = 0;
    }

    // "worst / median ms, failures"
    std::string summary()
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::vector<double> times = times_;
      if (times.empty())
        return "no call answered, " + std::to_string(failures_) + " failed";
      std::sort(times.begin(), times.end());
      char text[96];
      std::snprintf(text, sizeof text, "%zu calls, worst %.1f ms, median %.2f ms, %d failed", times.size(),
                    times.back(), times[times.size() / 2], failures_);
      return text;
    }

  private:
    void run()
    {
      while (!stop_) {
        const Clock::time_point start = Clock::now();
        bool answered = true;
        try {
          CORBA::ULongLong version = 0;
          KorventRegion::CellSeq_var cells = service_->getRegion(0, 0, 32, 32, version);
        }
        catch (const CORBA::Exception&) {
          answered = false;
        }
        const double ms = msSince(start);
        std::lock_guard<std::mutex> lock(mutex_);
        if (answered)
          times_.push_back(ms);
        else
          ++failures_;
        if (!answered)
          std::this_thread::sleep_for(10ms);
      }
    }

    KorventRegion_var service_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<double> times_;
    int failures_ = 0;
    std::thread thread_;
  };

  std::string dropSummary(std::vector<long> drops, long attackers)
  {
    if (drops.empty())
      return "none of " + std::to_string(attackers) + " dropped";
    std::sort(drops.begin(), drops.end());
    char text[128];
    std::snprintf(text, sizeof text, "%zu of %ld dropped, first %.1f s, median %.1f s, last %.1f s", drops.size(),
                  attackers, drops.front() / 1000.0, drops[drops.size() / 2] / 1000.0, drops.back() / 1000.0);
    return text;
  }

  // New clients tried once a second during an attack: answered, refused at
  // once, or left without an answer.
  struct FreshTally
  {
    int answered = 0, refused = 0, unanswered = 0;
    Clock::time_point next = Clock::now();

    void maybeTry(const IiopAddress& address)
    {
      if (Clock::now() < next)
        return;
      next = Clock::now() + 1s;
      switch (freshGetGridMap(address, 2s)) {
        case FreshCall::Answered: ++answered; break;
        case FreshCall::Refused: ++refused; break;
        case FreshCall::Unanswered: ++unanswered; break;
      }
    }
  };

  void printFigures(const char* when, const Figures& f)
  {
    std::printf("  %-7s RSS %8ld kB  threads %4ld  sockets %5ld\n", when, f.rssKiB, f.threads, f.sockets);
  }

  // One attack on a fresh component; `window` bounds how long it is watched.
  std::string only;  // runs only the attack whose title starts so, if set

  // Attacker arguments that stand for the component's local socket file and
  // for its region service's reference.
  const std::string localSocket = "@local";
  const std::string regionService = "@region";

  void attack(const std::string& title, const std::vector<std::string>& attackerArgs, std::chrono::seconds window)
  {
    if (title.rfind(only, 0) != 0)
      return;
    TemporaryFolder folder;
    RunningKorvent korvent({"-o", "corba.local.folder:" + folder / "sockets"});
    const pid_t pid = korvent.process->pid();
    korvent.service->setGridMap(32, 32, makeMap(std::vector<CORBA::Octet>(1024, 7)));
    const IiopAddress address = iiopAddressOf(korvent.serviceIor);
    GoodClient good(korvent.region);
    std::this_thread::sleep_for(1s);
    const Figures idle = Figures::of(pid);
    good.restart();

    std::vector<std::string> argv{ATTACKER_PATH, attackerArgs[0], korvent.serviceIor};
    for (auto arg = attackerArgs.begin() + 1; arg != attackerArgs.end(); ++arg)
      argv.push_back(*arg == localSocket     ? folder / "sockets/" + TemporaryFolder::entriesOf(folder / "sockets").at(0)
                     : *arg == regionService ? CORBA::String_var(clientOrb()->object_to_string(korvent.region)).in()
                                             : *arg);
    ChildProcess attacker(argv);
    const Clock::time_point start = Clock::now();
    Figures peak = idle;
    std::vector<long> drops;
    long attackers = 0, refused = 0;
    std::string writes;
    double floodEnd = -1, freshServed = -1;
    FreshTally fresh;
    while (Clock::now() - start < window) {
      peak.keepPeak(Figures::of(pid));
      if (attackers > 0)
        fresh.maybeTry(address);
      std::optional<std::string> line = attacker.readLine(100ms);
      if (!line)
        continue;
      if (line->rfind("sent ", 0) == 0)
        attackers = std::atol(line->c_str() + 5);
      else if (line->rfind("refused ", 0) == 0)
        refused = std::atol(line->c_str() + 8);
      else if (line->rfind("wrote ", 0) == 0) {
        writes = line->substr(6);
        break;
      }
      else if (line->rfind("dropped ", 0) == 0)
        drops.push_back(std::atol(line->c_str() + 8));
      else if (line->rfind("flooded ", 0) == 0) {
        floodEnd = msSince(start);
        const Clock::time_point burstEnd = Clock::now();
        while (freshGetGridMap(address, 2s) != FreshCall::Answered && Clock::now() - burstEnd < 20s)
          peak.keepPeak(Figures::of(pid));
        freshServed = msSince(burstEnd);
        break;
      }
      if (*line == "all dropped")
        break;
    }
    const double attackMs = msSince(start);
    const std::string goodDuring = good.summary();
    attacker.stop(SIGKILL, 10s);
    std::this_thread::sleep_for(3s);
    const Figures after = Figures::of(pid);

    std::printf("%s\n", title.c_str());
    std::printf("  good client during the attack (%.1f s): %s\n", attackMs / 1000.0, goodDuring.c_str());
    if (floodEnd >= 0)
      std::printf("  burst took %.0f ms; a fresh client was served %.0f ms after it\n", floodEnd, freshServed);
    else if (!writes.empty())
      std::printf("  writers: %s\n", writes.c_str());
    else
      std::printf("  attackers: %ld open once sent; %s\n  new clients while they were held: %d answered, "
                  "%d refused at once, %d unanswered after 2 s\n", attackers,
                  dropSummary(drops, std::atol(attackerArgs[1].c_str())).c_str(), fresh.answered, fresh.refused,
                  fresh.unanswered);
    if (refused > 0)
      std::printf("  readers not held (refused, or answered at once): %ld\n", refused);
    printFigures("idle", idle);
    printFigures("peak", peak);
    printFigures("after", after);
    std::fflush(stdout);
    korvent.process->stop(SIGTERM, 30s);
  }
}

namespace
{
  // A fresh whole-map read over a connection of its own: milliseconds, or
  // what refused it.
  std::string freshWholeRead(const IiopAddress& address, std::size_t bytes)
  {
    const Clock::time_point start = Clock::now();
    const int fd = connectTcp(address.host, address.port);
    std::string body;
    try {
      body = fd >= 0 && sendAll(fd, getGridMapRequest(address.objectKey, 1)) ? readGiopMessageBody(fd, 120s) : "";
    }
    catch (const std::runtime_error& error) {
      body = error.what();
    }
    if (fd >= 0)
      close(fd);
    char text[96];
    if (body.size() >= bytes)
      std::snprintf(text, sizeof text, "served in %.0f ms", msSince(start));
    else
      std::snprintf(text, sizeof text, "refused after %.0f ms (%s)", msSince(start),
                    body.find("TRANSIENT") != std::string::npos ? "TRANSIENT" : "no map");
    return text;
  }

  // A 20 800 x 13 600 map read at 64 KiB/s (four times the default minimum
  // rate) by one reader while a region write changes one cell.
  void trickle()
  {
    constexpr int width = 20800, height = 13600;
    constexpr std::size_t bytes = std::size_t(width) * height;
    RunningKorvent korvent({"-o", "corba.args:", "-o", "corba.local.enable:NO"});
    const IiopAddress address = iiopAddressOf(korvent.serviceIor);
    const int writer = connectTcp(address.host, address.port);
    sendAll(writer, partialSetGridMapRequest(address.objectKey, 1, bytes, 0, width, height));
    sendFiller(writer, bytes);
    readGiopMessageBody(writer, 120s);
    close(writer);
    std::printf("trickling reader: %d x %d map (%zu octets) read at 64 KiB/s, one cell changed\n", width, height,
                bytes);
    std::printf("  fresh whole-map read before: %s\n", freshWholeRead(address, bytes).c_str());

    std::atomic<bool> stop{false};
    const int slow = connectTcp(address.host, address.port);
    sendAll(slow, getGridMapRequest(address.objectKey, 2));
    std::thread reader([&] {
      std::vector<char> chunk(64 * 1024);
      while (!stop && recv(slow, chunk.data(), chunk.size(), 0) > 0)
        std::this_thread::sleep_for(1s);
    });
    while (pendingBytes(slow) == 0)
      std::this_thread::sleep_for(10ms);
    KorventRegion::CellSeq cell(1);
    cell.length(1);
    cell[0] = 1;
    korvent.region->setRegion(width - 1, height - 1, 1, 1, cell);
    std::printf("  fresh whole-map read after the change: %s\n", freshWholeRead(address, bytes).c_str());
    std::printf("  RSS %ld kB, peak %ld kB\n", procStatus(korvent.process->pid(), "VmRSS"),
                procStatus(korvent.process->pid(), "VmHWM"));
    stop = true;
    shutdown(slow, SHUT_RDWR);
    reader.join();
    close(slow);
    std::fflush(stdout);
    korvent.process->stop(SIGTERM, 30s);
  }
}

int main(int argc, char** argv)
{
  const std::string stalled = argc > 1 ? argv[1] : "64";
  const std::string flood = argc > 2 ? argv[2] : "3000";
  only = argc > 3 ? argv[3] : "";
  attack("stalled requests: " + stalled + " x (250 MiB declared, 1 MiB sent)",
         {"stall", stalled, std::to_string(250u << 20), std::to_string(1u << 20)}, 30s);
  attack("stalled requests within the memory budget: " + stalled + " x (8 MiB declared, 1 MiB sent)",
         {"stall", stalled, std::to_string(8u << 20), std::to_string(1u << 20)}, 30s);
  attack("connection flood: " + flood + " x 64 octets of garbage", {"flood", flood}, 60s);
  attack("near-complete bodies: 6 x (250 MiB declared, 249 MiB sent)",
         {"stall", "6", std::to_string(250u << 20), std::to_string(249u << 20)}, 60s);
  attack("slow readers over TCP: 24 x 32 MiB, the map replaced before each",
         {"read", "24", std::to_string(32u << 20)}, 90s);
  attack("slow readers over the local socket: 40 x 32 MiB, the map replaced before each",
         {"read", "40", std::to_string(32u << 20), localSocket}, 120s);
  attack("slow region readers over TCP: 16 x 32 MiB, the map replaced before each",
         {"regions", "16", std::to_string(32u << 20), regionService}, 90s);
  attack("concurrent writers in fragments: 4 x 15 x 16 MiB over TCP",
         {"write", "4", std::to_string(16u << 20), "15"}, 120s);
  if (std::string("trickling reader").rfind(only, 0) == 0)
    trickle();
  return 0;
}
