#include "ChangeWatch.h"

#include "mapio/MapError.h"

#include <rtm/NVUtil.h>

#include <cstdio>
#include <ctime>

namespace
{
  RTC::PortService_ptr changePortOf(RTC::RTObject_ptr component)
  {
    const std::string suffix = ".mapChanged";
    RTC::PortServiceList_var ports = component->get_ports();
    for (CORBA::ULong i = 0; i < ports->length(); ++i) {
      RTC::PortProfile_var profile = ports[i]->get_port_profile();
      const std::string name = profile->name.in();
      if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        return RTC::PortService::_duplicate(ports[i]);
    }
    return RTC::PortService::_nil();
  }
}

ChangeWatch::ChangeWatch(const std::string& component)
  : port_("watch", event_)
{
  // The ORB the client library set up; the port is served from its root POA.
  int argc = 0;
  CORBA::ORB_var orb = CORBA::ORB_init(argc, nullptr);
  CORBA::Object_var rootObject = orb->resolve_initial_references("RootPOA");
  PortableServer::POA_var root = PortableServer::POA::_narrow(rootObject);
  PortableServer::POAManager_var manager = root->the_POAManager();
  manager->activate();
  port_.activate(orb, root);

  CORBA::Object_var object = orb->string_to_object(component.c_str());
  RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
  RTC::PortService_var changes = changePortOf(rtc);
  if (CORBA::is_nil(changes))
    throw mapio::MapError("the component has no mapChanged port", "watch");
  RTC::ConnectorProfile profile;
  profile.name = "korvent-map watch";
  profile.connector_id = "";
  profile.ports.length(2);
  profile.ports[0] = port_.getPortRef();
  profile.ports[1] = RTC::PortService::_duplicate(changes);
  RTC::appendString(profile.properties, "dataport.dataflow_type", "push");
  RTC::appendString(profile.properties, "dataport.interface_type", "corba_cdr");
  RTC::appendString(profile.properties, "dataport.subscription_type", "new");
  RTC::appendString(profile.properties, "dataport.data_type", port_.dataType());
  const RTC::ReturnCode_t connected = port_.connect(profile);
  if (connected != RTC::RTC_OK)
    throw mapio::MapError("the mapChanged port refused the connection (code " +
                          std::to_string(static_cast<int>(connected)) + ")", "watch");
}

ChangeWatch::~ChangeWatch()
{
  port_.disconnect_all();
  port_.deactivate();
  port_.waitReleased();
}

std::optional<RTC::TimedULongSeq> ChangeWatch::next(std::chrono::milliseconds timeout)
{
  if (!port_.waitNew(timeout) || !port_.read())
    return std::nullopt;
  return event_;
}

std::string describeChange(const RTC::TimedULongSeq& event)
{
  if (event.data.length() < 5)
    return "an event of " + std::to_string(event.data.length()) + " values, not a map change";
  const std::time_t seconds = event.tm.sec;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[160];
  std::snprintf(text, sizeof text, "version %lu, %d x %d, %lu bytes, CRC %08lx, stored %04d-%02d-%02dT%02d:%02d:%02d.%03luZ",
                static_cast<unsigned long>(event.data[0]), static_cast<std::int16_t>(event.data[1]),
                static_cast<std::int16_t>(event.data[2]), static_cast<unsigned long>(event.data[3]),
                static_cast<unsigned long>(event.data[4]), utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<unsigned long>(event.tm.nsec / 1000000));
  return text;
}
