#include "ConnectorProfiles.h"

RTC::ConnectorProfile corbaPortConnector(RTC::PortService_ptr first, RTC::PortService_ptr second,
                                         const char* id)
{
  RTC::ConnectorProfile profile;
  profile.name = "test";
  profile.connector_id = id;
  profile.ports.length(2);
  profile.ports[0] = RTC::PortService::_duplicate(first);
  profile.ports[1] = RTC::PortService::_duplicate(second);
  profile.properties.length(1);
  profile.properties[0].name = "port.port_type";
  profile.properties[0].value <<= "CorbaPort";
  return profile;
}

RTC::ConnectorProfile dataPortConnector(RTC::PortService_ptr first, RTC::PortService_ptr second,
                                        const std::string& dataType,
                                        const std::vector<std::pair<std::string, std::string>>& extra)
{
  std::vector<std::pair<std::string, std::string>> properties{
      {"dataport.dataflow_type", "push"},
      {"dataport.interface_type", "corba_cdr"},
      {"dataport.subscription_type", "new"},
      {"dataport.data_type", dataType}};
  for (const auto& setting : extra) {
    bool replaced = false;
    for (auto& existing : properties)
      if (existing.first == setting.first) {
        existing.second = setting.second;
        replaced = true;
      }
    if (!replaced)
      properties.push_back(setting);
  }
  RTC::ConnectorProfile profile = corbaPortConnector(first, second);
  profile.properties.length(0);
  for (const auto& setting : properties) {
    if (setting.second.empty())
      continue;
    const CORBA::ULong at = profile.properties.length();
    profile.properties.length(at + 1);
    profile.properties[at].name = setting.first.c_str();
    profile.properties[at].value <<= setting.second.c_str();
  }
  return profile;
}

RTC::PortService_ptr portNamed(RTC::RTObject_ptr rtc, const std::string& name)
{
  RTC::PortServiceList_var ports = rtc->get_ports();
  for (CORBA::ULong i = 0; i < ports->length(); ++i) {
    RTC::PortProfile_var profile = ports[i]->get_port_profile();
    const std::string full = profile->name.in();
    if (full.size() > name.size() && full.compare(full.size() - name.size() - 1, std::string::npos, "." + name) == 0)
      return RTC::PortService::_duplicate(ports[i]);
  }
  return RTC::PortService::_nil();
}

bool toolMatchesInterfaces(RTC::PortService_ptr first, RTC::PortService_ptr second)
{
  RTC::PortProfile_var from = first->get_port_profile();
  RTC::PortProfile_var to = second->get_port_profile();
  for (CORBA::ULong i = 0; i < from->interfaces.length(); ++i) {
    bool matched = false;
    for (CORBA::ULong j = 0; j < to->interfaces.length() && !matched; ++j)
      matched = std::string(from->interfaces[i].instance_name.in()) == to->interfaces[j].instance_name.in() &&
                from->interfaces[i].polarity != to->interfaces[j].polarity;
    if (!matched)
      return false;
  }
  return true;
}
