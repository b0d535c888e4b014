// PortBase: the standard connect and disconnect protocol, along the chain
// of ports a connector profile lists.
#include "rtm/ports/PortBase.h"

#include "rtm/orb/PeerCalls.h"
#include "rtm/ports/ConnectorLimits.h"
#include "rtm/ports/ConnectorText.h"
#include "rtm/util/Logger.h"
#include "rtm/util/NVUtil.h"

#include <cstdio>
#include <random>

namespace RTC
{
  namespace
  {
    std::string freshUuid()
    {
      static std::mutex mutex;
      static std::mt19937_64 generator{std::random_device{}()};
      std::lock_guard<std::mutex> lock(mutex);
      uint64_t high = generator();
      uint64_t low = generator();
      high = (high & ~0xF000ULL) | 0x4000ULL;               // version 4
      low = (low & ~(0xC000ULL << 48)) | (0x8000ULL << 48);  // RFC 4122 variant
      char text[37];
      std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx",
                    static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                    static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                    static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
      return text;
    }

    const char* codeName(ReturnCode_t code)
    {
      switch (code) {
        case RTC_OK: return "RTC_OK";
        case RTC_ERROR: return "RTC_ERROR";
        case BAD_PARAMETER: return "BAD_PARAMETER";
        case UNSUPPORTED: return "UNSUPPORTED";
        case OUT_OF_RESOURCES: return "OUT_OF_RESOURCES";
        case PRECONDITION_NOT_MET: return "PRECONDITION_NOT_MET";
        default: return "an unknown code";
      }
    }
  }

  class PortBase::Connecting
  {
  public:
    // `ids`: connect's or notify_connect's set of ids in progress.
    Connecting(PortBase& port, std::set<std::string>& ids, const std::string& id)
      : port_(port), ids_(ids), id_(id)
    {
      std::lock_guard<std::mutex> lock(port_.mutex_);
      claimed_ = ids_.insert(id_).second;
    }
    ~Connecting()
    {
      if (!claimed_)
        return;
      std::lock_guard<std::mutex> lock(port_.mutex_);
      ids_.erase(id_);
    }
    bool claimed() const { return claimed_; }

  private:
    PortBase& port_;
    std::set<std::string>& ids_;
    const std::string id_;
    bool claimed_ = false;
  };

  ReturnCode_t PortBase::connect(ConnectorProfile& connector_profile)
  {
    PortService_var me = getPortRef();
    if (checkConnectorProfile(connector_profile, me) != RTC_OK)
      return refuse(connector_profile, BAD_PARAMETER, "malformed or over the limits");
    if (std::string(connector_profile.connector_id).empty())
      connector_profile.connector_id = freshUuid().c_str();
    else if (isKnown(connector_profile.connector_id))
      return refuse(connector_profile, PRECONDITION_NOT_MET, "its id is already connected");
    if (connectorCount() >= ConnectorLimits::maxConnectors)
      return refuse(connector_profile, OUT_OF_RESOURCES, "this port has all the connectors it takes");
    // A peer that answers notify_connect by calling connect here again with
    // the same id would otherwise start the whole exchange over, endlessly.
    // The chain itself comes back through notify_connect, which is not
    // refused here.
    Connecting initiating(*this, initiating_, connector_profile.connector_id.in());
    if (!initiating.claimed())
      return refuse(connector_profile, PRECONDITION_NOT_MET, "a connection with its id is already being made");

    ReturnCode_t result;
    bool peersReached = true;
    if (isMe(connector_profile.ports[0])) {
      result = joinChain(connector_profile, peersReached);
    }
    else {
      try {
        PortService_var first = RTC::PortService::_duplicate(connector_profile.ports[0]);
        result = first->notify_connect(connector_profile);
      }
      catch (const CORBA::Exception& error) {
        peerFailed(connector_profile, "notify_connect", error);
        result = BAD_PARAMETER;
      }
    }
    if (result != RTC_OK && peersReached)
      withdrawFromPeers(connector_profile);
    return result;
  }

  ReturnCode_t PortBase::notify_connect(ConnectorProfile& connector_profile)
  {
    PortService_var me = getPortRef();
    if (checkConnectorProfile(connector_profile, me) != RTC_OK)
      return refuse(connector_profile, BAD_PARAMETER, "malformed or over the limits");
    bool peersReached = false;
    return joinChain(connector_profile, peersReached);
  }

  ReturnCode_t PortBase::joinChain(ConnectorProfile& connector_profile, bool& peersReached)
  {
    peersReached = false;
    PortService_var me = getPortRef();
    const std::string id = static_cast<const char*>(connector_profile.connector_id);
    if (id.empty())
      return refuse(connector_profile, BAD_PARAMETER, "it has no id");
    Connecting connecting(*this, connecting_, id);
    if (!connecting.claimed() || isKnown(id.c_str()))
      return refuse(connector_profile, PRECONDITION_NOT_MET, "its id is already connected or connecting");
    if (connectorCount() >= ConnectorLimits::maxConnectors)
      return refuse(connector_profile, OUT_OF_RESOURCES, "this port has all the connectors it takes");

    const bool duplicatesAllowed =
        isYes(findString(connector_profile.properties, "dataport.allow_dup_connection").value_or("NO"));
    if (!duplicatesAllowed && hasConnectorTo(connector_profile))
      return refuse(connector_profile, PRECONDITION_NOT_MET, "already connected to one of its ports");

    ReturnCode_t result = publishInterfaces(connector_profile);
    if (result == RTC_OK) {
      peersReached = true;
      result = connectNext(connector_profile);
    }
    // The profile came back from peers further down the chain: it must
    // still be one this port can keep, and still be this connection.
    if (result == RTC_OK &&
        (checkConnectorProfile(connector_profile, me) != RTC_OK || id != connector_profile.connector_id.in()))
      result = refuse(connector_profile, RTC_ERROR, "the peers returned it altered");
    if (result == RTC_OK && (result = subscribeInterfaces(connector_profile)) != RTC_OK)
      refuse(connector_profile, result, "the interfaces it names could not be taken");
    // Stored only now, and only when the whole chain agreed: a peer further
    // down may ask this port for its connectors while it decides, and must
    // not see this one yet; a failed connection leaves nothing behind.
    if (result == RTC_OK) {
      // Asked before storing, so that a disconnection can name them too.
      const std::string peers = logger().enabled(LogLevel::Info) ? peerPortNames(connector_profile) : "";
      result = storeConnector(connector_profile, peers);
      if (result != RTC_OK)
        refuse(connector_profile, result, "other connections completed meanwhile took its place");
      else {
        logger().info("port " + getName() + " connected to " + peers + ", " + connectorText(connector_profile));
        onConnected(connector_profile);
      }
    }
    if (result != RTC_OK)
      unsubscribeInterfaces(connector_profile);
    return result;
  }

  ReturnCode_t PortBase::disconnect(const char* connector_id)
  {
    ConnectorProfile profile;
    if (!findConnector(connector_id, profile))
      return BAD_PARAMETER;
    if (profile.ports.length() == 0)
      return PRECONDITION_NOT_MET;
    // The first port that answers carries the disconnection down the chain.
    ReturnCode_t result = RTC_ERROR;
    const Deadline deadline(peerCallTimeout());
    for (CORBA::ULong i = 0; i < profile.ports.length() && !deadline.expired(); ++i) {
      try {
        PortService_var port = RTC::PortService::_duplicate(profile.ports[i]);
        result = isMe(port) ? notify_disconnect(connector_id) : port->notify_disconnect(connector_id);
        break;
      }
      catch (const CORBA::SystemException& error) {
        // That peer is gone; let the next one carry the disconnection.
        peerFailed(profile, "notify_disconnect", error);
      }
    }
    // A chain broken before it reached this port must not leave it connected.
    if (eraseConnector(connector_id))
      unsubscribeInterfaces(profile);
    return result;
  }

  ReturnCode_t PortBase::notify_disconnect(const char* connector_id)
  {
    ConnectorProfile profile;
    if (!findConnector(connector_id, profile))
      return BAD_PARAMETER;
    // Erased first: a chain that comes back here finds nothing to recurse on.
    eraseConnector(connector_id);
    ReturnCode_t chained = disconnectNext(profile);
    unsubscribeInterfaces(profile);
    return chained;
  }

  ReturnCode_t PortBase::disconnect_all()
  {
    ConnectorProfileList connectors;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connectors = profile_.connector_profiles;
    }
    ReturnCode_t result = RTC_OK;
    for (CORBA::ULong i = 0; i < connectors.length(); ++i) {
      ReturnCode_t code = disconnect(connectors[i].connector_id);
      if (code != RTC_OK)
        result = code;
    }
    return result;
  }

  std::string PortBase::peerPortNames(const ConnectorProfile& profile) const
  {
    // Each call is bounded by the ORB; this bounds how many are made.
    const Deadline deadline(peerCallTimeout());
    std::string names;
    for (CORBA::ULong i = 0; i < profile.ports.length(); ++i) {
      if (isMe(profile.ports[i]))
        continue;
      std::string name = "(not asked: out of time)";
      if (!deadline.expired()) {
        try {
          PortProfile_var peer = profile.ports[i]->get_port_profile();
          name = printable(peer->name);
          if (name.empty())
            name = "(unnamed)";
        }
        catch (const CORBA::Exception& error) {
          name = std::string("(") + error._name() + ")";
        }
      }
      names += (names.empty() ? "" : ", ") + name;
    }
    return names.empty() ? "no other port" : names;
  }

  ReturnCode_t PortBase::refuse(const ConnectorProfile& profile, ReturnCode_t code, const std::string& why) const
  {
    logger().log(LogLevel::Warn, [&] {
      return "port " + getName() + " refused " + connectorText(profile) + ": " + why + " (" + codeName(code) + ")";
    });
    return code;
  }

  void PortBase::peerFailed(const ConnectorProfile& profile, const char* call, const CORBA::Exception& error) const
  {
    logger().log(LogLevel::Warn, [&] {
      return "port " + getName() + ": a peer failed " + call + " for " + connectorText(profile) + " (" +
             error._name() + ")";
    });
  }

  ReturnCode_t PortBase::connectNext(ConnectorProfile& profile)
  {
    for (CORBA::ULong i = 0; i + 1 < profile.ports.length(); ++i) {
      if (!isMe(profile.ports[i]))
        continue;
      try {
        PortService_var next = RTC::PortService::_duplicate(profile.ports[i + 1]);
        const ReturnCode_t result = next->notify_connect(profile);
        if (result != RTC_OK)
          logger().log(LogLevel::Warn, [&] {
            return "port " + getName() + ": the next port refused " + connectorText(profile) + " (" +
                   codeName(result) + ")";
          });
        return result;
      }
      catch (const CORBA::Exception& error) {
        peerFailed(profile, "notify_connect", error);
        return RTC_ERROR;
      }
    }
    return RTC_OK;
  }

  ReturnCode_t PortBase::disconnectNext(const ConnectorProfile& profile)
  {
    CORBA::ULong self = 0;
    while (self < profile.ports.length() && !isMe(profile.ports[self]))
      ++self;
    // Past a peer that is gone, the next one carries the chain on.
    const Deadline deadline(peerCallTimeout());
    for (CORBA::ULong i = self + 1; i < profile.ports.length() && !deadline.expired(); ++i) {
      try {
        PortService_var next = RTC::PortService::_duplicate(profile.ports[i]);
        return next->notify_disconnect(profile.connector_id);
      }
      catch (const CORBA::Exception& error) {
        peerFailed(profile, "notify_disconnect", error);
      }
    }
    return self + 1 < profile.ports.length() ? RTC_ERROR : RTC_OK;
  }

  void PortBase::withdrawFromPeers(const ConnectorProfile& profile)
  {
    // Peers that stored the connection before the chain failed are told to
    // drop it; a peer that does not answer costs at most one call timeout.
    const Deadline deadline(peerCallTimeout());
    for (CORBA::ULong i = 0; i < profile.ports.length() && !deadline.expired(); ++i) {
      if (isMe(profile.ports[i]))
        continue;
      try {
        profile.ports[i]->notify_disconnect(profile.connector_id);
      }
      catch (const CORBA::Exception& error) {
        peerFailed(profile, "notify_disconnect", error);
      }
    }
  }
}
