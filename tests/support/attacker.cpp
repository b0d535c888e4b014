// A hostile client of the map service, as a process of its own so that its
// sockets are not the test's.  Usage:
//   attacker stall IOR N DECLARED SENT  N connections, each sending the start
//       of a setGridMap request that declares DECLARED map octets, SENT of
//       them, then nothing; prints "sent K" once all have sent (K still
//       open), then "dropped MS" as the service closes each, MS counted from
//       the end of its sending, and "all dropped" when none is left.
//   attacker flood IOR N                N connections, each sending 64 random
//       octets and closing at once; prints "flooded MS" when done.
//   attacker read IOR N BYTES [SOCKET]  N readers that each ask for the map
//       and read nothing, a BYTES map stored before each (so that each asks
//       for another version); over TCP, or the local socket file SOCKET.
//       Prints "refused R" (closed, or answered at once: no reply under
//       way) and "sent K" (K held with a reply under way), "dropped MS" as
//       the service closes each, reading nothing, and "all dropped".
//   attacker write IOR N BYTES ROUNDS   N client threads of an ORB over TCP,
//       each storing a BYTES map ROUNDS times (large requests in fragments);
//       prints "wrote C calls, F failed, MS ms".
#include "RawGiop.h"

#include <Korvent.hh>

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

  void watchDrops(std::vector<Stalled>& connections);

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
    watchDrops(connections);
  }

  // Says "dropped MS" as the service closes each connection, then "all dropped".
  // One look, up to `timeoutMs`, for connections the service closed; says
  // "dropped MS" for each.  With `reading`, what
  // arrives is discarded; without, nothing is read (a stalled reader stays
  // stalled) and only the close is noticed.  False once none is open.
  bool noteDrops(std::vector<Stalled>& connections, int timeoutMs, bool reading)
  {
    std::vector<pollfd> watched;
    for (const Stalled& c : connections)
      if (c.open)
        watched.push_back({c.fd, static_cast<short>(reading ? POLLIN : POLLRDHUP), 0});
    if (watched.empty())
      return false;
    if (poll(watched.data(), watched.size(), timeoutMs) <= 0)
      return true;
    for (const pollfd& p : watched) {
      if (!p.revents)
        continue;
      char buffer[4096];
      if (reading && recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
        continue;  // a reply or message before the close
      for (Stalled& c : connections)
        if (c.fd == p.fd) {
          c.open = false;
          say("dropped " + std::to_string(msSince(c.sent)));
        }
    }
    return true;
  }

  void watchDrops(std::vector<Stalled>& connections)
  {
    for (Stalled& c : connections)
      if (c.fd >= 0 && !c.open)
        say("dropped " + std::to_string(msSince(c.sent)));
    while (noteDrops(connections, 1000, true)) {
    }
    say("all dropped");
  }

  // A whole setGridMap of `bytes` filler octets, answered; false if not.
  bool store(const IiopAddress& address, uint32_t id, uint32_t bytes)
  {
    const int fd = connectTcp(address.host, address.port);
    // 4096 cells a row, so that a client reading a corner of it is served.
    bool stored = fd >= 0 &&
                  sendAll(fd, partialSetGridMapRequest(address.objectKey, id, bytes, 0, 4096,
                                                       static_cast<uint16_t>(bytes / 4096))) &&
                  sendFiller(fd, bytes);
    try {
      stored = stored && !readGiopMessageBody(fd, std::chrono::seconds(60)).empty();
    }
    catch (const std::runtime_error&) {
      stored = false;
    }
    if (fd >= 0)
      close(fd);
    return stored;
  }

  // Readers that ask for the whole map (or, given the region service's
  // object key, for all its rows in 4096 columns) and read nothing.
  void slowReaders(const IiopAddress& address, int count, uint32_t bytes, const std::string& socketPath,
                   const std::string& regionKey = "")
  {
    std::vector<Stalled> connections(static_cast<std::size_t>(count));
    int refused = 0;
    for (int i = 0; i < count; ++i) {
      Stalled& c = connections[static_cast<std::size_t>(i)];
      if (!store(address, static_cast<uint32_t>(2 * i + 1), bytes))
        say("store failed");
      c.fd = socketPath.empty() ? connectTcp(address.host, address.port) : connectUnix(socketPath);
      const uint32_t id = static_cast<uint32_t>(2 * i + 2);
      c.open = c.fd >= 0 && sendAll(c.fd, regionKey.empty()
                                              ? getGridMapRequest(address.objectKey, id)
                                              : getRegionRequest(regionKey, id, 0, 0, 4096,
                                                                 static_cast<int32_t>(bytes / 4096)));
      const Clock::time_point asked = Clock::now();
      while (c.open && pendingBytes(c.fd) == 0 && Clock::now() - asked < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      // A connection refused has nothing to read; an exception is answered
      // whole, and small; a reply of the map is neither.
      if (c.open && pendingBytes(c.fd) < 4096) {
        ++refused;
        close(c.fd);
        c = Stalled{};
      }
      c.sent = Clock::now();
      // Readers asked earlier may go while later ones are being set up (the
      // ones still to come are not open yet).
      noteDrops(connections, 0, false);
    }
    say("refused " + std::to_string(refused));
    say("sent " + std::to_string(std::count_if(connections.begin(), connections.end(),
                                               [](const Stalled& c) { return c.open; })));
    while (noteDrops(connections, 1000, false)) {
    }
    say("all dropped");
  }

  void fragmentedWriters(const std::string& ior, int count, std::size_t bytes, int rounds)
  {
    std::vector<std::string> options{"attacker", "-ORBgiopMaxMsgSize", "268435456", "-ORBclientTransportRule",
                                     "* tcp"};
    std::vector<char*> argv;
    for (std::string& o : options)
      argv.push_back(o.data());
    int argc = static_cast<int>(argv.size());
    CORBA::ORB_var orb = CORBA::ORB_init(argc, argv.data());
    CORBA::Object_var object = orb->string_to_object(ior.c_str());
    Korvent_var service = Korvent::_narrow(object);
    omniORB::setClientCallTimeout(service, 120000);
    std::atomic<int> calls{0}, failed{0};
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> writers;
    for (int w = 0; w < count; ++w)
      writers.emplace_back([&] {
        RTC::TimedOctetSeq map;
        map.data.length(static_cast<CORBA::ULong>(bytes));
        for (int round = 0; round < rounds; ++round) {
          ++calls;
          try {
            service->setGridMap(4096, static_cast<CORBA::Short>(bytes / 4096), map);
          }
          catch (const CORBA::SystemException&) {
            ++failed;
          }
        }
      });
    for (std::thread& t : writers)
      t.join();
    say("wrote " + std::to_string(calls.load()) + " calls, " + std::to_string(failed.load()) + " failed, " +
        std::to_string(msSince(start)) + " ms");
    orb->destroy();
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
  const bool known = mode == "flood" || ((mode == "stall" || mode == "write" || mode == "regions") && argc >= 6) ||
                     (mode == "read" && argc >= 5);
  if (argc < 4 || !known) {
    std::fprintf(stderr, "usage: attacker stall IOR N DECLARED SENT | flood IOR N | read IOR N BYTES [SOCKET] | "
                         "regions IOR N BYTES REGION_IOR | write IOR N BYTES ROUNDS\n");
    return 2;
  }
  const IiopAddress address = iiopAddressOf(argv[2]);
  const int count = std::atoi(argv[3]);
  if (mode == "stall")
    stall(address, count, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)),
          static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)));
  else if (mode == "read")
    slowReaders(address, count, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), argc > 5 ? argv[5] : "");
  else if (mode == "regions")
    slowReaders(address, count, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), "",
                iiopAddressOf(argv[5]).objectKey);
  else if (mode == "write")
    fragmentedWriters(argv[2], count, std::strtoul(argv[4], nullptr, 10), std::atoi(argv[5]));
  else
    flood(address, count);
  return 0;
}
