#include "rtm/ports/CorbaPort.h"

#include "rtm/util/NVUtil.h"

namespace RTC
{
  CorbaPort::CorbaPort(const char* name)
    : PortBase(name)
  {
    addProperty("port.port_type", "CorbaPort");
  }

  CorbaPort::~CorbaPort() = default;

  bool CorbaPort::isTaken(const std::string& instanceName, const std::string& typeName,
                          PortInterfacePolarity polarity) const
  {
    if (polarity == PROVIDED) {
      for (const auto& p : providers_)
        if (p->instanceName == instanceName && p->typeName == typeName)
          return true;
      return false;
    }
    for (const Consumer& c : consumers_)
      if (c.instanceName == instanceName && c.typeName == typeName)
        return true;
    return false;
  }

  bool CorbaPort::registerProvider(const char* instance_name, const char* type_name,
                                   PortableServer::ServantBase& provider)
  {
    if (!*instance_name || !*type_name || isTaken(instance_name, type_name, PROVIDED))
      return false;
    auto entry = std::make_unique<Provider>();
    entry->instanceName = instance_name;
    entry->typeName = type_name;
    entry->servant = &provider;
    if (PortableServer::POA_ptr poa = this->poa(); !CORBA::is_nil(poa))
      entry->activation.activate(poa, &provider);
    providers_.push_back(std::move(entry));
    addInterfaceProfile(PortInterfaceProfile{instance_name, type_name, PROVIDED});
    return true;
  }

  bool CorbaPort::registerConsumer(const char* instance_name, const char* type_name,
                                   CorbaConsumerBase& consumer)
  {
    if (!*instance_name || !*type_name || isTaken(instance_name, type_name, REQUIRED))
      return false;
    consumers_.push_back(Consumer{instance_name, type_name, &consumer});
    addInterfaceProfile(PortInterfaceProfile{instance_name, type_name, REQUIRED});
    return true;
  }

  void CorbaPort::onActivated(PortableServer::POA_ptr poa)
  {
    for (auto& p : providers_)
      if (!p->activation.isActive())
        p->activation.activate(poa, p->servant);
  }

  void CorbaPort::onDeactivated()
  {
    for (auto& p : providers_)
      p->activation.deactivate();
  }

  bool CorbaPort::servantsReleased() const
  {
    for (const auto& p : providers_)
      if (!p->activation.isReleased())
        return false;
    return true;
  }

  ReturnCode_t CorbaPort::publishInterfaces(ConnectorProfile& profile)
  {
    const std::string stem = keyStem();
    for (const auto& p : providers_) {
      if (!p->activation.isActive())
        continue;
      CORBA::String_var ior = orb()->object_to_string(p->activation.reference());
      // Consumers of today read the first key, older ones the second.
      appendString(profile.properties, stem + ".provided." + p->typeName + "." + p->instanceName, ior.in());
      appendString(profile.properties, "port." + p->typeName + "." + p->instanceName, ior.in());
    }
    return RTC_OK;
  }

  std::optional<std::string> CorbaPort::findProviderIor(const ConnectorProfile& profile,
                                                        const Consumer& consumer) const
  {
    const std::string suffix = consumer.typeName + "." + consumer.instanceName;
    // A tool that mapped interfaces names the provider's key for us.
    if (auto providerKey = findString(profile.properties, keyStem() + ".required." + suffix))
      if (auto ior = findString(profile.properties, *providerKey))
        return ior;
    return findString(profile.properties, "port." + suffix);
  }

  ReturnCode_t CorbaPort::subscribeInterfaces(const ConnectorProfile& profile)
  {
    const bool strict =
        findString(profile.properties, "port.connection.strictness").value_or("best_effort") == "strict";
    ReturnCode_t result = RTC_OK;
    for (const Consumer& c : consumers_) {
      std::optional<std::string> ior = findProviderIor(profile, c);
      bool found = false;
      if (ior && (*ior == "nil" || *ior == "null")) {
        found = true;  // deliberately no object
      }
      else if (ior && ior->compare(0, 4, "IOR:") == 0) {
        try {
          CORBA::Object_var object = orb()->string_to_object(ior->c_str());
          found = c.consumer->setObject(object);
        }
        catch (const CORBA::Exception&) {
          found = false;
        }
      }
      if (!found && strict)
        result = RTC_ERROR;
    }
    return result;
  }

  void CorbaPort::unsubscribeInterfaces(const ConnectorProfile& profile)
  {
    for (const Consumer& c : consumers_) {
      std::optional<std::string> ior = findProviderIor(profile, c);
      if (!ior || ior->compare(0, 4, "IOR:") != 0)
        continue;
      CORBA::Object_var current = c.consumer->getObject();
      if (CORBA::is_nil(current))
        continue;
      try {
        CORBA::Object_var published = orb()->string_to_object(ior->c_str());
        if (current->_is_equivalent(published))
          c.consumer->releaseObject();
      }
      catch (const CORBA::Exception&) {
        c.consumer->releaseObject();
      }
    }
  }
}
