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
