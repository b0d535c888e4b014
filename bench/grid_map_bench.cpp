// Throughput and latency of setGridMap/getGridMap over TCP on the loopback
// and over a Unix-domain socket, each next to two baselines measured in the
// same run: a bare-ORB servant over the same ORB settings, and a raw socket
// of the same kind moving the same bytes.  Usage: grid_map_bench [repetition-scale]
#include "BareOrb.hh"
#include "BenchServer.h"
#include "GridMapClient.h"
#include "RawSocket.h"
#include "TemporaryFolder.h"
#include "rtm/manager/MemoryPolicy.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;

  struct Timing
  {
    double median;  // seconds
    double best;
    double spread;  // how far the medians of the two halves of the run differ, relative
  };

  double medianOf(std::vector<double> seconds)
  {
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
  }

  Timing timingOf(const std::vector<double>& seconds)
  {
    const std::size_t half = seconds.size() / 2;
    const double first = medianOf({seconds.begin(), seconds.begin() + half});
    const double second = medianOf({seconds.begin() + half, seconds.end()});
    const double median = medianOf(seconds);
    return {median, *std::min_element(seconds.begin(), seconds.end()), std::abs(first - second) / median};
  }

  // Times each call `repetitions` times, taking them in turns, so that a
  // change in the machine's load falls on every call alike rather than on
  // whichever was being measured then.
  std::vector<Timing> measureInTurns(int repetitions, const std::vector<std::function<void()>>& calls)
  {
    for (const auto& call : calls) {
      call();  // warm-up: connection set-up and first-touch of buffers
      call();
    }
    std::vector<std::vector<double>> seconds(calls.size());
    for (int i = 0; i < repetitions; ++i)
      for (std::size_t c = 0; c < calls.size(); ++c) {
        Clock::time_point start = Clock::now();
        calls[c]();
        seconds[c].push_back(std::chrono::duration<double>(Clock::now() - start).count());
      }
    std::vector<Timing> timings;
    for (const auto& s : seconds)
      timings.push_back(timingOf(s));
    return timings;
  }

  double megabytesPerSecond(std::size_t bytes, double seconds)
  {
    return static_cast<double>(bytes) / seconds / 1e6;
  }

  std::string sizeName(std::size_t bytes)
  {
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MiB"
                               : std::to_string(bytes >> 10) + " KiB";
  }

  // One transport's server and the medians measured over it.
  struct Transport
  {
    const char* name;
    BenchServer server;
    Korvent_var korvent;
    BareOrb_var bare;
    std::unique_ptr<RawSocketClient> raw;
  };

  struct Row
  {
    Timing raw, put, take, set, get, ping;
  };

  BareOrb_ptr bareOrbFromString(const std::string& ior)
  {
    CORBA::Object_var object = clientOrb()->string_to_object(ior.c_str());
    return BareOrb::_narrow(object);
  }
}

int main(int argc, char** argv)
{
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  RTC::retainLargeBuffers();

  TemporaryFolder sockets;
  Transport transports[2] = {{"TCP", startBenchServer(), {}, {}, {}},
                             {"Unix", startBenchServer(sockets.path()), {}, {}, {}}};
  for (Transport& t : transports) {
    t.korvent = korventFromString(t.server.lines[0]);
    t.bare = bareOrbFromString(t.server.lines[1]);
  }
  transports[0].raw = std::make_unique<RawSocketClient>("127.0.0.1", static_cast<uint16_t>(std::stoi(transports[0].server.lines[2])));
  transports[1].raw = std::make_unique<RawSocketClient>(UnixPath{transports[1].server.lines[2]});

  struct Size { std::size_t bytes; int repetitions; };
  const Size sizes[] = {
    {1u << 10, 6000}, {64u << 10, 500}, {1u << 20, 200}, {16u << 20, 60}, {64u << 20, 30}};

  std::printf("%-5s %-7s | %-22s | %-22s | %-22s | %-22s | %-22s | %-13s | %-13s\n", "via",
              "size", "raw MB/s med(best)", "bare put MB/s", "bare take MB/s",
              "setGridMap MB/s", "getGridMap MB/s", "set/raw,/bare", "get/raw,/bare");
  std::string spreads, targets;
  for (const Size& size : sizes) {
    const int reps = std::max(5, static_cast<int>(size.repetitions * scale));
    std::vector<CORBA::Octet> octets(size.bytes);
    for (std::size_t i = 0; i < octets.size(); ++i)
      octets[i] = static_cast<CORBA::Octet>(i * 131);
    RTC::TimedOctetSeq map = makeMap(octets);
    OctetSeq plain(static_cast<CORBA::ULong>(size.bytes), static_cast<CORBA::ULong>(size.bytes),
                   octets.data(), false);

    Row rows[2];
    for (int i = 0; i < 2; ++i) {
      Transport& t = transports[i];
      Row& row = rows[i];
      std::vector<std::function<void()>> calls{
          [&] { t.raw->roundTrip(reinterpret_cast<const char*>(octets.data()), octets.size()); },
          [&] { t.bare->put(plain); },
          [&] { OctetSeq_var back = t.bare->take(); },
          [&] { t.korvent->setGridMap(100, 100, map); },
          [&] {
            RTC::TimedOctetSeq reply;
            CORBA::Short width, height;
            t.korvent->getGridMap(width, height, reply);
            if (reply.data.length() != size.bytes)
              throw std::runtime_error("getGridMap returned the wrong length");
          },
          [&] { t.bare->ping(); }};
      const std::vector<Timing> timings = measureInTurns(reps, calls);
      row = {timings[0], timings[1], timings[2], timings[3], timings[4], timings[5]};

      char spread[200];
      std::snprintf(spread, sizeof spread,
                    "\n  %-4s %-7s raw %4.1f%%, put %4.1f%%, take %4.1f%%, set %4.1f%%, get %4.1f%%", t.name,
                    sizeName(size.bytes).c_str(), row.raw.spread * 100, row.put.spread * 100,
                    row.take.spread * 100, row.set.spread * 100, row.get.spread * 100);
      spreads += spread;

      auto cell = [&](const Timing& timing) {
        char text[64];
        std::snprintf(text, sizeof text, "%9.1f (%9.1f)",
                      megabytesPerSecond(size.bytes, timing.median), megabytesPerSecond(size.bytes, timing.best));
        return std::string(text);
      };
      std::printf("%-5s %-7s | %-22s | %-22s | %-22s | %-22s | %-22s | %5.2fx,%5.2fx | %5.2fx,%5.2fx\n", t.name,
                  sizeName(size.bytes).c_str(), cell(row.raw).c_str(), cell(row.put).c_str(),
                  cell(row.take).c_str(), cell(row.set).c_str(), cell(row.get).c_str(),
                  row.set.median / row.raw.median, row.set.median / row.put.median,
                  row.get.median / row.raw.median, row.get.median / row.take.median);
      if (size.bytes == (1u << 10)) {
        const Timing& ping = row.ping;
        std::printf("              latency at 1 KiB, median (best) us: ping %.1f (%.1f), setGridMap %.1f (%.1f) = "
                    "%.2fx, getGridMap %.1f (%.1f) = %.2fx\n",
                    ping.median * 1e6, ping.best * 1e6, row.set.median * 1e6, row.set.best * 1e6,
                    row.set.median / ping.median, row.get.median * 1e6, row.get.best * 1e6,
                    row.get.median / ping.median);
      }
    }
    const Row& tcp = rows[0];
    const Row& local = rows[1];
    char line[200];
    std::snprintf(line, sizeof line,
                  "\n  %-7s getGridMap over Unix / raw TCP %.2fx, / raw Unix %.2fx; setGridMap over Unix / raw Unix "
                  "%.2fx",
                  sizeName(size.bytes).c_str(), local.get.median / tcp.raw.median,
                  local.get.median / local.raw.median, local.set.median / local.raw.median);
    targets += line;
  }
  std::printf("times are per call, median of the repetitions; ratios are time over baseline time "
              "(lower is better)\n");
  std::printf("the local socket against the raw transfers:%s\n", targets.c_str());
  std::printf("run-to-run spread (difference of the medians of the two halves of each run): %s\n",
              spreads.c_str());

  for (Transport& t : transports) {
    t.korvent = Korvent::_nil();
    t.bare = BareOrb::_nil();
    t.raw.reset();
    t.server.process->stop(SIGTERM, std::chrono::seconds(20));
  }
  return 0;
}
