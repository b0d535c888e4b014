#include "rtm/dataports/InPortBase.h"

#include "rtm/util/NVUtil.h"

namespace RTC
{
  InPortBase::InPortBase(const char* name, const std::string& dataType, std::size_t bufferLength)
    : DataPortBase(name, "DataInPort", dataType),
      buffer_(bufferLength)
  {
  }

  InPortBase::~InPortBase() = default;

  ReturnCode_t InPortBase::publishInterfaces(ConnectorProfile& profile)
  {
    DataConnection settings;
    if (const ReturnCode_t code = readConnection(profile, settings); code != RTC_OK)
      return code;
    if (CORBA::is_nil(poa()))
      return RTC_ERROR;
    // Served before the chain goes on: the OutPort may put as soon as it
    // has subscribed, before this connect returns.
    auto connection = std::make_unique<Connection>();
    connection->servant = std::make_unique<InPortCdrProvider>(buffer_);
    connection->servant->setByteOrder(settings.byteOrder);
    connection->activation.activate(poa(), connection->servant.get());
    CORBA::String_var ior = orb()->object_to_string(connection->activation.reference());
    appendString(profile.properties, "dataport.corba_cdr.inport_ior", ior.in());
    std::lock_guard<std::mutex> lock(mutex_);
    connections_[profile.connector_id.in()] = std::move(connection);
    return RTC_OK;
  }

  ReturnCode_t InPortBase::subscribeInterfaces(const ConnectorProfile& profile)
  {
    // The byte order may have been settled further down the chain.
    DataConnection settings;
    if (const ReturnCode_t code = readConnection(profile, settings); code != RTC_OK)
      return code;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = connections_.find(profile.connector_id.in());
    if (found == connections_.end())
      return RTC_ERROR;
    found->second->servant->setByteOrder(settings.byteOrder);
    return RTC_OK;
  }

  void InPortBase::unsubscribeInterfaces(const ConnectorProfile& profile)
  {
    std::unique_ptr<Connection> gone;  // destroyed outside the lock, once the ORB lets go of it
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto found = connections_.find(profile.connector_id.in());
      if (found == connections_.end())
        return;
      gone = std::move(found->second);
      connections_.erase(found);
    }
  }

  void InPortBase::onDeactivated()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : connections_) {
      entry.second->activation.deactivate();
      retired_.push_back(std::move(entry.second));
    }
    connections_.clear();
  }

  bool InPortBase::servantsReleased() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& connection : retired_)
      if (!connection->activation.isReleased())
        return false;
    return true;
  }
}
