// The consumer example connected to KorventComp the way the standard
// connection tool does: one profile listing both ports, sent to one of them.
#include "ConnectorProfiles.h"
#include "KorventProcess.h"
#include "NameServer.h"

#include <korvent/Client.h>

#include <RTC.hh>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <csignal>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  RTC::RTObject_ptr componentAt(const NameServer& names, const std::string& name)
  {
    CORBA::Object_var object = names.resolve(name);
    return CORBA::is_nil(object) ? RTC::RTObject::_nil() : RTC::RTObject::_narrow(object);
  }

  CORBA::ULong connectorCount(RTC::PortService_ptr port)
  {
    RTC::ConnectorProfileList_var connectors = port->get_connector_profiles();
    return connectors->length();
  }

  class MapConsumerExample : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      names_.start();
      korvent_ = startKorventComp(names_.address());
      consumer_ = std::make_unique<ChildProcess>(std::vector<std::string>{
          "/usr/bin/env", "-C", "/", MAP_CONSUMER_PATH,
          "-o", "corba.nameservers:" + names_.address(),
          "-o", "corba.endpoints:127.0.0.1:",
          "-o", "naming.update.interval:0.2",
          "-o", "exec_cxt.transition_timeout:5"});
      const std::string consumerName = hostName() + ".host_cxt/MapConsumer0.rtc";
      ASSERT_TRUE(waitFor([&] {
        return !CORBA::is_nil(RTC::RTObject_var(componentAt(names_, korventName()))) &&
               !CORBA::is_nil(RTC::RTObject_var(componentAt(names_, consumerName)));
      }, 20s)) << korvent_->errorOutput() << consumer_->errorOutput();
      RTC::RTObject_var korvent = componentAt(names_, korventName());
      consumerRtc_ = componentAt(names_, consumerName);
      provider_ = portNamed(korvent, "KorventPV");
      consumerPort_ = portNamed(consumerRtc_, "MapUser");
      ASSERT_FALSE(CORBA::is_nil(provider_));
      ASSERT_FALSE(CORBA::is_nil(consumerPort_));
      RTC::ExecutionContextList_var contexts = consumerRtc_->get_owned_contexts();
      context_ = RTC::ExecutionContext::_duplicate(contexts[0]);
    }

    void TearDown() override
    {
      for (auto* process : {consumer_.get(), korvent_.get()}) {
        std::optional<int> status = process->stop(SIGTERM, 20s);
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << process->errorOutput();
      }
    }

    // Activates the consumer, returns the line it printed, deactivates it.
    std::string activationReport()
    {
      EXPECT_EQ(RTC::RTC_OK, context_->activate_component(consumerRtc_));
      std::optional<std::string> line = consumer_->readLine(20s);
      EXPECT_EQ(RTC::RTC_OK, context_->deactivate_component(consumerRtc_));
      return line.value_or("(nothing within 20 s) " + consumer_->errorOutput());
    }

    // Stores a 3 x 3 map, connects the consumer's service port and its
    // "mapChanged" (through its own port or the component's), activates it
    // and checks the fetch on activation, then the one for the event the
    // component retained from before the connection.
    void connectAndActivate(bool fromConsumer)
    {
      storeMap(3, 3);
      RTC::ConnectorProfile service = corbaPortConnector(consumerPort_, provider_);
      ASSERT_EQ(RTC::RTC_OK, consumerPort_->connect(service));
      RTC::RTObject_var korvent = componentAt(names_, korventName());
      RTC::PortService_var changes = portNamed(korvent, "mapChanged");
      RTC::PortService_var listener = portNamed(consumerRtc_, "mapChanged");
      RTC::PortService_var first = fromConsumer ? listener : changes;
      RTC::PortService_var second = fromConsumer ? changes : listener;
      RTC::ConnectorProfile events = dataPortConnector(first, second, "IDL:RTC/TimedULongSeq:1.0");
      ASSERT_EQ(RTC::RTC_OK, first->connect(events));
      ASSERT_EQ(RTC::RTC_OK, context_->activate_component(consumerRtc_));
      EXPECT_EQ(consumer_->readLine(20s).value_or("(none)"), "map_consumer: map 3 x 3, 9 bytes");
      // Versions start where the clock says; the event carries their low 32 bits.
      const std::string retained = consumer_->readLine(20s).value_or("(none)");
      ASSERT_EQ(retained.rfind(versionPrefix, 0), 0u) << retained;
      version_ = static_cast<std::uint32_t>(std::stoul(retained.substr(versionPrefix.size())));
      EXPECT_EQ(retained, line(0, "map 3 x 3, 9 bytes"));
    }

    // The consumer's line for the version `after` the retained one.
    std::string line(std::uint32_t after, const std::string& map) const
    {
      return versionPrefix + std::to_string(static_cast<std::uint32_t>(version_ + after)) + ", " + map;
    }

    void storeMap(std::int16_t width, std::int16_t height)
    {
      const std::vector<std::uint8_t> cells(static_cast<std::size_t>(width) * height, 1);
      korvent::Client::atNameServer(names_.address()).setMap(width, height, cells.data(), cells.size());
    }

    NameServer names_;
    std::unique_ptr<ChildProcess> korvent_;
    std::unique_ptr<ChildProcess> consumer_;
    RTC::RTObject_var consumerRtc_;
    RTC::PortService_var provider_;
    RTC::PortService_var consumerPort_;
    RTC::ExecutionContext_var context_;
    const std::string versionPrefix = "map_consumer: version ";
    std::uint32_t version_ = 0;  // of the event retained when connected
  };
}

TEST_F(MapConsumerExample, ConnectedThroughItsOwnPortFetchesOnActivationUntilDisconnected)
{
  storeMap(40, 30);
  EXPECT_EQ("map_consumer: not connected", activationReport());

  RTC::ConnectorProfile profile = corbaPortConnector(consumerPort_, provider_);
  ASSERT_EQ(RTC::RTC_OK, consumerPort_->connect(profile));
  EXPECT_EQ(1u, connectorCount(provider_));
  EXPECT_EQ("map_consumer: map 40 x 30, 1200 bytes", activationReport());
  storeMap(8, 2);
  EXPECT_EQ("map_consumer: map 8 x 2, 16 bytes", activationReport());

  ASSERT_EQ(RTC::RTC_OK, consumerPort_->disconnect(profile.connector_id));
  EXPECT_EQ(0u, connectorCount(provider_));
  EXPECT_EQ(0u, connectorCount(consumerPort_));
  EXPECT_EQ("map_consumer: not connected", activationReport());
}

TEST_F(MapConsumerExample, ConnectedThroughTheProvidersPortFetchesOnActivationUntilDisconnected)
{
  storeMap(5, 7);
  RTC::ConnectorProfile profile = corbaPortConnector(provider_, consumerPort_);
  ASSERT_EQ(RTC::RTC_OK, provider_->connect(profile));
  EXPECT_EQ(1u, connectorCount(consumerPort_));
  EXPECT_EQ("map_consumer: map 5 x 7, 35 bytes", activationReport());

  ASSERT_EQ(RTC::RTC_OK, provider_->disconnect(profile.connector_id));
  EXPECT_EQ(0u, connectorCount(provider_));
  EXPECT_EQ(0u, connectorCount(consumerPort_));
  EXPECT_EQ("map_consumer: not connected", activationReport());
}

TEST_F(MapConsumerExample, FetchesOncePerAnnouncedVersionWhileActive)
{
  connectAndActivate(false);
  // Then each new map.
  storeMap(4, 2);
  EXPECT_EQ(consumer_->readLine(20s).value_or("(none)"), line(1, "map 4 x 2, 8 bytes"));
  storeMap(1, 1);
  EXPECT_EQ(consumer_->readLine(20s).value_or("(none)"), line(2, "map 1 x 1, 1 bytes"));
  EXPECT_EQ(RTC::RTC_OK, context_->deactivate_component(consumerRtc_));
  EXPECT_FALSE(consumer_->readLine(1s).has_value());  // nothing more without a change
}

TEST_F(MapConsumerExample, MakesTheChangeConnectionAgainAfterTheComponentDroppedIt)
{
  connectAndActivate(true);
  RTC::RTObject_var korvent = componentAt(names_, korventName());
  RTC::PortService_var changes = portNamed(korvent, "mapChanged");

  // Stopped past the component's call timeout, the consumer loses the connection.
  consumer_->signal(SIGSTOP);
  ASSERT_TRUE(consumer_->waitUntilStopped(10s));
  storeMap(4, 2);
  storeMap(2, 2);
  ASSERT_TRUE(waitFor([&] { return connectorCount(changes) == 0; }, 30s));
  consumer_->signal(SIGCONT);
  std::vector<std::string> lines;
  while (lines.empty() || lines.back() != line(2, "map 2 x 2, 4 bytes")) {
    std::optional<std::string> line = consumer_->readLine(30s);
    ASSERT_TRUE(line) << testing::PrintToString(lines);
    lines.push_back(*line);
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(), "map_consumer: the change connection was lost and is made again"),
            lines.end()) << testing::PrintToString(lines);
  EXPECT_EQ(1u, connectorCount(changes));
  storeMap(1, 1);
  EXPECT_EQ(consumer_->readLine(20s).value_or("(none)"), line(3, "map 1 x 1, 1 bytes"));
  EXPECT_EQ(RTC::RTC_OK, context_->deactivate_component(consumerRtc_));
}
