#include "rtm/PortBase.h"

#include "rtm/NVUtil.h"

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

  void PortBase::waitReleased()
  {
    activation_.waitReleased();
    onWaitReleased();
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
    std::lock_guard<std::mutex> lock(mutex_);
    return new PortProfile(profile_);
  }

  ConnectorProfileList* PortBase::get_connector_profiles()
  {
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

  ReturnCode_t PortBase::connect(ConnectorProfile& connector_profile)
  {
    if (std::string(connector_profile.connector_id).empty()) {
      connector_profile.connector_id = freshUuid().c_str();
    }
    else {
      ConnectorProfile existing;
      if (findConnector(connector_profile.connector_id, existing))
        return PRECONDITION_NOT_MET;
    }
    if (connector_profile.ports.length() == 0)
      return BAD_PARAMETER;

    ReturnCode_t result;
    try {
      PortService_var first = RTC::PortService::_duplicate(connector_profile.ports[0]);
      result = first->notify_connect(connector_profile);
    }
    catch (const CORBA::Exception&) {
      return BAD_PARAMETER;
    }
    if (result != RTC_OK) {
      CORBA::String_var id = CORBA::string_dup(connector_profile.connector_id);
      disconnect(id);
    }
    return result;
  }

  ReturnCode_t PortBase::notify_connect(ConnectorProfile& connector_profile)
  {
    const bool duplicatesAllowed =
        isYes(findString(connector_profile.properties, "dataport.allow_dup_connection").value_or("NO"));
    if (!duplicatesAllowed && hasConnectorTo(connector_profile))
      return PRECONDITION_NOT_MET;

    ReturnCode_t published = publishInterfaces(connector_profile);
    ReturnCode_t chained = connectNext(connector_profile);
    ReturnCode_t subscribed = subscribeInterfaces(connector_profile);
    // Stored only now: a peer further down the chain may ask this port for
    // its connectors while it decides, and must not see this one yet.
    storeConnector(connector_profile);

    for (ReturnCode_t code : {published, chained, subscribed})
      if (code != RTC_OK)
        return code;
    return RTC_OK;
  }

  ReturnCode_t PortBase::disconnect(const char* connector_id)
  {
    ConnectorProfile profile;
    if (!findConnector(connector_id, profile))
      return BAD_PARAMETER;
    if (profile.ports.length() == 0)
      return PRECONDITION_NOT_MET;
    for (CORBA::ULong i = 0; i < profile.ports.length(); ++i) {
      try {
        PortService_var port = RTC::PortService::_duplicate(profile.ports[i]);
        return port->notify_disconnect(connector_id);
      }
      catch (const CORBA::SystemException&) {
        // That peer is gone; let the next one carry the disconnection.
      }
    }
    eraseConnector(connector_id);
    return RTC_ERROR;
  }

  ReturnCode_t PortBase::notify_disconnect(const char* connector_id)
  {
    ConnectorProfile profile;
    if (!findConnector(connector_id, profile))
      return BAD_PARAMETER;
    ReturnCode_t chained = disconnectNext(profile);
    unsubscribeInterfaces(profile);
    eraseConnector(connector_id);
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

  bool PortBase::isMe(PortService_ptr port) const
  {
    PortService_var me = getPortRef();
    if (CORBA::is_nil(port) || CORBA::is_nil(me))
      return false;
    try {
      return port->_is_equivalent(me);
    }
    catch (const CORBA::Exception&) {
      return false;
    }
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
      if (CORBA::is_nil(incoming.ports[p]))
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

  void PortBase::storeConnector(const ConnectorProfile& profile)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ConnectorProfileList& list = profile_.connector_profiles;
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      if (sameId(list[i].connector_id, profile.connector_id)) {
        list[i] = profile;
        return;
      }
    }
    CORBA::ULong at = list.length();
    list.length(at + 1);
    list[at] = profile;
  }

  void PortBase::eraseConnector(const char* id)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ConnectorProfileList& list = profile_.connector_profiles;
    ConnectorProfileList kept;
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      if (sameId(list[i].connector_id, id))
        continue;
      CORBA::ULong at = kept.length();
      kept.length(at + 1);
      kept[at] = list[i];
    }
    list = kept;
  }

  ReturnCode_t PortBase::connectNext(ConnectorProfile& profile)
  {
    for (CORBA::ULong i = 0; i + 1 < profile.ports.length(); ++i) {
      if (!isMe(profile.ports[i]))
        continue;
      try {
        PortService_var next = RTC::PortService::_duplicate(profile.ports[i + 1]);
        return next->notify_connect(profile);
      }
      catch (const CORBA::Exception&) {
        return RTC_ERROR;
      }
    }
    return RTC_OK;
  }

  ReturnCode_t PortBase::disconnectNext(const ConnectorProfile& profile)
  {
    for (CORBA::ULong i = 0; i + 1 < profile.ports.length(); ++i) {
      if (!isMe(profile.ports[i]))
        continue;
      try {
        PortService_var next = RTC::PortService::_duplicate(profile.ports[i + 1]);
        return next->notify_disconnect(profile.connector_id);
      }
      catch (const CORBA::Exception&) {
        return RTC_ERROR;
      }
    }
    return RTC_OK;
  }
}
