#include "ConnectionKeeper.h"

#include <algorithm>
#include <string>

namespace
{
  constexpr std::chrono::milliseconds quiet{1000};
  constexpr std::chrono::milliseconds longestPause{5000};
}

void ConnectionKeeper::heard()
{
  nextCheck_ = Clock::now() + quiet;
  pause_ = quiet;
}

int ConnectionKeeper::keep()
{
  if (Clock::now() < nextCheck_)
    return 0;
  RTC::PortService_var self = port_.getPortRef();
  RTC::ConnectorProfileList_var connectors = port_.get_connector_profiles();
  int remade = 0;
  bool failed = false;
  for (CORBA::ULong i = 0; i < connectors->length(); ++i) {
    if (heldByPeers(connectors[i], self))
      continue;
    if (remake(connectors[i]))
      ++remade;
    else
      failed = true;
  }
  nextCheck_ = Clock::now() + (failed ? pause_ : quiet);
  pause_ = failed ? std::min(pause_ * 2, longestPause) : quiet;
  return remade;
}

bool ConnectionKeeper::heldByPeers(const RTC::ConnectorProfile& profile, RTC::PortService_ptr self) const
{
  for (CORBA::ULong i = 0; i < profile.ports.length(); ++i) {
    if (profile.ports[i]->_is_equivalent(self))
      continue;
    try {
      RTC::ConnectorProfile_var held = profile.ports[i]->get_connector_profile(profile.connector_id);
      if (std::string(held->connector_id.in()) != profile.connector_id.in())
        return false;
    }
    catch (const CORBA::SystemException&) {
      return false;
    }
  }
  return true;
}

bool ConnectionKeeper::remake(const RTC::ConnectorProfile& profile)
{
  port_.disconnect(profile.connector_id);
  // The same ports and settings, without the references the ports
  // published for the old connection.
  RTC::ConnectorProfile again;
  again.name = profile.name;
  again.connector_id = "";
  again.ports = profile.ports;
  const std::string published = "dataport.corba_cdr.";
  for (CORBA::ULong i = 0; i < profile.properties.length(); ++i) {
    if (std::string(profile.properties[i].name.in()).compare(0, published.size(), published) == 0)
      continue;
    again.properties.length(again.properties.length() + 1);
    again.properties[again.properties.length() - 1] = profile.properties[i];
  }
  try {
    return port_.connect(again) == RTC::RTC_OK;
  }
  catch (const CORBA::SystemException&) {
    return false;
  }
}
