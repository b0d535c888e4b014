// The grid-map service over real IIOP on loopback, against a server process.
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "RawGiop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  class GridMapService : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      std::vector<std::string> argv{STORE_SERVER_PATH, "-ORBendPoint", "giop:tcp:127.0.0.1:"};
      for (const std::string& o : largeMessageOrbOptions())
        argv.push_back(o);
      server_ = std::make_unique<ChildProcess>(argv);
      std::optional<std::string> ior = server_->readLine(20s);
      ASSERT_TRUE(ior) << server_->errorOutput();
      service_ = korventFromString(*ior);
      ASSERT_FALSE(CORBA::is_nil(service_));
    }

    void TearDown() override
    {
      // A clean exit also proves the sanitizers found nothing in the server.
      std::optional<int> status = server_->stop(SIGTERM, 20s);
      ASSERT_TRUE(status);
      EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
          << "server status " << *status << "\n" << server_->errorOutput();
    }

    std::unique_ptr<ChildProcess> server_;
    Korvent_var service_;
  };

  // Octets derived from the map's own width and height, so that a payload
  // paired with the wrong values, or mixed from two maps, is detected.
  std::vector<CORBA::Octet> derivedOctets(CORBA::Short width, CORBA::Short height)
  {
    std::size_t length = 1000 + static_cast<std::size_t>(width & 0x3f) * 997;
    std::vector<CORBA::Octet> octets(length);
    for (std::size_t i = 0; i < length; ++i)
      octets[i] = static_cast<CORBA::Octet>(width * 31 + height * 7 + i);
    return octets;
  }
}

TEST_F(GridMapService, FreshStoreAnswersEmptyWithTheCallersTimeStamp)
{
  for (int call = 0; call < 2; ++call) {
    RTC::TimedOctetSeq map = makeMap({}, 123, 456);
    CORBA::Short width = 99, height = 99;
    EXPECT_FALSE(service_->getGridMap(width, height, map));
    EXPECT_EQ(0u, map.data.length());
    EXPECT_EQ(0, width);
    EXPECT_EQ(0, height);
    EXPECT_EQ(123u, map.tm.sec);
    EXPECT_EQ(456u, map.tm.nsec);
  }
}

TEST_F(GridMapService, ReplacementIsWholeAndEmptyPayloadIsStored)
{
  EXPECT_FALSE(service_->setGridMap(10, 20, makeMap(std::vector<CORBA::Octet>(10000, 0xAB))));
  EXPECT_FALSE(service_->setGridMap(3, 1, makeMap({1, 2, 3})));
  RTC::TimedOctetSeq map;
  CORBA::Short width = 0, height = 0;
  service_->getGridMap(width, height, map);
  EXPECT_EQ((std::vector<CORBA::Octet>{1, 2, 3}), octetsOf(map));
  EXPECT_EQ(3, width);
  EXPECT_EQ(1, height);

  EXPECT_FALSE(service_->setGridMap(-5, 7, makeMap({})));
  RTC::TimedOctetSeq emptied = makeMap({9, 9, 9, 9});
  EXPECT_FALSE(service_->getGridMap(width, height, emptied));
  EXPECT_EQ(0u, emptied.data.length());
  EXPECT_EQ(-5, width);
  EXPECT_EQ(7, height);
}

TEST_F(GridMapService, EveryOctetValueAndExtremeDimensionsComeBackExactly)
{
  std::vector<CORBA::Octet> all(256);
  for (int i = 0; i < 256; ++i)
    all[i] = static_cast<CORBA::Octet>(i);
  const CORBA::Short extremes[] = {-32768, -1, 0, 32767};
  for (CORBA::Short w : extremes) {
    for (CORBA::Short h : extremes) {
      EXPECT_FALSE(service_->setGridMap(w, h, makeMap(all, 1, 2)));
      RTC::TimedOctetSeq map = makeMap({}, 77, 88);
      CORBA::Short width = 1, height = 1;
      EXPECT_FALSE(service_->getGridMap(width, height, map));
      EXPECT_EQ(all, octetsOf(map));
      EXPECT_EQ(w, width);
      EXPECT_EQ(h, height);
      // The stored time stamp is dropped; the caller's comes back.
      EXPECT_EQ(77u, map.tm.sec);
      EXPECT_EQ(88u, map.tm.nsec);
    }
  }
}

TEST_F(GridMapService, CallersBufferIsResizedToTheStoredLength)
{
  std::vector<CORBA::Octet> stored(100);
  for (std::size_t i = 0; i < stored.size(); ++i)
    stored[i] = static_cast<CORBA::Octet>(255 - i);
  service_->setGridMap(10, 10, makeMap(stored));

  CORBA::Short width, height;
  RTC::TimedOctetSeq longer = makeMap(std::vector<CORBA::Octet>(5000, 0xEE));
  service_->getGridMap(width, height, longer);
  EXPECT_EQ(stored, octetsOf(longer));

  RTC::TimedOctetSeq shorter = makeMap(std::vector<CORBA::Octet>(10, 0xEE));
  service_->getGridMap(width, height, shorter);
  EXPECT_EQ(stored, octetsOf(shorter));
}

TEST_F(GridMapService, SixtyFourMebibyteMapRoundTrips)
{
  std::vector<CORBA::Octet> big(64u << 20);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<CORBA::Octet>((i * 2654435761u) >> 13);
  EXPECT_FALSE(service_->setGridMap(8192, 8192, makeMap(big)));
  RTC::TimedOctetSeq map;
  CORBA::Short width = 0, height = 0;
  EXPECT_FALSE(service_->getGridMap(width, height, map));
  ASSERT_EQ(big.size(), map.data.length());
  EXPECT_TRUE(std::equal(big.begin(), big.end(), map.data.get_buffer()));
  EXPECT_EQ(8192, width);
  EXPECT_EQ(8192, height);
}

TEST_F(GridMapService, AMapLongerThanItsRequestIsRefusedAndChangesNothing)
{
  const std::vector<CORBA::Octet> kept{1, 2, 3, 4};
  ASSERT_FALSE(service_->setGridMap(2, 2, makeMap(kept)));
  const IiopAddress address = iiopAddressOf(CORBA::String_var(clientOrb()->object_to_string(service_)).in());
  // A complete request of 8 octets whose map says it holds 1 GiB.
  std::string request = partialSetGridMapRequest(address.objectKey, 7, 8, 8);
  const CORBA::ULong declared = 1u << 30;
  request.replace(request.size() - 12, 4, reinterpret_cast<const char*>(&declared), 4);
  const int fd = connectTcp(address.host, address.port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, request));
  const std::string reply = readGiopMessageBody(fd, 20s);
  close(fd);
  EXPECT_NE(std::string::npos, reply.find("IDL:omg.org/CORBA/MARSHAL:1.0"));
  // Refused before any room was made for the octets it claimed.
  EXPECT_LT(procStatus(server_->pid(), "VmHWM"), 512L << 10);

  RTC::TimedOctetSeq map;
  CORBA::Short width = 0, height = 0;
  service_->getGridMap(width, height, map);
  EXPECT_EQ(kept, octetsOf(map));
  EXPECT_EQ(2, width);
}

TEST_F(GridMapService, ConcurrentWritersAndReadersNeverSeeATornMap)
{
  std::atomic<bool> stop{false};
  std::atomic<long> reads{0}, torn{0}, failures{0};

  auto writer = [&](CORBA::Short seed) {
    Korvent_var service = Korvent::_duplicate(service_);
    for (CORBA::Short round = 0; !stop; ++round) {
      CORBA::Short width = static_cast<CORBA::Short>(seed * 100 + (round % 97));
      CORBA::Short height = static_cast<CORBA::Short>(-seed - (round % 13));
      try {
        service->setGridMap(width, height, makeMap(derivedOctets(width, height)));
      } catch (const CORBA::Exception&) {
        ++failures;
      }
    }
  };
  auto reader = [&] {
    Korvent_var service = Korvent::_duplicate(service_);
    RTC::TimedOctetSeq map;
    while (!stop) {
      CORBA::Short width = 0, height = 0;
      try {
        service->getGridMap(width, height, map);
      } catch (const CORBA::Exception&) {
        ++failures;
        continue;
      }
      ++reads;
      if (map.data.length() == 0 && width == 0 && height == 0)
        continue;  // nothing stored yet
      if (octetsOf(map) != derivedOctets(width, height))
        ++torn;
    }
  };

  std::vector<std::thread> threads;
  for (CORBA::Short seed = 1; seed <= 3; ++seed)
    threads.emplace_back(writer, seed);
  for (int i = 0; i < 3; ++i)
    threads.emplace_back(reader);
  std::this_thread::sleep_for(3s);  // the test's duration, not a wait for a condition
  stop = true;
  for (std::thread& t : threads)
    t.join();

  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(0, torn.load());
  EXPECT_EQ(0, failures.load());
}
