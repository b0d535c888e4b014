// Client::Impl: the process's ORB, and finding a component and its
// services the way a consumer component does, through a port's connector.
#include "ClientImpl.h"

#include <omniORB4/Naming.hh>

#include <limits>
#include <mutex>
#include <vector>

namespace korvent
{
  namespace
  {
    CORBA::ORB_ptr processOrb(const ClientOptions& options)
    {
      // omniORB keeps one ORB per process; a second ORB_init returns it as
      // it was first configured.
      static std::mutex initialising;
      static bool initialised = false;
      const std::lock_guard<std::mutex> lock(initialising);
      std::vector<std::string> args{options.programName, "-ORBgiopMaxMsgSize",
                                    std::to_string(options.maxMessageSize)};
      args.insert(args.end(), options.orbOptions.begin(), options.orbOptions.end());
      std::vector<char*> argv;
      for (std::string& arg : args)
        argv.push_back(arg.data());
      argv.push_back(nullptr);
      int argc = static_cast<int>(args.size());
      CORBA::ORB_var orb = CORBA::ORB_init(argc, argv.data());
      if (!initialised && options.orbReady)
        options.orbReady(orb);
      initialised = true;
      return orb._retn();
    }

    // "a.b/c.d" to a CosNaming name; the last dot of a component starts its kind.
    CosNaming::Name toName(const std::string& text)
    {
      CosNaming::Name name;
      std::size_t start = 0;
      while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos)
          end = text.size();
        const std::string part = text.substr(start, end - start);
        const std::size_t dot = part.rfind('.');
        const CORBA::ULong at = name.length();
        name.length(at + 1);
        name[at].id = part.substr(0, dot).c_str();
        name[at].kind = dot == std::string::npos ? "" : part.substr(dot + 1).c_str();
        start = end + 1;
      }
      return name;
    }

    // The reference a connector profile publishes for the provided
    // interface `type`, under the key of either generation of the framework.
    std::optional<std::string> providerIor(const RTC::ConnectorProfile& profile, const std::string& type)
    {
      const std::string older = "port." + type + "." + type;
      const std::string newer = ".provided." + type + "." + type;
      for (CORBA::ULong i = 0; i < profile.properties.length(); ++i) {
        const std::string key = profile.properties[i].name.in();
        const char* value = nullptr;
        const bool matches = key == older ||
                             (key.size() > newer.size() && key.compare(key.size() - newer.size(), newer.size(), newer) == 0);
        if (matches && (profile.properties[i].value >>= value))
          return std::string(value);
      }
      return std::nullopt;
    }

    // The whole map is served on a port of its own, its regions and
    // description on another; a component of an older build serves the
    // map and its regions on one.
    bool providesAMapService(const RTC::PortProfile& profile)
    {
      for (CORBA::ULong i = 0; i < profile.interfaces.length(); ++i) {
        const std::string type = profile.interfaces[i].type_name.in();
        if (profile.interfaces[i].polarity == RTC::PROVIDED && (type == "Korvent" || type == "KorventRegion" || type == "KorventMapInfo"))
          return true;
      }
      return false;
    }
  }

  Client::Impl::Impl(const ClientOptions& given, std::string location)
    : options(given), timeout(given.callTimeout), where(std::move(location))
  {
    if (timeout.count() <= 0 || timeout.count() > std::numeric_limits<CORBA::ULong>::max())
      throw std::invalid_argument("callTimeout must be above 0 and fit in 32 bits of milliseconds");
    orb = processOrb(options);
  }

  CORBA::Object_ptr Client::Impl::resolve(const std::string& rootUrl, const std::string& server,
                                          const std::string& name)
  {
    try {
      CORBA::Object_var object = orb->string_to_object(rootUrl.c_str());
      CosNaming::NamingContext_var root = bounded<CosNaming::NamingContext>(object, timeout);
      return root->resolve(toName(name));
    }
    catch (const CosNaming::NamingContext::NotFound&) {
      throw ComponentNotFound("no component named " + name + " in the name service", server);
    }
    catch (const CosNaming::NamingContext::InvalidName&) {
      throw ComponentNotFound("not a valid component name: " + name, server);
    }
    catch (const CosNaming::NamingContext::CannotProceed&) {
      throw ComponentNotFound("the name service cannot resolve " + name, server);
    }
    catch (const CORBA::SystemException& error) {
      fail(error, Peer::NameService, "the name service", server);
    }
  }

  std::optional<RTC::ConnectorProfile> Client::Impl::askPort(RTC::PortService_ptr port)
  {
    RTC::PortProfile_var portProfile = port->get_port_profile();
    if (!providesAMapService(portProfile.in()))
      return std::nullopt;
    RTC::ConnectorProfile profile;
    profile.name = "korvent-client";
    profile.connector_id = "";
    profile.ports.length(1);
    profile.ports[0] = RTC::PortService::_duplicate(port);
    if (port->connect(profile) != RTC::RTC_OK)
      return std::nullopt;
    // The connection only serves to publish the provider: remove it before
    // anything else can fail.
    const RTC::ReturnCode_t removed = port->disconnect(profile.connector_id);
    if (removed != RTC::RTC_OK)
      throw CommunicationError("the component kept connector " + std::string(profile.connector_id.in()) +
                               ": disconnect returned " + std::to_string(static_cast<int>(removed)), where);
    return profile;
  }

  void Client::Impl::findService(CORBA::Object_ptr object)
  {
    if (CORBA::is_nil(object))
      throw ComponentNotFound("the reference is nil", where);
    component = bounded<RTC::RTObject>(object, timeout);
    std::optional<std::string> ior;
    std::optional<std::string> regionIor;
    std::optional<std::string> mapInfoIor;
    try {
      RTC::PortServiceList_var ports = component->get_ports();
      for (CORBA::ULong i = 0; i < ports->length() && !(ior && regionIor && mapInfoIor); ++i) {
        RTC::PortService_var port = bounded<RTC::PortService>(ports[i], timeout);
        if (const std::optional<RTC::ConnectorProfile> profile = askPort(port)) {
          if (!ior)
            ior = providerIor(*profile, "Korvent");
          if (!regionIor)
            regionIor = providerIor(*profile, "KorventRegion");
          if (!mapInfoIor)
            mapInfoIor = providerIor(*profile, "KorventMapInfo");
        }
      }
    }
    catch (const CORBA::SystemException& error) {
      fail(error, Peer::Component,
           named ? "the component, though its name is bound in the name service," : "the component", where);
    }
    if (!ior)
      throw NoSuchService("the component has no port providing the Korvent service", where);
    try {
      CORBA::Object_var provider = orb->string_to_object(ior->c_str());
      service = bounded<Korvent>(provider, timeout);
      if (regionIor) {
        CORBA::Object_var regionProvider = orb->string_to_object(regionIor->c_str());
        region = bounded<KorventRegion>(regionProvider, timeout);
      }
      if (mapInfoIor) {
        CORBA::Object_var mapInfoProvider = orb->string_to_object(mapInfoIor->c_str());
        mapInfo = bounded<KorventMapInfo>(mapInfoProvider, timeout);
      }
    }
    catch (const CORBA::SystemException& error) {
      fail(error, Peer::MapService, "the map service", where);
    }
  }

  std::unique_ptr<ChangeInbox> Client::Impl::connectChanges()
  {
    try {
      return std::make_unique<ChangeInbox>(orb, component, timeout, where);
    }
    catch (const CORBA::SystemException& error) {
      // A component that does not answer is not looked for again, which
      // would wait for it once more: an attempt costs one call timeout.
      if (timedOut(error))
        fail(error, Peer::Component, "the component's mapChanged port", where);
      // A restarted component is found again by its name; one known only by
      // its reference is asked again.
      CORBA::Object_var object = locate ? locate() : CORBA::Object::_duplicate(component);
      findService(object);
    }
    try {
      return std::make_unique<ChangeInbox>(orb, component, timeout, where);
    }
    catch (const CORBA::SystemException& error) {
      fail(error, Peer::Component, "the component's mapChanged port", where);
    }
  }
}
