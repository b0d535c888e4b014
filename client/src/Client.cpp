#include "korvent/Client.h"

#include "ClientImpl.h"

#include <omniORB4/Naming.hh>

#include <limits>
#include <mutex>
#include <optional>
#include <sys/utsname.h>
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

    bool providesKorvent(const RTC::PortProfile& profile)
    {
      for (CORBA::ULong i = 0; i < profile.interfaces.length(); ++i)
        if (profile.interfaces[i].polarity == RTC::PROVIDED &&
            std::string(profile.interfaces[i].type_name.in()) == "Korvent")
          return true;
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
    if (!providesKorvent(portProfile.in()))
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
    try {
      RTC::PortServiceList_var ports = component->get_ports();
      for (CORBA::ULong i = 0; i < ports->length() && !ior; ++i) {
        RTC::PortService_var port = bounded<RTC::PortService>(ports[i], timeout);
        if (const std::optional<RTC::ConnectorProfile> profile = askPort(port)) {
          ior = providerIor(*profile, "Korvent");
          regionIor = providerIor(*profile, "KorventRegion");
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
    }
    catch (const CORBA::SystemException& error) {
      fail(error, Peer::MapService, "the map service", where);
    }
  }

  Client::Client(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
  Client::Client(Client&&) noexcept = default;
  Client& Client::operator=(Client&&) noexcept = default;
  Client::~Client() = default;

  std::string Client::defaultComponentName()
  {
    utsname names;
    uname(&names);
    return std::string(names.nodename) + ".host_cxt/Korvent0.rtc";
  }

  Client Client::atNameServer(const std::string& hostPort, const std::string& name, const ClientOptions& options)
  {
    auto impl = std::make_unique<Impl>(options, name + " on " + hostPort);
    CORBA::Object_var found = impl->resolve("corbaloc::" + hostPort + "/NameService", hostPort, name);
    impl->named = true;
    impl->findService(found);
    return Client(std::move(impl));
  }

  Client Client::atReference(const std::string& reference, const ClientOptions& options)
  {
    auto impl = std::make_unique<Impl>(options, reference.substr(0, 80));
    CORBA::Object_var object;
    const std::string corbaname = "corbaname:";
    if (reference.compare(0, corbaname.size(), corbaname) == 0) {
      // Resolved here rather than by the ORB, so that the call timeout
      // bounds the name service's answer too.
      const std::size_t hash = reference.find('#');
      std::string address = reference.substr(corbaname.size(), hash - corbaname.size());
      const std::size_t slash = address.rfind('/');
      if (slash == std::string::npos || slash < address.rfind(':'))
        address += "/NameService";
      const std::string name = hash == std::string::npos ? "" : reference.substr(hash + 1);
      if (name.empty())
        throw ComponentNotFound("the reference names no component", impl->where);
      object = impl->resolve("corbaloc:" + address, address, name);
      impl->named = true;
    }
    else {
      try {
        object = impl->orb->string_to_object(reference.c_str());
      }
      catch (const CORBA::SystemException& error) {
        throw ComponentNotFound(std::string("not a usable reference: ") + error._name(), impl->where);
      }
    }
    impl->findService(object);
    return Client(std::move(impl));
  }

  std::string Client::componentReference() const
  {
    CORBA::String_var ior = impl_->orb->object_to_string(impl_->component);
    return ior.in();
  }

  std::optional<MapChange> Client::waitForChange(std::uint32_t lastVersion, std::chrono::milliseconds timeout)
  {
    Impl& impl = *impl_;
    try {
      if (!impl.changes)
        impl.changes = std::make_unique<ChangeInbox>(impl.orb, impl.component, impl.timeout, impl.where);
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::Component, "the component's mapChanged port", impl.where);
    }
    return impl.changes->waitForOther(lastVersion, timeout);
  }

  void Client::setMap(std::int16_t width, std::int16_t height, const std::uint8_t* data, std::size_t size)
  {
    const Impl& impl = *impl_;
    // GIOP and request headers besides the octets: generous, so that this
    // check never passes a map the ORB would then refuse.
    constexpr std::size_t messageOverhead = 4096;
    if (size + messageOverhead > omniORB::giopMaxMsgSize())
      throw MapTooLarge("the map of " + std::to_string(size) + " bytes exceeds " + ownLimit(impl.options) +
                        raiseLimitHint(impl.options), impl.where);
    RTC::TimedOctetSeq map;
    // Borrowed, not owned: the sequence never frees or copies the caller's octets.
    map.data.replace(static_cast<CORBA::ULong>(size), static_cast<CORBA::ULong>(size),
                     const_cast<CORBA::Octet*>(data), false);
    const CORBA::ULong allowed = transferTimeoutMs(impl.options, size);
    omniORB::setClientCallTimeout(impl.service, allowed);
    try {
      impl.service->setGridMap(width, height, map);
    }
    catch (const CORBA::COMM_FAILURE& error) {
      // A component refuses an oversized request by closing the connection.
      // If it still answers, that is the likely cause.
      bool alive = false;
      try {
        omniORB::setClientCallTimeout(impl.service, static_cast<CORBA::ULong>(impl.timeout.count()));
        alive = !impl.service->_non_existent();
      }
      catch (const CORBA::SystemException&) {
      }
      if (alive)
        throw MapTooLarge("setGridMap of " + std::to_string(size) +
                          " bytes lost its connection, as when the map exceeds KorventComp's message size limit" +
                          raiseLimitHint(impl.options), impl.where);
      impl.fail(error, Peer::MapService, "setGridMap", impl.where, std::chrono::milliseconds(allowed));
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "setGridMap", impl.where, std::chrono::milliseconds(allowed));
    }
  }

  GridMap Client::getMap()
  {
    const Impl& impl = *impl_;
    GridMap map;
    CORBA::Short width = 0, height = 0;
    const CORBA::ULong allowed = transferTimeoutMs(impl.options, omniORB::giopMaxMsgSize());
    omniORB::setClientCallTimeout(impl.service, allowed);
    try {
      impl.service->getGridMap(width, height, map.sequence_);
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "getGridMap", impl.where, std::chrono::milliseconds(allowed));
    }
    map.width_ = width;
    map.height_ = height;
    return map;
  }
}
