// A hostile client of the map service, as a process of its own so that its
// sockets are not the test's.  Usage:
//   attacker stall IOR N DECLARED SENT  N connections, each sending the start
//       of a setGridMap request that declares DECLARED map octets, SENT of
//       them, then nothing; prints "sent K" once all have sent (K still
//       open), then "dropped MS" as the service closes each, MS counted from
//       the end of its sending, and "all dropped" when none is left.
//   attacker flood IOR N                N connections, each sending 64 random
//       octets and closing at once; prints "flooded MS" when done.
#include "RawGiop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace
{
  std::mutex outputMutex;

  void say(const std::string& line)
  {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  long msSince(Clock::time_point start)
  {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  }

  struct Stalled
  {
    int fd = -1;
    Clock::time_point sent;
    bool open = false;
  };

  void stall(const IiopAddress& address, int count, uint32_t declared, uint32_t sentBytes)
  {
    std::vector<Stalled> connections(static_cast<std::size_t>(count));
    std::vector<std::thread> senders;
    for (int i = 0; i < count; ++i)
      senders.emplace_back([&, i] {
        Stalled& c = connections[static_cast<std::size_t>(i)];
        c.fd = connectTcp(address.host, address.port);
        c.open = c.fd >= 0 &&
                 sendAll(c.fd, partialSetGridMapRequest(address.objectKey, static_cast<uint32_t>(i + 1), declared, 0)) &&
                 sendFiller(c.fd, sentBytes);
        c.sent = Clock::now();
      });
    for (std::thread& t : senders)
      t.join();
    say("sent " + std::to_string(std::count_if(connections.begin(), connections.end(),
                                               [](const Stalled& c) { return c.open; })));
    for (Stalled& c : connections)
      if (c.fd >= 0 && !c.open)
        say("dropped " + std::to_string(msSince(c.sent)));
    for (;;) {
      std::vector<pollfd> watched;
      for (const Stalled& c : connections)
        if (c.open)
          watched.push_back({c.fd, POLLIN, 0});
      if (watched.empty())
        break;
      if (poll(watched.data(), watched.size(), 1000) <= 0)
        continue;
      for (const pollfd& p : watched) {
        if (!p.revents)
          continue;
        char buffer[4096];
        const ssize_t n = recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
          continue;  // a reply or message before the close
        for (Stalled& c : connections)
          if (c.fd == p.fd) {
            c.open = false;
            say("dropped " + std::to_string(msSince(c.sent)));
          }
      }
    }
    say("all dropped");
  }

  void flood(const IiopAddress& address, int count)
  {
    const Clock::time_point start = Clock::now();
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&, t] {
        std::mt19937 random(static_cast<unsigned>(t));
        std::string garbage(64, '\0');
        while (next++ < count) {
          const int fd = connectTcp(address.host, address.port);
          if (fd < 0)
            continue;
          std::generate(garbage.begin(), garbage.end(), [&] { return static_cast<char>(random()); });
          sendAll(fd, garbage);
          close(fd);
        }
      });
    for (std::thread& t : threads)
      t.join();
    say("flooded " + std::to_string(msSince(start)));
  }
}

int main(int argc, char** argv)
{
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc < 4 || (mode == "stall" && argc < 6) || (mode != "stall" && mode != "flood")) {
    std::fprintf(stderr, "usage: attacker stall IOR N DECLARED SENT | flood IOR N\n");
    return 2;
  }
  const IiopAddress address = iiopAddressOf(argv[2]);
  const int count = std::atoi(argv[3]);
  if (mode == "stall")
    stall(address, count, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)),
          static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)));
  else
    flood(address, count);
  return 0;
}
