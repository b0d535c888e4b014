// The real KorventComp against a real omniNames, over the wire only.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"

#include <OpenRTM.hh>
#include <omniORB4/Naming.hh>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;

namespace
{
  std::optional<std::string> stringProperty(const SDOPackage::NVList& list, const std::string& name)
  {
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      const char* value = nullptr;
      if (name == static_cast<const char*>(list[i].name) && (list[i].value >>= value))
        return std::string(value);
    }
    return std::nullopt;
  }

  bool exitedWith(const std::optional<int>& status, int code)
  {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
  }

  class KorventComp : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      names_.start();
      component_ = startKorventComp(names_.address());
      ASSERT_TRUE(waitFor([this] { return bound(); }, 20s)) << component_->errorOutput();
      CORBA::Object_var object = names_.resolve(korventName());
      rtc_ = RTC::RTObject::_narrow(object);
      ASSERT_FALSE(CORBA::is_nil(rtc_));
    }

    void TearDown() override
    {
      if (component_->running()) {
        std::optional<int> status = component_->stop(SIGTERM, 20s);
        EXPECT_TRUE(exitedWith(status, 0)) << component_->errorOutput();
      }
    }

    bool bound()
    {
      CORBA::Object_var object = names_.resolve(korventName());
      try {
        return !CORBA::is_nil(object) && !object->_non_existent();
      }
      catch (const CORBA::Exception&) {
        return false;
      }
    }

    RTC::PortService_ptr servicePort()
    {
      RTC::PortServiceList_var ports = rtc_->get_ports();
      return RTC::PortService::_duplicate(ports[0]);
    }

    RTC::ExecutionContextService_ptr ownedContext()
    {
      RTC::ExecutionContextList_var contexts = rtc_->get_owned_contexts();
      return RTC::ExecutionContextService::_narrow(contexts[0]);
    }

    NameServer names_;
    std::unique_ptr<ChildProcess> component_;
    RTC::RTObject_var rtc_;
  };
}

TEST_F(KorventComp, ProfileCarriesTheTableAProvidedPortAndTheChangePort)
{
  RTC::ComponentProfile_var profile = rtc_->get_component_profile();
  EXPECT_STREQ("Korvent0", profile->instance_name);
  EXPECT_STREQ("Korvent", profile->type_name);
  EXPECT_STREQ("Korvent Module", profile->description);
  EXPECT_STREQ("1.0.0", profile->version);
  EXPECT_STREQ("Quillmoor", profile->vendor);
  EXPECT_STREQ("Category", profile->category);
  const std::pair<const char*, const char*> table[] = {
    {"implementation_id", "Korvent"}, {"type_name", "Korvent"}, {"description", "Korvent Module"},
    {"version", "1.0.0"}, {"vendor", "Quillmoor"}, {"category", "Category"},
    {"activity_type", "PERIODIC"}, {"kind", "DataFlowComponent"}, {"max_instance", "1"},
    {"language", "C++"}, {"lang_type", "compile"}};
  for (const auto& [key, value] : table)
    EXPECT_EQ(std::optional<std::string>(value), stringProperty(profile->properties, key)) << key;

  ASSERT_EQ(3u, profile->port_profiles.length());
  RTC::PortServiceList_var ports = rtc_->get_ports();
  ASSERT_EQ(3u, ports->length());
  RTC::PortProfile_var port = ports[0]->get_port_profile();
  EXPECT_STREQ("Korvent0.KorventPV", port->name);
  EXPECT_EQ(std::optional<std::string>("CorbaPort"), stringProperty(port->properties, "port.port_type"));
  // Only Korvent: a tool that matches every interface of the first port it
  // is given against the other's then connects any consumer of Korvent.
  ASSERT_EQ(1u, port->interfaces.length());
  EXPECT_STREQ("Korvent", port->interfaces[0].instance_name);
  EXPECT_STREQ("Korvent", port->interfaces[0].type_name);
  EXPECT_EQ(RTC::PROVIDED, port->interfaces[0].polarity);
  EXPECT_TRUE(port->owner->_is_equivalent(rtc_));
  EXPECT_TRUE(port->port_ref->_is_equivalent(ports[0]));

  RTC::PortProfile_var changes = ports[1]->get_port_profile();
  EXPECT_STREQ("Korvent0.mapChanged", changes->name);
  EXPECT_EQ(0u, changes->interfaces.length());
  const std::pair<const char*, const char*> dataPort[] = {
    {"port.port_type", "DataOutPort"}, {"dataport.data_type", "IDL:RTC/TimedULongSeq:1.0"},
    {"dataport.interface_type", "corba_cdr"}, {"dataport.dataflow_type", "push"},
    {"dataport.subscription_type", "flush,new,periodic"}};
  for (const auto& [key, value] : dataPort)
    EXPECT_EQ(std::optional<std::string>(value), stringProperty(changes->properties, key)) << key;

  RTC::PortProfile_var regions = ports[2]->get_port_profile();
  EXPECT_STREQ("Korvent0.KorventRegionPV", regions->name);
  ASSERT_EQ(2u, regions->interfaces.length());
  const char* const provided[] = {"KorventRegion", "KorventMapInfo"};
  for (CORBA::ULong i = 0; i < 2; ++i) {
    EXPECT_STREQ(provided[i], regions->interfaces[i].instance_name);
    EXPECT_STREQ(provided[i], regions->interfaces[i].type_name);
    EXPECT_EQ(RTC::PROVIDED, regions->interfaces[i].polarity);
  }
}

TEST_F(KorventComp, SdoOperationsAnswerWithTheirDefaults)
{
  CORBA::String_var id = rtc_->get_sdo_id();
  EXPECT_STREQ("Korvent0", id);
  CORBA::String_var type = rtc_->get_sdo_type();
  EXPECT_STREQ("Korvent Module", type);
  SDOPackage::OrganizationList_var owned = rtc_->get_owned_organizations();
  SDOPackage::OrganizationList_var member = rtc_->get_organizations();
  EXPECT_EQ(0u, owned->length());
  EXPECT_EQ(0u, member->length());
  SDOPackage::ServiceProfileList_var services = rtc_->get_service_profiles();
  EXPECT_EQ(0u, services->length());
  EXPECT_THROW(rtc_->get_sdo_service("none"), SDOPackage::InvalidParameter);
  EXPECT_THROW(rtc_->get_monitoring(), SDOPackage::InterfaceNotImplemented);
  EXPECT_THROW(rtc_->get_status("none"), SDOPackage::InvalidParameter);

  SDOPackage::Configuration_var configuration = rtc_->get_configuration();
  ASSERT_FALSE(CORBA::is_nil(configuration));
  SDOPackage::ConfigurationSetList_var sets = configuration->get_configuration_sets();
  EXPECT_EQ(0u, sets->length());
  EXPECT_THROW(configuration->get_active_configuration_set(), SDOPackage::NotAvailable);
  EXPECT_FALSE(configuration->add_service_profile(SDOPackage::ServiceProfile()));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rtc_->finalize());
}

TEST_F(KorventComp, OwnedContextDrivesTheLifeCycle)
{
  RTC::ExecutionContextService_var ec = ownedContext();
  ASSERT_FALSE(CORBA::is_nil(ec));
  EXPECT_EQ(0, rtc_->get_context_handle(ec));
  EXPECT_TRUE(rtc_->is_alive(ec));
  RTC::ExecutionContextList_var participating = rtc_->get_participating_contexts();
  EXPECT_EQ(0u, participating->length());
  EXPECT_TRUE(ec->is_running());
  EXPECT_EQ(RTC::PERIODIC, ec->get_kind());
  EXPECT_DOUBLE_EQ(1000.0, ec->get_rate());
  RTC::ExecutionContextProfile_var ecProfile = ec->get_profile();
  EXPECT_TRUE(ecProfile->owner->_is_equivalent(rtc_));
  EXPECT_EQ(0u, ecProfile->participants.length());

  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(rtc_));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->deactivate_component(rtc_));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->reset_component(rtc_));
  EXPECT_EQ(RTC::RTC_OK, ec->activate_component(rtc_));
  EXPECT_EQ(RTC::ACTIVE_STATE, ec->get_component_state(rtc_));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->activate_component(rtc_));
  EXPECT_EQ(RTC::RTC_OK, ec->deactivate_component(rtc_));
  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(rtc_));
  EXPECT_EQ(RTC::BAD_PARAMETER, ec->set_rate(0.0));
  EXPECT_EQ(RTC::BAD_PARAMETER, ec->activate_component(RTC::LightweightRTObject::_nil()));
}

TEST_F(KorventComp, MapSurvivesActivationExecutionAndDeactivation)
{
  RTC::ConnectorProfile connector;
  connector.name = "probe";
  connector.connector_id = "";
  connector.ports.length(1);
  connector.ports[0] = servicePort();
  ASSERT_EQ(RTC::RTC_OK, connector.ports[0]->connect(connector));
  ASSERT_TRUE(stringProperty(connector.properties, "port.Korvent.Korvent"));
  Korvent_var service = korventFromString(*stringProperty(connector.properties, "port.Korvent.Korvent"));

  const std::vector<CORBA::Octet> octets{0, 1, 2, 0x80, 0xFF};
  service->setGridMap(-3, 4, makeMap(octets));
  RTC::ExecutionContextService_var ec = ownedContext();
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(rtc_));
  // Let it run a few hundred cycles of on_execute.
  ASSERT_TRUE(waitFor([&] { return ec->get_component_state(rtc_) == RTC::ACTIVE_STATE; }, 1s));
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(RTC::RTC_OK, ec->deactivate_component(rtc_));

  RTC::TimedOctetSeq map;
  CORBA::Short width = 0, height = 0;
  service->getGridMap(width, height, map);
  EXPECT_EQ(octets, octetsOf(map));
  EXPECT_EQ(-3, width);
  EXPECT_EQ(4, height);
}

TEST_F(KorventComp, SigtermEndsCleanlyAndUnbinds)
{
  std::optional<int> status = component_->stop(SIGTERM, 20s);
  EXPECT_TRUE(exitedWith(status, 0)) << component_->errorOutput();
  EXPECT_FALSE(bound());
  EXPECT_EQ("", component_->errorOutput());
  EXPECT_EQ("", component_->remainingOutput());
}

TEST_F(KorventComp, RemoteExitEndsTheProcessAndUnbinds)
{
  EXPECT_EQ(RTC::RTC_OK, rtc_->exit());
  std::optional<int> status = component_->wait(20s);
  EXPECT_TRUE(exitedWith(status, 0)) << component_->errorOutput();
  EXPECT_FALSE(bound());
}

TEST_F(KorventComp, NameIsBoundAgainAfterTheNameServerRestarts)
{
  names_.stop();
  names_.start();  // same port, no bindings
  EXPECT_FALSE(bound());
  EXPECT_TRUE(waitFor([this] { return bound(); }, 10s));
  EXPECT_TRUE(component_->running());
}

TEST(KorventCompStartup, NameServerStartedLaterGetsTheNameAfterOneWarning)
{
  NameServer names;
  std::unique_ptr<ChildProcess> component = startKorventComp(names.address());
  // The component must come up and keep running without its name server.
  ASSERT_TRUE(waitFor([&] { return !component->errorOutput().empty(); }, 10s));
  EXPECT_TRUE(component->running());
  names.start();
  EXPECT_TRUE(waitFor([&] {
    CORBA::Object_var object = names.resolve(korventName());
    return !CORBA::is_nil(object);
  }, 10s));
  EXPECT_TRUE(exitedWith(component->stop(SIGTERM, 20s), 0));
  const std::string errors = component->errorOutput();
  EXPECT_EQ(1, std::count(errors.begin(), errors.end(), '\n')) << errors;
  EXPECT_NE(std::string::npos, errors.find("warning: name server " + names.address())) << errors;
}
