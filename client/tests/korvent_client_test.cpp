// The client library against real processes: a name server, KorventComp and
// a component without the service.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "SilentListener.h"

#include <korvent/Client.h>

#include <RTC.hh>

#include <gtest/gtest.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <limits>
#include <csignal>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using korvent::Client;

namespace
{
  std::vector<std::uint8_t> pattern(std::size_t size)
  {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
  }

  std::vector<std::uint8_t> bytesOf(const korvent::GridMap& map)
  {
    return std::vector<std::uint8_t>(map.data(), map.data() + map.size());
  }

  class KorventClient : public ::testing::Test
  {
  protected:
    void start(const std::vector<std::string>& extraArgs = {})
    {
      names_.start();
      component_ = startKorventComp(names_.address(), extraArgs);
      ASSERT_TRUE(waitFor([this] { return !CORBA::is_nil(CORBA::Object_var(names_.resolve(korventName()))); }, 20s))
          << component_->errorOutput();
    }

    void TearDown() override
    {
      if (component_ && component_->running()) {
        std::optional<int> status = component_->stop(SIGTERM, 20s);
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component_->errorOutput();
      }
    }

    // Connectors on every port of the component.
    CORBA::ULong connectorCount()
    {
      CORBA::Object_var object = names_.resolve(korventName());
      RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
      RTC::PortServiceList_var ports = rtc->get_ports();
      CORBA::ULong count = 0;
      for (CORBA::ULong i = 0; i < ports->length(); ++i)
        count += RTC::ConnectorProfileList_var(ports[i]->get_connector_profiles())->length();
      return count;
    }

    NameServer names_;
    std::unique_ptr<ChildProcess> component_;
  };

}

TEST_F(KorventClient, StoresAndFetchesByNameAndByReferenceLeavingNoConnector)
{
  start();
  EXPECT_EQ(korventName(), Client::defaultComponentName());
  Client byName = Client::atNameServer(names_.address());
  EXPECT_EQ(0u, connectorCount());

  const std::vector<std::uint8_t> small{1, 2, 3, 4, 5, 6};
  byName.setMap(3, -2, small.data(), small.size());
  korvent::GridMap map = byName.getMap();
  EXPECT_EQ(3, map.width());
  EXPECT_EQ(-2, map.height());
  EXPECT_EQ(small, bytesOf(map));

  // Beyond the ORB's default 2 MiB message limit, through a corbaname URL.
  const std::vector<std::uint8_t> large = pattern(3u << 20);
  Client byUrl = Client::atReference("corbaname::" + names_.address() + "#" + korventName());
  byUrl.setMap(2048, 1536, large.data(), large.size());

  // Through the component's IOR; the caller takes the ORB's buffer.
  CORBA::Object_var object = names_.resolve(korventName());
  CORBA::String_var ior = clientOrb()->object_to_string(object);
  Client byIor = Client::atReference(ior.in());
  korvent::GridMap fetched = byIor.getMap();
  EXPECT_EQ(2048, fetched.width());
  EXPECT_EQ(1536, fetched.height());
  const std::uint8_t* before = fetched.data();
  korvent::GridMap moved = std::move(fetched);
  EXPECT_EQ(before, moved.data());
  korvent::GridMap::Buffer octets = moved.takeBuffer();
  EXPECT_EQ(before, octets.get());
  EXPECT_EQ(0u, moved.size());
  EXPECT_TRUE(std::equal(large.begin(), large.end(), octets.get()));

  // An empty map is a map too.
  byIor.setMap(0, 0, nullptr, 0);
  EXPECT_EQ(0u, byName.getMap().size());
  EXPECT_EQ(0u, connectorCount());
}

TEST_F(KorventClient, ReadsAndWritesRegionsAndRefusalsSayWhy)
{
  start();
  Client client = Client::atNameServer(names_.address());
  const std::vector<std::uint8_t> whole = pattern(300 * 260);
  client.setMap(300, 260, whole.data(), whole.size());
  const korvent::MapShape shape = client.shape();
  EXPECT_EQ(300, shape.width);
  EXPECT_EQ(260, shape.height);

  const std::vector<std::uint8_t> patch{9, 8, 7, 6, 5, 4};
  const std::uint64_t written = client.setRegion(297, 258, 3, 2, patch.data(), patch.size(), shape.version);
  EXPECT_EQ(shape.version + 1, written);
  EXPECT_EQ(written, client.version());
  const korvent::Region got = client.getRegion(296, 258, 4, 2);
  EXPECT_EQ(written, got.version);
  EXPECT_EQ((std::vector<std::uint8_t>{whole[258 * 300 + 296], 9, 8, 7, whole[259 * 300 + 296], 6, 5, 4}), got.cells);

  try {
    client.setRegion(0, 0, 3, 2, patch.data(), patch.size(), shape.version);
    ADD_FAILURE() << "a stale write was taken";
  }
  catch (const korvent::RegionRefused& refused) {
    EXPECT_EQ(korvent::RegionRefused::Refusal::StaleVersion, refused.refusal());
    EXPECT_EQ(written, refused.currentVersion());
  }
  try {
    client.getRegion(299, 0, 2, 1);
    ADD_FAILURE() << "a rectangle past the edge was read";
  }
  catch (const korvent::RegionRefused& refused) {
    EXPECT_EQ(korvent::RegionRefused::Refusal::OutsideMap, refused.refusal());
    EXPECT_NE(std::string::npos, refused.reason().find("300 x 260")) << refused.what();
  }
  EXPECT_EQ(written, client.version());
}

TEST_F(KorventClient, WaitsForChangesFromItsOwnInPort)
{
  start();
  Client writer = Client::atNameServer(names_.address());
  const std::vector<std::uint8_t> cells = pattern(40 * 30);
  writer.setMap(40, 30, cells.data(), cells.size());

  // A late joiner hears of the current map at once.
  Client follower = Client::atNameServer(names_.address());
  const std::optional<korvent::MapChange> first = follower.waitForChange(0, std::chrono::seconds(20));
  ASSERT_TRUE(first);
  EXPECT_EQ(writer.version(), first->version);
  EXPECT_EQ(40, first->width);
  EXPECT_EQ(30, first->height);
  EXPECT_EQ(cells.size(), first->bytes);
  EXPECT_EQ(crc32(0, cells.data(), static_cast<uInt>(cells.size())), first->crc32);
  EXPECT_FALSE(follower.waitForChange(first->version, std::chrono::milliseconds(300)));

  const std::vector<std::uint8_t> patch(6, 1);
  const std::uint64_t written = writer.setRegion(5, 7, 3, 2, patch.data(), patch.size());
  const std::optional<korvent::MapChange> next = follower.waitForChange(first->version, std::chrono::seconds(20));
  ASSERT_TRUE(next);
  EXPECT_EQ(written, next->version);
  EXPECT_EQ(first->version + 1, next->version);
  EXPECT_EQ(5, next->x);
  EXPECT_EQ(7, next->y);
  EXPECT_EQ(3, next->changedWidth);
  EXPECT_EQ(2, next->changedHeight);
}

TEST_F(KorventClient, DescriptionWritesAreVersionedRefusedWhenUnfitAndAnnounced)
{
  start();
  Client client = Client::atNameServer(names_.address());
  EXPECT_FALSE(client.info().description);
  korvent::MapDescription described;
  described.resolution = 0.025;
  described.originX = -12.5;
  described.originY = 3.0;
  described.originYaw = 0.1;
  described.frame = "warehouse";
  described.mode = korvent::MapDescription::Mode::Scale;
  described.text = "ground floor";
  const std::vector<std::uint8_t> cells = pattern(40 * 30);
  const std::uint64_t first = client.setDescribedMap(40, 30, cells.data(), cells.size(), described);
  const std::uint64_t second = first + 1;
  EXPECT_EQ(cells, bytesOf(client.getMap()));

  korvent::MapDescription moved = described;
  moved.originX = 4.5;
  EXPECT_EQ(second, client.setDescription(moved, first));
  const korvent::MapInfo info = client.info();
  EXPECT_EQ(second, info.version);
  EXPECT_EQ(40, info.width);
  EXPECT_TRUE(info.confirmed);
  EXPECT_LE(std::chrono::system_clock::now() - info.storedAt, std::chrono::minutes(1));
  ASSERT_TRUE(info.description);
  EXPECT_EQ(4.5, info.description->originX);
  EXPECT_EQ("warehouse", info.description->frame);
  EXPECT_EQ(korvent::MapDescription::Mode::Scale, info.description->mode);
  EXPECT_EQ("ground floor", info.description->text);

  const std::optional<korvent::MapChange> change = client.waitForChange(0, std::chrono::seconds(20));
  ASSERT_TRUE(change);
  EXPECT_EQ(second, change->version);
  EXPECT_EQ(korvent::MapChange::descriptionOnly | korvent::MapChange::described, change->flags);
  EXPECT_EQ(0, change->changedWidth);

  // Refused over the wire, saying why, and nothing changes.
  const auto expectRefused = [&](const korvent::MapDescription& bad, korvent::DescriptionRefused::Refusal refusal,
                                 std::optional<std::uint64_t> expected, const std::string& why) {
    try {
      client.setDescription(bad, expected);
      ADD_FAILURE() << "accepted: " << why;
    }
    catch (const korvent::DescriptionRefused& refused) {
      EXPECT_EQ(refusal, refused.refusal());
      EXPECT_EQ(second, refused.currentVersion());
      EXPECT_NE(std::string::npos, refused.reason().find(why)) << refused.what();
    }
  };
  using Refusal = korvent::DescriptionRefused::Refusal;
  korvent::MapDescription bad = moved;
  bad.resolution = std::numeric_limits<double>::quiet_NaN();
  expectRefused(bad, Refusal::InvalidValue, std::nullopt, "resolution");
  bad = moved;
  bad.originY = std::numeric_limits<double>::quiet_NaN();
  expectRefused(bad, Refusal::InvalidValue, std::nullopt, "origin y");
  bad = moved;
  bad.freeThreshold = 0.9;
  expectRefused(bad, Refusal::InvalidValue, std::nullopt, "below occupied_thresh");
  bad = moved;
  bad.text.assign(5000, 'x');
  expectRefused(bad, Refusal::InvalidValue, std::nullopt, "text");
  expectRefused(described, Refusal::StaleVersion, first,
                "version " + std::to_string(second) + ", not " + std::to_string(first));
  try {
    client.setDescribedMap(40, 30, cells.data(), cells.size(), bad);
    ADD_FAILURE() << "a map with an unfit description was stored";
  }
  catch (const korvent::DescriptionRefused& refused) {
    EXPECT_EQ(Refusal::InvalidValue, refused.refusal());
  }
  const korvent::MapInfo after = client.info();
  EXPECT_EQ(second, after.version);
  EXPECT_EQ(4.5, after.description->originX);
  EXPECT_EQ(described.originYaw, after.description->originYaw);
}

TEST_F(KorventClient, EachFailureHasItsOwnException)
{
  start();
  EXPECT_THROW(Client::atNameServer("127.0.0.1:" + std::to_string(freeLoopbackPort())),
               korvent::NameServiceUnreachable);
  EXPECT_THROW(Client::atReference("corbaname::127.0.0.1:" + std::to_string(freeLoopbackPort()) +
                                   "#" + korventName()),
               korvent::NameServiceUnreachable);
  EXPECT_THROW(Client::atNameServer(names_.address(), "nobody.host_cxt/Nobody0.rtc"), korvent::ComponentNotFound);
  EXPECT_THROW(Client::atReference("corbaloc::127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/Korvent0"),
               korvent::ComponentNotFound);
  EXPECT_THROW(Client::atReference("IOR:nonsense"), korvent::ComponentNotFound);

  // A component without the service.
  ChildProcess other({"/usr/bin/env", "-C", "/", "RECORDER_FAIL_EXECUTE=0", RECORDER_HOST_PATH,
                      "-o", "naming.enable:NO", "-o", "corba.endpoints:127.0.0.1:"});
  std::optional<std::string> otherIor;
  while ((otherIor = other.readLine(20s)) && otherIor->rfind("IOR:", 0) != 0) {
  }
  ASSERT_TRUE(otherIor) << other.errorOutput();
  EXPECT_THROW(Client::atReference(*otherIor), korvent::NoSuchService);

  // Over this process's own limit: refused before a byte is read, so the
  // region is never touched.
  const std::size_t overLimit = omniORB::giopMaxMsgSize() + std::size_t(1);
  void* region = mmap(nullptr, overLimit, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(MAP_FAILED, region);
  Client client = Client::atNameServer(names_.address());
  EXPECT_THROW(client.setMap(1, 1, static_cast<const std::uint8_t*>(region), overLimit), korvent::MapTooLarge);
  munmap(region, overLimit);

  // A peer that accepts the connection and never answers.
  SilentListener silent;
  korvent::ClientOptions quick;
  quick.callTimeout = 300ms;
  EXPECT_THROW(Client::atReference("corbaloc::127.0.0.1:" + std::to_string(silent.port()) + "/Korvent0", quick),
               korvent::CallTimedOut);
  EXPECT_THROW(Client::atNameServer("127.0.0.1:" + std::to_string(silent.port()), korventName(), quick),
               korvent::CallTimedOut);

  // The component stops answering after the service was found.
  Client stalled = Client::atNameServer(names_.address(), korventName(), quick);
  Client writer = Client::atNameServer(names_.address());
  const std::vector<std::uint8_t> map{9};
  writer.setMap(1, 1, map.data(), map.size());
  const std::optional<korvent::MapChange> before = stalled.waitForChange(0, 20s);
  ASSERT_TRUE(before);
  ASSERT_EQ(0, kill(component_->pid(), SIGSTOP));
  ASSERT_TRUE(component_->waitUntilStopped(10s));
  EXPECT_THROW(stalled.setMap(1, 1, map.data(), map.size()), korvent::CallTimedOut);
  EXPECT_THROW(stalled.getMap(), korvent::CallTimedOut);
  // A wait checks the silent component once and gives up for this call.
  EXPECT_FALSE(stalled.waitForChange(before->version, 100ms));
  ASSERT_EQ(0, kill(component_->pid(), SIGCONT));
  // Continued, the component is connected to again, and the next map comes.
  writer.setMap(1, 1, map.data(), map.size());
  const std::optional<korvent::MapChange> after = stalled.waitForChange(before->version, 20s);
  ASSERT_TRUE(after);
  EXPECT_EQ(writer.version(), after->version);

  // A name left bound by a component that died.
  ASSERT_TRUE(component_->stop(SIGKILL, 10s));
  EXPECT_THROW(Client::atNameServer(names_.address()), korvent::ComponentNotFound);
}

TEST_F(KorventClient, MapOverTheComponentsLimitIsTooLarge)
{
  start({"-o", "corba.args:-ORBgiopMaxMsgSize 1048576"});
  Client client = Client::atNameServer(names_.address());
  const std::vector<std::uint8_t> map = pattern(2u << 20);
  try {
    client.setMap(1024, 2048, map.data(), map.size());
    ADD_FAILURE() << "a map over the component's limit was accepted";
  }
  catch (const korvent::MapTooLarge& error) {
    EXPECT_NE(std::string::npos, std::string(error.what()).find("-ORBgiopMaxMsgSize")) << error.what();
  }
  // The component still serves maps within its limit.
  const std::vector<std::uint8_t> fits = pattern(1000);
  client.setMap(10, 100, fits.data(), fits.size());
  EXPECT_EQ(fits, bytesOf(client.getMap()));
}

TEST_F(KorventClient, ErrorsNameWhereAndTransfersGetTimeForTheirSize)
{
  start();
  const std::string nowhere = "127.0.0.1:" + std::to_string(freeLoopbackPort());
  try {
    Client::atNameServer(nowhere);
    ADD_FAILURE() << "a name server nobody runs was reached";
  }
  catch (const korvent::NameServiceUnreachable& error) {
    EXPECT_EQ("cannot reach the name service", error.reason());
    EXPECT_EQ(nowhere, error.where());
    EXPECT_EQ("cannot reach the name service (" + nowhere + ")", std::string(error.what()));
  }

  korvent::ClientOptions slow;
  slow.callTimeout = 300ms;
  slow.slowestTransferRate = 1u << 20;
  slow.timeoutSetting = "--wait";
  Client client = Client::atNameServer(names_.address(), korventName(), slow);
  const std::vector<std::uint8_t> map = pattern(1u << 20);
  ASSERT_EQ(0, kill(component_->pid(), SIGSTOP));
  ASSERT_TRUE(component_->waitUntilStopped(10s));
  // 300 ms plus one second for 1 MiB at 1 MiB/s.
  try {
    client.setMap(1024, 1024, map.data(), map.size());
    ADD_FAILURE() << "a stopped component took a map";
  }
  catch (const korvent::CallTimedOut& error) {
    EXPECT_EQ("setGridMap: no answer within 1300 ms; --wait sets how long to wait", error.reason());
  }
  // A fetch allows for a map as large as the message size limit: one
  // second at a rate of that many bytes a second.
  korvent::ClientOptions fetching = slow;
  fetching.slowestTransferRate = omniORB::giopMaxMsgSize();
  ASSERT_EQ(0, kill(component_->pid(), SIGCONT));
  Client fetcher = Client::atNameServer(names_.address(), korventName(), fetching);
  ASSERT_EQ(0, kill(component_->pid(), SIGSTOP));
  ASSERT_TRUE(component_->waitUntilStopped(10s));
  try {
    fetcher.getMap();
    ADD_FAILURE() << "a stopped component answered";
  }
  catch (const korvent::CallTimedOut& error) {
    EXPECT_EQ("getGridMap: no answer within 1300 ms; --wait sets how long to wait", error.reason());
  }
  ASSERT_EQ(0, kill(component_->pid(), SIGCONT));
}
