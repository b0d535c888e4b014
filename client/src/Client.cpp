#include "korvent/Client.h"

#include "ClientImpl.h"

#include <optional>
#include <sys/utsname.h>

namespace korvent
{
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
    Impl* located = impl.get();
    impl->locate = [located, hostPort, name] {
      return located->resolve("corbaloc::" + hostPort + "/NameService", hostPort, name);
    };
    CORBA::Object_var found = impl->locate();
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
      Impl* located = impl.get();
      impl->locate = [located, address, name] { return located->resolve("corbaloc:" + address, address, name); };
      object = impl->locate();
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

  std::optional<MapChange> Client::waitForChange(std::uint64_t lastVersion, std::chrono::milliseconds timeout)
  {
    Impl& impl = *impl_;
    if (!impl.changes)
      impl.changes = std::make_unique<ChangeSubscription>([&impl] { return impl.connectChanges(); });
    return impl.changes->waitForOther(lastVersion, timeout);
  }

  std::uint64_t Client::changeReconnections() const
  {
    return impl_->changes ? impl_->changes->reconnections() : 0;
  }

  std::string Client::changesUnreachable() const
  {
    return impl_->changes ? impl_->changes->unreachable() : std::string();
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
