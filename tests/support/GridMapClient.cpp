#include "GridMapClient.h"

#include <mutex>

std::vector<std::string> largeMessageOrbOptions()
{
  return {"-ORBgiopMaxMsgSize", "268435456"};
}

CORBA::ORB_ptr clientOrb()
{
  static CORBA::ORB_ptr orb = [] {
    std::vector<std::string> options = largeMessageOrbOptions();
    std::vector<char*> argv{const_cast<char*>("test-client")};
    for (std::string& o : options)
      argv.push_back(o.data());
    int argc = static_cast<int>(argv.size());
    // Leaked on purpose: the ORB lives as long as the test process.
    return CORBA::ORB_init(argc, argv.data());
  }();
  return orb;
}

PortableServer::POA_ptr clientPoa()
{
  static PortableServer::POA_ptr poa = [] {
    CORBA::Object_var object = clientOrb()->resolve_initial_references("RootPOA");
    PortableServer::POA_ptr root = PortableServer::POA::_narrow(object);
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();
    return root;
  }();
  return poa;
}

Korvent_ptr korventFromString(const std::string& reference)
{
  CORBA::Object_var object = clientOrb()->string_to_object(reference.c_str());
  return Korvent::_narrow(object);
}

CORBA::Object_ptr providedObject(CORBA::ORB_ptr orb, RTC::RTObject_ptr component, const std::string& property)
{
  RTC::PortServiceList_var ports = component->get_ports();
  for (CORBA::ULong i = 0; i < ports->length(); ++i) {
    RTC::ConnectorProfile profile;
    profile.name = "test-client";
    profile.connector_id = "";
    profile.ports.length(1);
    profile.ports[0] = RTC::PortService::_duplicate(ports[i]);
    if (ports[i]->connect(profile) != RTC::RTC_OK)
      continue;
    ports[i]->disconnect(profile.connector_id);
    for (CORBA::ULong p = 0; p < profile.properties.length(); ++p) {
      const char* ior = nullptr;
      if (property == profile.properties[p].name.in() && (profile.properties[p].value >>= ior))
        return orb->string_to_object(ior);
    }
  }
  return CORBA::Object::_nil();
}

Korvent_ptr providedService(CORBA::ORB_ptr orb, RTC::RTObject_ptr component)
{
  CORBA::Object_var object = providedObject(orb, component, "port.Korvent.Korvent");
  return Korvent::_narrow(object);
}

KorventRegion_ptr providedRegionService(CORBA::ORB_ptr orb, RTC::RTObject_ptr component)
{
  CORBA::Object_var object = providedObject(orb, component, "port.KorventRegion.KorventRegion");
  return KorventRegion::_narrow(object);
}

RTC::TimedOctetSeq makeMap(const std::vector<CORBA::Octet>& octets,
                           CORBA::ULong sec, CORBA::ULong nsec)
{
  RTC::TimedOctetSeq map;
  map.tm.sec = sec;
  map.tm.nsec = nsec;
  map.data.length(static_cast<CORBA::ULong>(octets.size()));
  for (CORBA::ULong i = 0; i < octets.size(); ++i)
    map.data[i] = octets[i];
  return map;
}

std::vector<CORBA::Octet> octetsOf(const RTC::TimedOctetSeq& map)
{
  const CORBA::Octet* begin = map.data.get_buffer();
  return std::vector<CORBA::Octet>(begin, begin + map.data.length());
}

KorventRegion::CellSeq cellSeqOf(const std::vector<CORBA::Octet>& octets)
{
  KorventRegion::CellSeq cells(static_cast<CORBA::ULong>(octets.size()));
  cells.length(static_cast<CORBA::ULong>(octets.size()));
  for (CORBA::ULong i = 0; i < cells.length(); ++i)
    cells[i] = octets[i];
  return cells;
}
