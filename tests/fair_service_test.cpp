// Stalled, flooding and greedy clients against the real KorventComp: a
// client already served stays served, the stored map stays as it was, and
// sockets and threads come back once the attackers are gone.
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "RawGiop.h"
#include "TemporaryFolder.h"

#include <rtm/orb/RefusalMinor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  constexpr auto grace = 2s;

  // The attacker program; its lines read as they come.
  struct Attacker
  {
    explicit Attacker(const std::vector<std::string>& args)
    {
      std::vector<std::string> argv{ATTACKER_PATH};
      argv.insert(argv.end(), args.begin(), args.end());
      process = std::make_unique<ChildProcess>(argv);
    }

    // Reads lines until one starts with `prefix`; the rest of that line.
    std::optional<std::string> lineStarting(const std::string& prefix, std::chrono::milliseconds timeout)
    {
      const auto end = std::chrono::steady_clock::now() + timeout;
      while (std::chrono::steady_clock::now() < end) {
        std::optional<std::string> line = process->readLine(100ms);
        if (line && line->rfind(prefix, 0) == 0)
          return line->substr(prefix.size());
        dropped += line && line->rfind("dropped", 0) == 0 ? 1 : 0;
      }
      return std::nullopt;
    }

    std::unique_ptr<ChildProcess> process;
    int dropped = 0;
  };

  class FairService : public ::testing::Test
  {
  protected:
    void start(const std::vector<std::string>& extraArgs)
    {
      // The limits watch TCP: without the local socket, the well-behaved
      // client of this host takes a TCP place like the attackers.
      std::vector<std::string> args{"-o", "corba.request.grace:" + std::to_string(grace.count()), "-o",
                                    "corba.local.enable:NO"};
      args.insert(args.end(), extraArgs.begin(), extraArgs.end());
      korvent_ = std::make_unique<RunningKorvent>(args);
      korvent_->service->setGridMap(32, 32, makeMap(map_));
      address_ = iiopAddressOf(korvent_->serviceIor);
      expectServed();  // the good client's connection is open from here on
      idleSockets_ = openSockets(pid());
      idleThreads_ = procStatus(pid(), "Threads");
    }

    void TearDown() override
    {
      if (!korvent_)
        return;
      expectServed();
      std::optional<int> status = korvent_->process->stop(SIGTERM, 30s);
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << korvent_->process->errorOutput();
    }

    pid_t pid() const { return korvent_->process->pid(); }

    // The warning may come a moment after the connection it is about closed.
    bool logSays(const std::string& text)
    {
      return waitFor([&] { return korvent_->process->errorOutput().find(text) != std::string::npos; }, 20s);
    }

    std::size_t timesLogged(const std::string& text)
    {
      const std::string log = korvent_->process->errorOutput();
      std::size_t times = 0;
      for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++times;
      return times;
    }

    // The connected client gets the map as it was stored.
    void expectServed()
    {
      RTC::TimedOctetSeq got;
      CORBA::Short width = 0, height = 0;
      try {
        korvent_->service->getGridMap(width, height, got);
      }
      catch (const CORBA::SystemException& e) {
        ADD_FAILURE() << "the connected client was not served: " << e._name();
        return;
      }
      EXPECT_EQ(map_, octetsOf(got));
      EXPECT_EQ(32, width);
    }

    void expectResourcesBack()
    {
      // A few for the ORB's own bookkeeping beside the idle figures.
      EXPECT_TRUE(waitFor([&] { return openSockets(pid()) <= idleSockets_ + 2; }, 20s))
        << openSockets(pid()) << " sockets open, " << idleSockets_ << " when idle";
      EXPECT_TRUE(waitFor([&] { return procStatus(pid(), "Threads") <= idleThreads_ + 4; }, 20s))
        << procStatus(pid(), "Threads") << " threads, " << idleThreads_ << " when idle";
    }

    const std::vector<CORBA::Octet> map_ = std::vector<CORBA::Octet>(1024, 7);
    std::unique_ptr<RunningKorvent> korvent_;
    IiopAddress address_;
    long idleSockets_ = 0;
    long idleThreads_ = 0;
  };
}

TEST_F(FairService, StalledRequestsHoldOnlyTheirOwnConnectionsAndAreDropped)
{
  // More stalled requests than the ORB's pool of threads once had room for.
  // A window long enough that none is dropped before the checks below.
  constexpr int limit = 40;
  constexpr auto window = 30s;
  start({"-o", "corba.max_connections:" + std::to_string(limit), "-o",
         "corba.max_connections_per_host:" + std::to_string(limit), "-o",
         "corba.request.grace:" + std::to_string(window.count())});
  // 8 MiB each: all of them together stay within the memory budget.
  Attacker stalled({"stall", korvent_->serviceIor, std::to_string(limit), std::to_string(8u << 20),
                    std::to_string(1u << 20)});
  std::optional<std::string> sent = stalled.lineStarting("sent ", 60s);
  ASSERT_TRUE(sent) << stalled.process->errorOutput();
  const int held = std::atoi(sent->c_str());
  EXPECT_GE(held, limit - 4) << "stalled connections let in";

  // With every place taken, the connected client is served, and a new
  // client is turned away at once rather than left waiting.
  expectServed();
  // (Whether a place is left depends on how many of the burst's
  // connections the limit's view of the table let in; exactly who is
  // refused is the hostile peers test's business.)
  EXPECT_NE(FreshCall::Unanswered, freshGetGridMap(address_, 5s)) << "a client beyond the limit was left waiting";

  EXPECT_TRUE(stalled.lineStarting("all dropped", window * 3 + 30s)) << stalled.dropped << " of " << held << " dropped";
  EXPECT_TRUE(logSays("corba.request.min_rate"));
  expectResourcesBack();
  EXPECT_EQ(FreshCall::Answered, freshGetGridMap(address_, 10s)) << "a new client is not served after the attack";
}

TEST_F(FairService, OneHostCannotTakeEveryConnection)
{
  constexpr int perHost = 4;
  start({"-o", "corba.max_connections_per_host:" + std::to_string(perHost)});
  // Both source addresses are the loopback's: one host.  The connected
  // client holds one of its places already.
  std::vector<int> sockets;
  int kept = 0;
  for (const char* source : {"127.0.0.1", "127.0.0.2", "127.0.0.1", "127.0.0.2", "127.0.0.2", "127.0.0.1"}) {
    const int fd = connectTcp(address_.host, address_.port, source);
    ASSERT_GE(fd, 0) << source;
    sockets.push_back(fd);
    kept += closedByPeer(fd, 1s) ? 0 : 1;
  }
  EXPECT_EQ(perHost - 1, kept);
  for (int fd : sockets)
    close(fd);
  EXPECT_TRUE(waitFor([&] { return freshGetGridMap(address_, 2s) == FreshCall::Answered; }, 20s));
}

TEST_F(FairService, ConnectionsAreCountedOnEveryEndPointAndOverTheLocalSocketApart)
{
  // Two TCP end points share one limit, the local socket has its own: a
  // connection on one must not make the limit forget those on another.
  constexpr int network = 3, local = 2;
  TemporaryFolder folder;
  const int first = freeLoopbackPort(), second = freeLoopbackPort();
  start({"-o", "corba.local.enable:YES", "-o", "corba.local.folder:" + folder / "sockets", "-o",
         "corba.endpoints:127.0.0.1:" + std::to_string(first) + ",127.0.0.1:" + std::to_string(second), "-o",
         "corba.max_connections:" + std::to_string(network), "-o",
         "corba.local.max_connections:" + std::to_string(local)});
  const std::vector<std::string> files = TemporaryFolder::entriesOf(folder / "sockets");
  ASSERT_EQ(1u, files.size());
  const std::string socketPath = folder / "sockets/" + files[0];

  std::vector<int> sockets;
  auto kept = [&](int fd) {
    EXPECT_GE(fd, 0);
    sockets.push_back(fd);
    return fd >= 0 && !closedByPeer(fd, 1s);
  };
  // The connected client may hold a network place, a local one, or both.
  int networkKept = 0, localKept = 0;
  for (int i = 0; i < network; ++i)
    networkKept += kept(connectTcp("127.0.0.1", first)) ? 1 : 0;
  EXPECT_GE(networkKept, network - 1);
  for (int i = 0; i <= local; ++i)
    localKept += kept(connectUnix(socketPath)) ? 1 : 0;
  EXPECT_GE(localKept, local - 1) << "local connections are held to the network limit";
  EXPECT_LT(localKept, local + 1) << "the local socket has no limit";
  // Every network place is taken, on whichever end point.
  EXPECT_FALSE(kept(connectTcp("127.0.0.1", second))) << "the other end point's connections were forgotten";
  EXPECT_FALSE(kept(connectTcp("127.0.0.1", first))) << "the local connections made the limit forget the others";
  for (int fd : sockets)
    close(fd);
  EXPECT_TRUE(waitFor([&] { return freshGetGridMap({"127.0.0.1", second, address_.objectKey}, 2s) ==
                                   FreshCall::Answered; }, 20s));
}

TEST_F(FairService, FloodOfGarbageConnectionsEndsQuickly)
{
  start({});
  Attacker flood({"flood", korvent_->serviceIor, "2000"});
  ASSERT_TRUE(flood.lineStarting("flooded ", 120s)) << flood.process->errorOutput();
  // A place freed is seen within moments, not at once.
  EXPECT_TRUE(waitFor([&] { return freshGetGridMap(address_, 2s) == FreshCall::Answered; }, 60s))
    << "a new client is not served after the flood";
  expectResourcesBack();
}

TEST_F(FairService, RequestsBeyondTheMemoryBudgetAreRefusedAtTheirHeader)
{
  // Room for one 40 MiB request in flight, not two; no silent one is
  // dropped for its rate while the test runs.
  start({"-o", "corba.memory.in_flight:" + std::to_string(64u << 20), "-o", "corba.request.grace:600"});
  const std::vector<std::string> request{"stall", korvent_->serviceIor, "1", std::to_string(40u << 20),
                                         std::to_string(1u << 20)};
  auto first = std::make_unique<Attacker>(request);
  ASSERT_EQ("1", first->lineStarting("sent ", 30s).value_or("none"));
  auto second = std::make_unique<Attacker>(request);
  // Requests are booked as the watch comes upon their headers, which on a
  // loaded machine may be the second's first: either way one alone is let in.
  const bool secondRefused = second->lineStarting("all dropped", 20s).has_value();
  const bool firstRefused = first->lineStarting("all dropped", secondRefused ? 1s : 20s).has_value();
  EXPECT_NE(firstRefused, secondRefused) << "both requests, or neither, were let in";
  EXPECT_TRUE(logSays("busy: in-flight budget"));
  expectServed();

  // Once the one let in is gone, its octets are free again.
  first.reset();
  second.reset();
  EXPECT_TRUE(waitFor([&] {
    Attacker third(request);
    return third.lineStarting("sent ", 30s).value_or("none") == "1" && !third.lineStarting("dropped", 1s);
  }, 30s));
}

TEST_F(FairService, ConcurrentWritersInFragmentsWithinTheBudgetAllSucceed)
{
  // The ORB sends these maps in fragments.  Four 8 MiB requests fit a
  // 64 MiB budget; four at the message size limit would not fit even one.
  start({"-o", "corba.memory.in_flight:" + std::to_string(64u << 20)});
  constexpr int writers = 4, rounds = 5;
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w)
    threads.emplace_back([&, w] {
      const RTC::TimedOctetSeq map = makeMap(std::vector<CORBA::Octet>(8u << 20, static_cast<CORBA::Octet>(w)));
      for (int round = 0; round < rounds; ++round) {
        try {
          korvent_->service->setGridMap(-1, -1, map);
        }
        catch (const CORBA::SystemException&) {
          ++failed;
        }
      }
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(0, failed.load()) << korvent_->process->errorOutput();
  EXPECT_EQ(std::string::npos, korvent_->process->errorOutput().find("busy: in-flight budget"));
  korvent_->service->setGridMap(32, 32, makeMap(map_));  // what the checks at the end expect
}

TEST_F(FairService, RepliesAreBookedForWhatTheyPinAndReadersThatStopAreDropped)
{
  // Room for one superseded 24 MiB map held by a reply, not two; a grace
  // long enough that every reader is still held when the last one asks,
  // even in a sanitizer build.
  start({"-o", "corba.memory.replies:" + std::to_string(40u << 20), "-o", "corba.reply.grace:10"});
  constexpr int width = 4096, height = 6144;
  constexpr std::size_t bytes = std::size_t(width) * height;  // far more than the socket buffers hold
  auto storeWhole = [&](CORBA::Octet value) {
    korvent_->service->setGridMap(width, height, makeMap(std::vector<CORBA::Octet>(bytes, value)));
  };
  // A reader that asks for the whole map and reads nothing; true once it
  // is being answered with the map rather than an exception.
  std::vector<int> readers;
  auto stalledReader = [&](uint32_t id) {
    readers.push_back(connectTcp(address_.host, address_.port));
    EXPECT_TRUE(sendAll(readers.back(), getGridMapRequest(address_.objectKey, id)));
    return waitFor([&] { return pendingBytes(readers.back()) > 65536; }, 20s);
  };

  storeWhole(1);
  EXPECT_TRUE(stalledReader(1));
  // One cell changed: the new version shares every tile but one with the
  // one being sent, and the map being served costs a reply nothing.
  KorventRegion::CellSeq cell(1);
  cell.length(1);
  cell[0] = 9;
  korvent_->region->setRegion(0, 0, 1, 1, cell);
  EXPECT_TRUE(stalledReader(2)) << "a reader was refused after a one-cell change";
  storeWhole(2);
  EXPECT_TRUE(stalledReader(3)) << "a reader of the map being served was refused";
  // Now the first map and the second are both pinned by readers: 48 MiB.
  storeWhole(3);
  const int refused = connectTcp(address_.host, address_.port);
  ASSERT_TRUE(sendAll(refused, getGridMapRequest(address_.objectKey, 4)));
  const std::string answer = readGiopMessageBody(refused, 20s);
  close(refused);
  EXPECT_NE(std::string::npos, answer.find("CORBA/TRANSIENT")) << answer.size() << " octets answered";
  EXPECT_TRUE(logSays("busy: reply budget"));

  // The readers that stopped go after the grace, and their maps' octets
  // with them: a new reader of the current map is served whole.
  // (Reading one before it is dropped would let it finish.)
  EXPECT_TRUE(waitFor([&] { return timesLogged("dropped a reply of " + std::to_string(bytes)) == readers.size(); },
                      30s));
  for (int reader : readers) {
    EXPECT_TRUE(closedByPeer(reader, 20s));
    close(reader);
  }
  const int next = connectTcp(address_.host, address_.port);
  ASSERT_TRUE(sendAll(next, getGridMapRequest(address_.objectKey, 5)));
  EXPECT_GE(readGiopMessageBody(next, 60s).size(), bytes);
  close(next);
  korvent_->service->setGridMap(32, 32, makeMap(map_));  // what the checks at the end expect
}

TEST_F(FairService, RegionRepliesAreWatchedAndOnesTheBudgetCannotHoldAreRefusedForGood)
{
  start({"-o", "corba.memory.replies:" + std::to_string(4u << 20), "-o", "corba.reply.grace:2"});
  constexpr int width = 4096, height = 2048;  // 8 MiB, twice the budget
  korvent_->service->setGridMap(width, height, makeMap(std::vector<CORBA::Octet>(std::size_t(width) * height, 5)));

  // The map being served is sent whatever its size; a copy of all of it
  // for a region could never fit, and says so.
  RTC::TimedOctetSeq whole;
  CORBA::Short w = 0, h = 0;
  korvent_->service->getGridMap(w, h, whole);
  EXPECT_EQ(std::size_t(width) * height, whole.data.length());
  CORBA::ULongLong version = 0;
  try {
    KorventRegion::CellSeq_var cells = korvent_->region->getRegion(0, 0, width, height, version);
    ADD_FAILURE() << "a region reply over the budget was sent";
  }
  catch (const CORBA::NO_RESOURCES& refused) {
    EXPECT_EQ(RTC::refusalMinor::replyOverBudget, refused.minor());
  }
  EXPECT_TRUE(logSays("raise it to serve such replies"));

  // A region reader that reads nothing is dropped after the grace.
  const IiopAddress region = iiopAddressOf(CORBA::String_var(clientOrb()->object_to_string(korvent_->region)).in());
  const int stalled = connectTcp(region.host, region.port);
  ASSERT_TRUE(sendAll(stalled, getRegionRequest(region.objectKey, 1, 0, 0, width, 768)));
  ASSERT_TRUE(waitFor([&] { return pendingBytes(stalled) > 65536; }, 20s));
  EXPECT_TRUE(logSays("dropped a reply of " + std::to_string(width * 768)));
  EXPECT_TRUE(closedByPeer(stalled, 20s));
  close(stalled);
  korvent_->service->setGridMap(32, 32, makeMap(map_));  // what the checks at the end expect
}
