#include "rtm/ports/PortBase.h"

#include "rtm/ports/ConnectorLimits.h"
#include "rtm/ports/ConnectorText.h"
#include "rtm/util/Logger.h"
#include "rtm/util/NVUtil.h"

#include <thread>

namespace RTC
{
  namespace
  {
    bool sameId(const char* a, const char* b)
    {
      return std::string(a) == b;
    }
  }

  PortBase::PortBase(const char* name)
    : localName_(name)
  {
    profile_.name = name;
    profile_.owner = RTC::RTObject::_nil();
    profile_.port_ref = RTC::PortService::_nil();
  }

  PortBase::~PortBase() = default;

  std::string PortBase::getName() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<const char*>(profile_.name);
  }

  void PortBase::setOwnerInstanceName(const std::string& instanceName)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    profile_.name = (instanceName + "." + localName_).c_str();
  }

  void PortBase::setOwner(RTObject_ptr owner)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    profile_.owner = RTC::RTObject::_duplicate(owner);
  }

  std::string PortBase::keyStem() const
  {
    std::string name = getName();
    std::size_t dot = name.find('.');
    if (dot == std::string::npos)
      return "port." + name;
    return name.substr(0, dot) + ".port" + name.substr(dot);
  }

  void PortBase::activate(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa)
  {
    if (activation_.isActive())
      return;
    orb_ = CORBA::ORB::_duplicate(orb);
    poa_ = PortableServer::POA::_duplicate(poa);
    activation_.activate(poa, this);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      profile_.port_ref = RTC::PortService::_narrow(activation_.reference());
    }
    onActivated(poa);
  }

  void PortBase::deactivate()
  {
    onDeactivated();
    activation_.deactivate();
  }

  bool PortBase::isReleased() const
  {
    return activation_.isReleased() && servantsReleased();
  }

  void PortBase::waitReleased()
  {
    while (!isReleased())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  PortService_ptr PortBase::getPortRef() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return RTC::PortService::_duplicate(profile_.port_ref.in());
  }

  void PortBase::addInterfaceProfile(const PortInterfaceProfile& profile)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CORBA::ULong at = profile_.interfaces.length();
    profile_.interfaces.length(at + 1);
    profile_.interfaces[at] = profile;
  }

  void PortBase::addProperty(const std::string& name, const std::string& value)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    appendString(profile_.properties, name, value);
  }

  PortProfile* PortBase::get_port_profile()
  {
    pruneIfDue();
    std::lock_guard<std::mutex> lock(mutex_);
    return new PortProfile(profile_);
  }

  ConnectorProfileList* PortBase::get_connector_profiles()
  {
    pruneIfDue();
    std::lock_guard<std::mutex> lock(mutex_);
    return new ConnectorProfileList(profile_.connector_profiles);
  }

  ConnectorProfile* PortBase::get_connector_profile(const char* connector_id)
  {
    // An unknown id gets an empty profile, not an exception.
    ConnectorProfile_var found = new ConnectorProfile;
    findConnector(connector_id, found.inout());
    return found._retn();
  }

  bool PortBase::isMe(PortService_ptr port) const
  {
    PortService_var me = getPortRef();
    if (CORBA::is_nil(port) || CORBA::is_nil(me))
      return false;
    return port->_is_equivalent(me);
  }

  bool PortBase::hasConnectorTo(const ConnectorProfile& incoming) const
  {
    ConnectorProfileList connectors;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connectors = profile_.connector_profiles;
    }
    for (CORBA::ULong p = 0; p < incoming.ports.length(); ++p) {
      if (isMe(incoming.ports[p]))
        continue;
      for (CORBA::ULong c = 0; c < connectors.length(); ++c)
        for (CORBA::ULong q = 0; q < connectors[c].ports.length(); ++q)
          if (incoming.ports[p]->_is_equivalent(connectors[c].ports[q]))
            return true;
    }
    return false;
  }

  bool PortBase::findConnector(const char* id, ConnectorProfile& out) const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (CORBA::ULong i = 0; i < profile_.connector_profiles.length(); ++i) {
      if (sameId(profile_.connector_profiles[i].connector_id, id)) {
        out = profile_.connector_profiles[i];
        return true;
      }
    }
    return false;
  }

  bool PortBase::isKnown(const char* id) const
  {
    ConnectorProfile ignored;
    return findConnector(id, ignored);
  }

  std::size_t PortBase::connectorCount() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return profile_.connector_profiles.length();
  }

  ReturnCode_t PortBase::storeConnector(const ConnectorProfile& profile, const std::string& peerNames)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ConnectorProfileList& list = profile_.connector_profiles;
    // Checked again here: other connections may have completed meanwhile.
    for (CORBA::ULong i = 0; i < list.length(); ++i)
      if (sameId(list[i].connector_id, profile.connector_id))
        return PRECONDITION_NOT_MET;
    if (list.length() >= ConnectorLimits::maxConnectors)
      return OUT_OF_RESOURCES;
    CORBA::ULong at = list.length();
    list.length(at + 1);
    list[at] = profile;
    peerNames_[static_cast<const char*>(profile.connector_id)] = peerNames;
    return RTC_OK;
  }

  bool PortBase::eraseConnector(const char* id)
  {
    std::string peers;
    std::string name;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ConnectorProfileList& list = profile_.connector_profiles;
      CORBA::ULong i = 0;
      while (i < list.length() && !sameId(list[i].connector_id, id))
        ++i;
      if (i == list.length())
        return false;
      name = printable(list[i].name);
      for (CORBA::ULong j = i + 1; j < list.length(); ++j)
        list[j - 1] = list[j];
      list.length(list.length() - 1);
      const auto found = peerNames_.find(id);
      if (found != peerNames_.end()) {
        peers = found->second;
        peerNames_.erase(found);
      }
    }
    logger().log(LogLevel::Info, [&] {
      return "port " + getName() + " disconnected from " + peers + ", connector '" + name + "' (" +
             printable(id) + ")";
    });
    return true;
  }
}
