// Throughput and latency of setGridMap/getGridMap next to two baselines
// measured in the same run: a bare-ORB servant over the same ORB settings,
// and raw TCP on loopback.  Usage: grid_map_bench [repetition-scale]
#include "BareOrb.hh"
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "RawTcp.h"
#include "rtm/MemoryPolicy.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <functional>
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

  Timing measure(int repetitions, const std::function<void()>& call)
  {
    call();  // warm-up: connection set-up and first-touch of buffers
    call();
    std::vector<double> seconds;
    for (int i = 0; i < repetitions; ++i) {
      Clock::time_point start = Clock::now();
      call();
      seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    const std::size_t half = seconds.size() / 2;
    const double first = medianOf({seconds.begin(), seconds.begin() + half});
    const double second = medianOf({seconds.begin() + half, seconds.end()});
    const double median = medianOf(seconds);
    return {median, *std::min_element(seconds.begin(), seconds.end()), std::abs(first - second) / median};
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

  std::vector<std::string> serverArgv{BENCH_SERVER_PATH, "-ORBendPoint", "giop:tcp:127.0.0.1:"};
  for (const std::string& o : largeMessageOrbOptions())
    serverArgv.push_back(o);
  ChildProcess server(serverArgv);
  std::optional<std::string> korventIor = server.readLine(std::chrono::seconds(20));
  std::optional<std::string> bareIor = server.readLine(std::chrono::seconds(5));
  std::optional<std::string> tcpPort = server.readLine(std::chrono::seconds(5));
  if (!korventIor || !bareIor || !tcpPort) {
    std::fprintf(stderr, "bench server did not start:\n%s\n", server.errorOutput().c_str());
    return 1;
  }
  Korvent_var korvent = korventFromString(*korventIor);
  BareOrb_var bare = bareOrbFromString(*bareIor);
  RawTcpClient tcp("127.0.0.1", static_cast<uint16_t>(std::stoi(*tcpPort)));

  struct Size { std::size_t bytes; int repetitions; };
  const Size sizes[] = {
    {1u << 10, 2000}, {64u << 10, 500}, {1u << 20, 200}, {16u << 20, 60}, {64u << 20, 30}};

  std::printf("%-7s | %-22s | %-22s | %-22s | %-22s | %-22s | %-13s | %-13s\n",
              "size", "raw TCP MB/s med(best)", "bare put MB/s", "bare take MB/s",
              "setGridMap MB/s", "getGridMap MB/s", "set/TCP,/bare", "get/TCP,/bare");
  std::string spreads;
  for (const Size& size : sizes) {
    const int reps = std::max(5, static_cast<int>(size.repetitions * scale));
    std::vector<CORBA::Octet> octets(size.bytes);
    for (std::size_t i = 0; i < octets.size(); ++i)
      octets[i] = static_cast<CORBA::Octet>(i * 131);
    RTC::TimedOctetSeq map = makeMap(octets);
    OctetSeq plain(static_cast<CORBA::ULong>(size.bytes), static_cast<CORBA::ULong>(size.bytes),
                   octets.data(), false);

    Timing rawTcp = measure(reps, [&] {
      tcp.roundTrip(reinterpret_cast<const char*>(octets.data()), octets.size());
    });
    Timing put = measure(reps, [&] { bare->put(plain); });
    Timing take = measure(reps, [&] { OctetSeq_var back = bare->take(); });
    Timing set = measure(reps, [&] { korvent->setGridMap(100, 100, map); });
    Timing get = measure(reps, [&] {
      RTC::TimedOctetSeq reply;
      CORBA::Short width, height;
      korvent->getGridMap(width, height, reply);
      if (reply.data.length() != size.bytes)
        throw std::runtime_error("getGridMap returned the wrong length");
    });

    char spread[160];
    std::snprintf(spread, sizeof spread, "\n  %-7s raw %4.1f%%, put %4.1f%%, take %4.1f%%, set %4.1f%%, get %4.1f%%",
                  sizeName(size.bytes).c_str(), rawTcp.spread * 100, put.spread * 100, take.spread * 100,
                  set.spread * 100, get.spread * 100);
    spreads += spread;

    auto cell = [&](const Timing& t) {
      char text[64];
      std::snprintf(text, sizeof text, "%9.1f (%9.1f)",
                    megabytesPerSecond(size.bytes, t.median), megabytesPerSecond(size.bytes, t.best));
      return std::string(text);
    };
    std::printf("%-7s | %-22s | %-22s | %-22s | %-22s | %-22s | %5.2fx,%5.2fx | %5.2fx,%5.2fx\n",
                sizeName(size.bytes).c_str(), cell(rawTcp).c_str(), cell(put).c_str(),
                cell(take).c_str(), cell(set).c_str(), cell(get).c_str(),
                set.median / rawTcp.median, set.median / put.median,
                get.median / rawTcp.median, get.median / take.median);

    if (size.bytes == (1u << 10)) {
      Timing ping = measure(reps, [&] { bare->ping(); });
      std::printf("        latency at 1 KiB, median (best) us: ping %.1f (%.1f), setGridMap %.1f (%.1f) = %.2fx, "
                  "getGridMap %.1f (%.1f) = %.2fx\n",
                  ping.median * 1e6, ping.best * 1e6, set.median * 1e6, set.best * 1e6,
                  set.median / ping.median, get.median * 1e6, get.best * 1e6, get.median / ping.median);
    }
  }
  std::printf("times are per call, median of the repetitions; ratios are time over baseline time "
              "(lower is better)\n");
  std::printf("run-to-run spread (difference of the medians of the two halves of each run): %s\n",
              spreads.c_str());

  korvent = Korvent::_nil();
  bare = BareOrb::_nil();
  server.stop(SIGTERM, std::chrono::seconds(20));
  return 0;
}
