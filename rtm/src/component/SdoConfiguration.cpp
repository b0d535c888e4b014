#include "rtm/component/SdoConfiguration.h"

#include <string>

namespace RTC
{
  using namespace SDOPackage;

  CORBA::Boolean SdoConfiguration::set_device_profile(const DeviceProfile&) { return false; }
  // No service extension (observer, logger) is available to attach.
  CORBA::Boolean SdoConfiguration::add_service_profile(const ServiceProfile&) { return false; }
  CORBA::Boolean SdoConfiguration::add_organization(Organization_ptr) { return false; }
  CORBA::Boolean SdoConfiguration::remove_service_profile(const char*) { return false; }
  CORBA::Boolean SdoConfiguration::remove_organization(const char*) { return false; }
  ParameterList* SdoConfiguration::get_configuration_parameters() { return new ParameterList; }
  NVList* SdoConfiguration::get_configuration_parameter_values() { return new NVList; }

  CORBA::Any* SdoConfiguration::get_configuration_parameter_value(const char* name)
  {
    throw InvalidParameter(("no configuration parameter " + std::string(name)).c_str());
  }

  CORBA::Boolean SdoConfiguration::set_configuration_parameter(const char* name, const CORBA::Any&)
  {
    throw InvalidParameter(("no configuration parameter " + std::string(name)).c_str());
  }

  ConfigurationSetList* SdoConfiguration::get_configuration_sets() { return new ConfigurationSetList; }

  ConfigurationSet* SdoConfiguration::get_configuration_set(const char* config_id)
  {
    throw NotAvailable(("no configuration set " + std::string(config_id)).c_str());
  }

  CORBA::Boolean SdoConfiguration::set_configuration_set_values(const ConfigurationSet&) { return false; }

  ConfigurationSet* SdoConfiguration::get_active_configuration_set()
  {
    throw NotAvailable("no configuration set is active");
  }

  CORBA::Boolean SdoConfiguration::add_configuration_set(const ConfigurationSet&) { return false; }
  CORBA::Boolean SdoConfiguration::remove_configuration_set(const char*) { return false; }
  CORBA::Boolean SdoConfiguration::activate_configuration_set(const char*) { return false; }
}
