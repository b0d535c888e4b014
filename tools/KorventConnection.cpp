#include "KorventConnection.h"

#include "mapio/MapError.h"

#include <RTC.hh>
#include <omniORB4/Naming.hh>

#include <cmath>
#include <vector>

namespace
{
  using mapio::MapError;

  // Time a transfer may take on top of the call timeout: one second per
  // 8 MiB, so that a slow loopback or network still completes large maps.
  constexpr double bytesPerSecondAllowed = 8.0 * 1024 * 1024;

  // GIOP header, request header and the other parameters besides the
  // octets: generous, so that the local check never lets through a map
  // the ORB would then refuse.
  constexpr unsigned long messageOverhead = 4096;

  bool isUnreachable(const CORBA::SystemException& error)
  {
    return dynamic_cast<const CORBA::TRANSIENT*>(&error) || dynamic_cast<const CORBA::COMM_FAILURE*>(&error) ||
           dynamic_cast<const CORBA::TIMEOUT*>(&error) || dynamic_cast<const CORBA::OBJECT_NOT_EXIST*>(&error);
  }

  std::string byteCount(unsigned long bytes)
  {
    return std::to_string(bytes) + " bytes";
  }

  MapError overLimit(const std::string& what, const std::string& where)
  {
    return MapError(what + "; raise the limit on both ends: "
                    "-ORBgiopMaxMsgSize <bytes> in KorventComp's corba.args and korvent-map --max-message <bytes>",
                    where);
  }
}

KorventConnection::KorventConnection(const ConnectionOptions& options)
  : options_(options)
{
  const unsigned long timeoutMs = static_cast<unsigned long>(std::ceil(options.timeoutSeconds * 1000));
  std::vector<std::string> args{
    "korvent-map",
    "-ORBgiopMaxMsgSize", std::to_string(options.maxMessageBytes),
    "-ORBclientCallTimeOutPeriod", std::to_string(timeoutMs),
    "-ORBclientConnectTimeOutPeriod", std::to_string(timeoutMs),
    // Failures are reported in one line of our own; the ORB's log would
    // only add lines.
    "-ORBtraceLevel", "0"};
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  int argc = static_cast<int>(argv.size());
  orb_ = CORBA::ORB_init(argc, argv.data());
  try {
    service_ = findKorventService(orb_, options.nameServer, options.componentName);
  }
  catch (...) {
    orb_->destroy();
    throw;
  }
}

KorventConnection::~KorventConnection()
{
  service_ = Korvent::_nil();
  orb_->destroy();
}

Korvent_ptr findKorventService(CORBA::ORB_ptr orb, const std::string& host, const std::string& name)
{
  CosNaming::NamingContextExt_var names;
  try {
    CORBA::Object_var object = orb->string_to_object(("corbaloc::" + host + "/NameService").c_str());
    names = CosNaming::NamingContextExt::_narrow(object);
  }
  catch (const CORBA::BAD_PARAM&) {
    throw MapError("not a name server address; expected host:port", host);
  }
  catch (const CORBA::SystemException& error) {
    if (isUnreachable(error))
      throw MapError("cannot reach the name service", host);
    throw MapError(std::string("name service failed: ") + error._name(), host);
  }
  if (CORBA::is_nil(names))
    throw MapError("no name service answers there", host);

  RTC::RTObject_var component;
  try {
    CosNaming::Name_var path = names->to_name(name.c_str());
    CORBA::Object_var object = names->resolve(path);
    component = RTC::RTObject::_narrow(object);
  }
  catch (const CosNaming::NamingContext::NotFound&) {
    throw MapError("no component named " + name + " in the name service", host);
  }
  catch (const CosNaming::NamingContext::InvalidName&) {
    throw MapError("not a valid component name: " + name, host);
  }
  catch (const CORBA::SystemException& error) {
    if (isUnreachable(error))
      throw MapError("component " + name + " does not answer, though its name is bound in the name service", host);
    throw MapError(std::string("cannot resolve ") + name + ": " + error._name(), host);
  }
  catch (const CORBA::UserException& error) {
    throw MapError(std::string("cannot resolve ") + name + ": " + error._name(), host);
  }
  if (CORBA::is_nil(component))
    throw MapError(name + " is not an RT-Component", host);

  // Connecting the service port alone makes it publish the provider's
  // reference in the connector profile; the connection is removed again as
  // soon as the reference is read.
  try {
    RTC::PortServiceList_var ports = component->get_ports();
    for (CORBA::ULong i = 0; i < ports->length(); ++i) {
      RTC::ConnectorProfile profile;
      profile.name = "korvent-map";
      profile.connector_id = "";
      profile.ports.length(1);
      profile.ports[0] = RTC::PortService::_duplicate(ports[i]);
      if (ports[i]->connect(profile) != RTC::RTC_OK)
        continue;
      ports[i]->disconnect(profile.connector_id);
      for (CORBA::ULong p = 0; p < profile.properties.length(); ++p) {
        const char* ior = nullptr;
        if (std::string(profile.properties[p].name) == "port.Korvent.Korvent" &&
            (profile.properties[p].value >>= ior)) {
          CORBA::Object_var object = orb->string_to_object(ior);
          Korvent_var service = Korvent::_narrow(object);
          if (!CORBA::is_nil(service))
            return service._retn();
        }
      }
    }
  }
  catch (const CORBA::SystemException& error) {
    if (isUnreachable(error))
      throw MapError("component " + name + " does not answer, though its name is bound in the name service", host);
    throw MapError(std::string("cannot connect to ") + name + ": " + error._name(), host);
  }
  throw MapError("component " + name + " offers no Korvent service", host);
}

void KorventConnection::allowTransferOf(unsigned long bytes)
{
  const double seconds = options_.timeoutSeconds + bytes / bytesPerSecondAllowed;
  omniORB::setClientCallTimeout(service_, static_cast<CORBA::ULong>(std::ceil(seconds * 1000)));
}

void KorventConnection::failCall(const CORBA::SystemException& error, const char* operation,
                                 unsigned long bytes) const
{
  const std::string& name = options_.componentName;
  const CORBA::MARSHAL* marshal = dynamic_cast<const CORBA::MARSHAL*>(&error);
  if (marshal && (error.minor() == omni::MARSHAL_MessageSizeExceedLimitOnClient ||
                  error.minor() == omni::MARSHAL_MessageSizeExceedLimit))
    throw overLimit("the map exceeds korvent-map's message size limit of " +
                      byteCount(options_.maxMessageBytes), name);
  if (marshal && error.minor() == omni::MARSHAL_MessageSizeExceedLimitOnServer)
    throw overLimit("the map exceeds KorventComp's message size limit", name);
  if (dynamic_cast<const CORBA::TIMEOUT*>(&error))
    throw MapError(std::string(operation) + " got no answer in time; --timeout sets how long to wait", name);
  // omniORB's server drops the connection of a request over its limit
  // without a reply, so a large set that loses its connection most likely
  // met that limit.
  if (dynamic_cast<const CORBA::COMM_FAILURE*>(&error) && bytes > 0)
    throw overLimit(std::string(operation) + " of " + byteCount(bytes) +
                      " lost its connection, as when the map exceeds KorventComp's message size limit", name);
  if (isUnreachable(error))
    throw MapError(std::string(operation) + " failed: component does not answer (" + error._name() + ")", name);
  throw MapError(std::string(operation) + " failed: " + error._name(), name);
}

void KorventConnection::setGridMap(const mapio::GridMap& map)
{
  const unsigned long bytes = map.cells.size();
  if (bytes + messageOverhead > options_.maxMessageBytes)
    throw overLimit("the map of " + byteCount(bytes) + " exceeds korvent-map's message size limit of " +
                      byteCount(options_.maxMessageBytes), options_.componentName);
  RTC::TimedOctetSeq data;
  // The sequence only borrows the cells: no copy of a large map.
  data.data.replace(static_cast<CORBA::ULong>(bytes), static_cast<CORBA::ULong>(bytes),
                    reinterpret_cast<CORBA::Octet*>(const_cast<char*>(map.cells.data())), false);
  allowTransferOf(bytes);
  try {
    service_->setGridMap(map.width, map.height, data);
  }
  catch (const CORBA::SystemException& error) {
    failCall(error, "setGridMap", bytes);
  }
}

mapio::GridMap KorventConnection::getGridMap()
{
  allowTransferOf(options_.maxMessageBytes);
  mapio::GridMap map;
  RTC::TimedOctetSeq data;
  try {
    service_->getGridMap(map.width, map.height, data);
  }
  catch (const CORBA::SystemException& error) {
    failCall(error, "getGridMap", 0);
  }
  map.cells.assign(reinterpret_cast<const char*>(data.data.get_buffer()), data.data.length());
  return map;
}
