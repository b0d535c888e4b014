// Connecting consumers to "KorventPV" the way today's tools and components do.
#include "ConnectorProfiles.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"

#include <KorventMapInfo.hh>
#include <rtm/ports/CorbaPort.h>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace
{
  // A consumer port as a 1.x component has one: it takes the provider's IOR
  // string from the connector profile, and while deciding it looks at the
  // provider port's connectors, which must not list this connection yet.
  class HandWrittenConsumer : public virtual POA_RTC::PortService
  {
  public:
    RTC::PortProfile* get_port_profile() override { return new RTC::PortProfile; }
    RTC::ConnectorProfileList* get_connector_profiles() override { return new RTC::ConnectorProfileList; }
    RTC::ConnectorProfile* get_connector_profile(const char*) override { return new RTC::ConnectorProfile; }
    RTC::ReturnCode_t connect(RTC::ConnectorProfile&) override { return RTC::RTC_ERROR; }
    RTC::ReturnCode_t disconnect(const char*) override { return RTC::RTC_ERROR; }
    RTC::ReturnCode_t disconnect_all() override { return RTC::RTC_ERROR; }

    RTC::ReturnCode_t notify_connect(RTC::ConnectorProfile& profile) override
    {
      RTC::ConnectorProfileList_var seen = profile.ports[0]->get_connector_profiles();
      providerConnectorsSeen = seen->length();
      for (CORBA::ULong i = 0; i < profile.properties.length(); ++i) {
        const char* value = nullptr;
        if (std::string(profile.properties[i].name) == "Korvent0.port.KorventPV.provided.Korvent.Korvent" &&
            (profile.properties[i].value >>= value))
          providerIor = value;
      }
      return RTC::RTC_OK;
    }

    RTC::ReturnCode_t notify_disconnect(const char*) override
    {
      ++disconnects;
      return RTC::RTC_OK;
    }

    std::string providerIor;
    CORBA::ULong providerConnectorsSeen = 99;
    int disconnects = 0;
  };

  class KorventPort : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      clientPoa();
      names_.start();
      component_ = startKorventComp(names_.address());
      ASSERT_TRUE(waitFor([this] {
        CORBA::Object_var object = names_.resolve(korventName());
        return !CORBA::is_nil(object);
      }, 20s)) << component_->errorOutput();
      CORBA::Object_var object = names_.resolve(korventName());
      RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
      RTC::PortServiceList_var ports = rtc->get_ports();
      provider_ = RTC::PortService::_duplicate(ports[0]);
    }

    void TearDown() override
    {
      std::optional<int> status = component_->stop(SIGTERM, 20s);
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component_->errorOutput();
    }

    RTC::ConnectorProfile connectorBetween(RTC::PortService_ptr first, RTC::PortService_ptr second,
                                           const char* id = "")
    {
      return corbaPortConnector(first, second, id);
    }

    NameServer names_;
    std::unique_ptr<ChildProcess> component_;
    RTC::PortService_var provider_;
  };
}

TEST_F(KorventPort, HandWrittenConsumerConnectsUsesAndDisconnects)
{
  HandWrittenConsumer consumer;
  PortableServer::ObjectId_var id = clientPoa()->activate_object(&consumer);
  CORBA::Object_var object = clientPoa()->id_to_reference(id);
  RTC::PortService_var consumerRef = RTC::PortService::_narrow(object);

  RTC::ConnectorProfile profile = connectorBetween(provider_, consumerRef);
  ASSERT_EQ(RTC::RTC_OK, provider_->connect(profile));
  const std::string connectorId = static_cast<const char*>(profile.connector_id);
  EXPECT_EQ(36u, connectorId.size());
  EXPECT_EQ(0u, consumer.providerConnectorsSeen);
  ASSERT_EQ(0u, consumer.providerIor.rfind("IOR:", 0));

  Korvent_var service = korventFromString(consumer.providerIor);
  EXPECT_FALSE(service->setGridMap(2, 3, makeMap({7, 8, 9, 10, 11, 12})));
  RTC::TimedOctetSeq map;
  CORBA::Short width = 0, height = 0;
  service->getGridMap(width, height, map);
  EXPECT_EQ((std::vector<CORBA::Octet>{7, 8, 9, 10, 11, 12}), octetsOf(map));

  RTC::ConnectorProfileList_var connectors = provider_->get_connector_profiles();
  ASSERT_EQ(1u, connectors->length());
  EXPECT_EQ(connectorId, static_cast<const char*>(connectors[0].connector_id));

  // The same pair again, and the same id again, are refused.
  RTC::ConnectorProfile again = connectorBetween(provider_, consumerRef);
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, provider_->connect(again));
  RTC::ConnectorProfile sameId = connectorBetween(provider_, consumerRef, connectorId.c_str());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, provider_->connect(sameId));

  EXPECT_EQ(RTC::BAD_PARAMETER, provider_->disconnect("no-such-connector"));
  RTC::ConnectorProfile_var unknown = provider_->get_connector_profile("no-such-connector");
  EXPECT_STREQ("", unknown->connector_id);

  EXPECT_EQ(RTC::RTC_OK, provider_->disconnect(connectorId.c_str()));
  connectors = provider_->get_connector_profiles();
  EXPECT_EQ(0u, connectors->length());
  EXPECT_EQ(1, consumer.disconnects);
  clientPoa()->deactivate_object(id);
  // The consumer lives on this stack: the ORB must have let go of it (the
  // component may still be checking on it) before it goes.
  ASSERT_TRUE(waitFor([&] { return consumer._refcount_value() <= 1; }, 20s));
}

TEST_F(KorventPort, EachServicePortMatchesItsConsumersInEitherOrder)
{
  RTC::CorbaConsumer<Korvent> map;
  RTC::CorbaPort mapUser("MapUser");
  ASSERT_TRUE(mapUser.registerConsumer("Korvent", "Korvent", map));
  RTC::CorbaConsumer<KorventRegion> region;
  RTC::CorbaPort regionUser("RegionUser");
  ASSERT_TRUE(regionUser.registerConsumer("KorventRegion", "KorventRegion", region));
  RTC::CorbaConsumer<KorventRegion> describedRegion;
  RTC::CorbaConsumer<KorventMapInfo> description;
  RTC::CorbaPort describedUser("DescribedRegionUser");
  ASSERT_TRUE(describedUser.registerConsumer("KorventRegion", "KorventRegion", describedRegion));
  ASSERT_TRUE(describedUser.registerConsumer("KorventMapInfo", "KorventMapInfo", description));
  for (RTC::CorbaPort* port : {&mapUser, &regionUser, &describedUser}) {
    port->setOwnerInstanceName("User0");
    port->activate(clientOrb(), clientPoa());
  }
  RTC::PortService_var mapUserRef = mapUser.getPortRef();
  RTC::PortService_var regionUserRef = regionUser.getPortRef();
  RTC::PortService_var describedUserRef = describedUser.getPortRef();
  CORBA::Object_var object = names_.resolve(korventName());
  RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
  RTC::PortService_var regionPort = portNamed(rtc, "KorventRegionPV");
  ASSERT_FALSE(CORBA::is_nil(regionPort));

  EXPECT_TRUE(toolMatchesInterfaces(provider_, mapUserRef));
  EXPECT_TRUE(toolMatchesInterfaces(mapUserRef, provider_));
  // "KorventRegionPV" provides the region and description interfaces: a
  // consumer of both matches in either order, one of regions alone only
  // when named first.
  EXPECT_TRUE(toolMatchesInterfaces(regionPort, describedUserRef));
  EXPECT_TRUE(toolMatchesInterfaces(describedUserRef, regionPort));
  EXPECT_TRUE(toolMatchesInterfaces(regionUserRef, regionPort));
  EXPECT_FALSE(toolMatchesInterfaces(regionPort, regionUserRef));
  EXPECT_FALSE(toolMatchesInterfaces(regionPort, mapUserRef));

  // Provider first, as the tool then connects: the consumer gets its object.
  RTC::ConnectorProfile profile = corbaPortConnector(provider_, mapUserRef);
  ASSERT_EQ(RTC::RTC_OK, provider_->connect(profile));
  EXPECT_FALSE(CORBA::is_nil(Korvent_var(map._ptr())));
  RTC::ConnectorProfile regionProfile = corbaPortConnector(regionPort, regionUserRef);
  ASSERT_EQ(RTC::RTC_OK, regionPort->connect(regionProfile));
  EXPECT_FALSE(CORBA::is_nil(KorventRegion_var(region._ptr())));
  RTC::ConnectorProfile describedProfile = corbaPortConnector(regionPort, describedUserRef);
  ASSERT_EQ(RTC::RTC_OK, regionPort->connect(describedProfile));
  EXPECT_FALSE(CORBA::is_nil(KorventMapInfo_var(description._ptr())));
  EXPECT_EQ(RTC::RTC_OK, provider_->disconnect(profile.connector_id));
  EXPECT_EQ(RTC::RTC_OK, regionPort->disconnect(regionProfile.connector_id));
  EXPECT_EQ(RTC::RTC_OK, regionPort->disconnect(describedProfile.connector_id));

  for (RTC::CorbaPort* port : {&mapUser, &regionUser, &describedUser}) {
    port->deactivate();
    port->waitReleased();
  }
}

TEST_F(KorventPort, RuntimeConsumerPortSubscribesAndHonoursStrictness)
{
  RTC::CorbaConsumer<Korvent> map;
  RTC::CorbaPort consumerPort("MapUser");
  ASSERT_TRUE(consumerPort.registerConsumer("Korvent", "Korvent", map));
  consumerPort.setOwnerInstanceName("User0");
  consumerPort.activate(clientOrb(), clientPoa());
  RTC::PortService_var consumerRef = consumerPort.getPortRef();

  RTC::ConnectorProfile profile = connectorBetween(consumerRef, provider_);
  ASSERT_EQ(RTC::RTC_OK, consumerPort.connect(profile));
  Korvent_var service = map._ptr();
  ASSERT_FALSE(CORBA::is_nil(service));
  service->setGridMap(1, 1, makeMap({42}));
  ASSERT_EQ(RTC::RTC_OK, consumerPort.disconnect(profile.connector_id));
  EXPECT_TRUE(CORBA::is_nil(Korvent_var(map._ptr())));

  // A strict connection fails when a required interface finds no provider.
  RTC::CorbaConsumer<Korvent> missing;
  RTC::CorbaPort strictPort("Strict");
  ASSERT_TRUE(strictPort.registerConsumer("Other", "Korvent", missing));
  strictPort.setOwnerInstanceName("User0");
  strictPort.activate(clientOrb(), clientPoa());
  RTC::PortService_var strictRef = strictPort.getPortRef();
  RTC::ConnectorProfile strict = connectorBetween(strictRef, provider_);
  CORBA::ULong at = strict.properties.length();
  strict.properties.length(at + 1);
  strict.properties[at].name = "port.connection.strictness";
  strict.properties[at].value <<= "strict";
  EXPECT_EQ(RTC::RTC_ERROR, strictPort.connect(strict));
  RTC::ConnectorProfileList_var left = provider_->get_connector_profiles();
  EXPECT_EQ(0u, left->length());

  consumerPort.deactivate();
  strictPort.deactivate();
  consumerPort.waitReleased();
  strictPort.waitReleased();
}
