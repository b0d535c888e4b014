// KorventComp on a network of the test's own: the name server, the
// component and a client each on a host of their own (network namespaces
// with addresses that exist only inside them).  Needs root.
#include "ChildProcess.h"
#include "NameServer.h"
#include "TestNetwork.h"

#include <gtest/gtest.h>

#include <thread>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  constexpr int namesHost = 0, componentHost = 1, clientHost = 2;
  const std::string namesPort = "2809";

  class RobotNetwork : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      if (!TestNetwork::available())
        GTEST_SKIP() << "building a test network needs root and iproute2";
      net_ = std::make_unique<TestNetwork>(3);
      const std::string at = net_->address(namesHost);
      char pattern[] = "/tmp/names-net-XXXXXX";
      ASSERT_TRUE(mkdtemp(pattern));
      namesDir_ = pattern;
      names_ = std::make_unique<ChildProcess>(net_->inHost(namesHost, {
          "/usr/bin/omniNames", "-start", namesPort, "-datadir", namesDir_,
          "-ORBendPoint", "giop:tcp:" + at + ":" + namesPort}));
    }

    void TearDown() override
    {
      if (component_)
        component_->stop(SIGTERM, 20s);
      if (names_)
        names_->stop(SIGTERM, 20s);
      if (!namesDir_.empty())
        std::filesystem::remove_all(namesDir_);
    }

    void startComponent(const std::string& listenOn, const std::vector<std::string>& extra = {})
    {
      std::vector<std::string> argv{"/usr/bin/env", "-C", "/", KORVENTCOMP_PATH,
                                    "-o", "corba.nameservers:" + net_->address(namesHost) + ":" + namesPort,
                                    "-o", "corba.endpoints:" + listenOn,
                                    "-o", "corba.args:-ORBgiopMaxMsgSize 268435456",
                                    "-o", "naming.update.interval:0.2"};
      argv.insert(argv.end(), extra.begin(), extra.end());
      component_ = std::make_unique<ChildProcess>(net_->inHost(componentHost, argv));
    }

    // Runs the round-trip client on the client host (a computer of its own,
    // host name included), or on another, until it succeeds (the name server
    // and the component come up in any order) or time runs out.
    bool roundTrip(std::size_t bytes, const std::vector<std::string>& extra = {}, int host = clientHost)
    {
      return waitFor([&] {
        std::vector<std::string> argv{MAP_ROUNDTRIP_PATH,
                                      "--name-server", net_->address(namesHost) + ":" + namesPort,
                                      "--name", hostName() + ".host_cxt/Korvent0.rtc",
                                      "--bytes", std::to_string(bytes), "--timeout", "5000"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ChildProcess client(host == clientHost ? net_->inHostNamed(host, argv) : net_->inHost(host, argv));
        std::optional<int> status = client.wait(60s);
        lastClientError_ = client.errorOutput();
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
      }, 60s);
    }

    std::unique_ptr<TestNetwork> net_;
    std::string namesDir_;
    std::unique_ptr<ChildProcess> names_;
    std::unique_ptr<ChildProcess> component_;
    std::string lastClientError_;
  };
}

TEST_F(RobotNetwork, ClientOnAThirdHostFindsTheComponentByNameAndRoundTripsAMap)
{
  startComponent(net_->address(componentHost) + ":");
  EXPECT_TRUE(roundTrip(1 << 20)) << lastClientError_ << component_->errorOutput();
  std::optional<int> status = component_->stop(SIGTERM, 20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  // Reachable from other hosts, which it says; nothing about being out of
  // the clients' reach.
  const std::string warnings = component_->errorOutput();
  EXPECT_NE(std::string::npos, warnings.find("listening on " + net_->address(componentHost))) << warnings;
  EXPECT_EQ(std::string::npos, warnings.find("registering with the name server")) << warnings;
}

TEST_F(RobotNetwork, ReaderWhoseLinkDropsOutForSecondsIsNotDropped)
{
  startComponent(net_->address(componentHost) + ":");
  ASSERT_TRUE(roundTrip(1024)) << lastClientError_ << component_->errorOutput();
  net_->shape(clientHost, 2, 2);
  // About 8 s each way at 2 Mbit/s, far above the minimum rate; once the
  // map is on its way back, the link loses everything for 3 s.
  constexpr std::size_t payload = 2 << 20;
  const unsigned long long before = net_->bytesThrough(clientHost);
  std::thread outage([&] {
    if (!waitFor([&] { return net_->bytesThrough(clientHost) - before > payload * 3 / 2; }, 60s))
      return;
    net_->setLinkUp(clientHost, false);
    std::this_thread::sleep_for(3s);
    net_->setLinkUp(clientHost, true);
  });
  const bool served = roundTrip(payload, {"--timeout", "60000"});
  outage.join();
  EXPECT_TRUE(served) << lastClientError_;
  EXPECT_EQ(std::string::npos, component_->errorOutput().find("dropped a reply")) << component_->errorOutput();
}

TEST_F(RobotNetwork, ListeningOnlyOnTheLoopbackWithARemoteNameServerIsWarnedAbout)
{
  startComponent("127.0.0.1:");
  EXPECT_TRUE(waitFor([&] { return component_->errorOutput().find("registering with the name server") !=
                                   std::string::npos; }, 20s));
  const std::string warnings = component_->errorOutput();
  EXPECT_NE(std::string::npos, warnings.find(net_->address(namesHost))) << warnings;
  EXPECT_NE(std::string::npos, warnings.find("corba.endpoints")) << warnings;
}

TEST_F(RobotNetwork, CompressionIsNegotiatedAndCountedOnTheWire)
{
  startComponent(net_->address(componentHost) + ":", {"-o", "corba.compression.enable:YES"});
  constexpr std::size_t payload = 8 << 20;
  // A set and a get move the payload twice; headers and the connection's
  // set-up are small beside it.
  ASSERT_TRUE(roundTrip(1024)) << lastClientError_ << component_->errorOutput();

  const unsigned long long beforeCompressed = net_->bytesThrough(clientHost);
  ASSERT_TRUE(roundTrip(payload, {"--compress", "1"})) << lastClientError_;
  const unsigned long long compressed = net_->bytesThrough(clientHost) - beforeCompressed;
  EXPECT_LT(compressed, 2 * payload / 5) << compressed << " octets crossed the link";

  // A client without compression is served the same map, uncompressed.
  const unsigned long long beforePlain = net_->bytesThrough(clientHost);
  ASSERT_TRUE(roundTrip(payload)) << lastClientError_;
  const unsigned long long plain = net_->bytesThrough(clientHost) - beforePlain;
  EXPECT_GT(plain, 2 * payload) << plain << " octets crossed the link";
  std::cout << "octets on the client's link for " << 2 * payload << " of payload: compressed " << compressed
            << ", plain " << plain << std::endl;
}

TEST_F(RobotNetwork, ClientsOnTheComponentsOwnHostAreServedUncompressedOverTheLocalSocketOrTcp)
{
  constexpr std::size_t payload = 8 << 20;
  auto trafficOnComponentHost = [&] {
    return net_->bytesThrough(componentHost) + net_->bytesThrough(componentHost, "lo");
  };
  startComponent(net_->address(componentHost) + ":", {"-o", "corba.compression.enable:YES"});
  ASSERT_TRUE(roundTrip(1024, {"--compress", "1"}, componentHost)) << lastClientError_ << component_->errorOutput();
  // Through the local socket: no TCP traffic beyond the name service's.
  const unsigned long long beforeLocal = trafficOnComponentHost();
  ASSERT_TRUE(roundTrip(payload, {"--compress", "1"}, componentHost)) << lastClientError_;
  const unsigned long long local = trafficOnComponentHost() - beforeLocal;
  EXPECT_LT(local, payload / 16) << local << " octets went through TCP";
  component_->stop(SIGTERM, 20s);

  // Without it, over TCP to the host's own address: the map goes whole,
  // not compressed, although both ends offer compression.
  startComponent(net_->address(componentHost) + ":",
                 {"-o", "corba.compression.enable:YES", "-o", "corba.local.enable:NO"});
  ASSERT_TRUE(roundTrip(1024, {"--compress", "1"}, componentHost)) << lastClientError_ << component_->errorOutput();
  const unsigned long long beforeTcp = net_->bytesThrough(componentHost, "lo");
  ASSERT_TRUE(roundTrip(payload, {"--compress", "1"}, componentHost)) << lastClientError_;
  const unsigned long long overLoopback = net_->bytesThrough(componentHost, "lo") - beforeTcp;
  // Each octet counts once sent and once received on the loopback.
  EXPECT_GT(overLoopback, 2 * 2 * payload) << overLoopback << " octets on the loopback";
}
