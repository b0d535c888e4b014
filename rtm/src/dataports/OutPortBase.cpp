#include "rtm/dataports/OutPortBase.h"

#include "rtm/util/Logger.h"
#include "rtm/util/NVUtil.h"

#include <optional>
#include <vector>

namespace RTC
{
  OutPortBase::OutPortBase(const char* name, const std::string& dataType)
    : DataPortBase(name, "DataOutPort", dataType)
  {
  }

  OutPortBase::~OutPortBase()
  {
    // Before the members go: a publisher ending now may still call back.
    stopAll();
    std::vector<std::unique_ptr<OutPortPublisher>> retired;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      retired.swap(retired_);
    }
  }

  void OutPortBase::setRetainsLatest(bool retains)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    retainsLatest_ = retains;
    if (!retains)
      latest_ = nullptr;
  }

  std::size_t OutPortBase::connectionCount() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return publishers_.size();
  }

  void OutPortBase::writeEncoded(Encoder encode)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<std::string> encoded[2];
    for (auto& entry : publishers_) {
      OutPortPublisher& publisher = *entry.second;
      std::optional<std::string>& bytes = encoded[publisher.byteOrder() == ByteOrder::Big];
      if (!bytes)
        bytes = encode(publisher.byteOrder());
      publisher.offer(*bytes);
    }
    if (retainsLatest_)
      latest_ = std::move(encode);
  }

  ReturnCode_t OutPortBase::publishInterfaces(ConnectorProfile& profile)
  {
    // Push publishes nothing; a connection this port cannot serve is
    // refused before the chain goes on.
    DataConnection settings;
    return readConnection(profile, settings);
  }

  ReturnCode_t OutPortBase::subscribeInterfaces(const ConnectorProfile& profile)
  {
    // Publishers that dropped their own connections are joined here, after
    // the lock below is let go, so that they do not pile up while followers
    // come and go.
    std::vector<std::unique_ptr<OutPortPublisher>> finished;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished.swap(retired_);
    }
    DataConnection settings;
    if (const ReturnCode_t code = readConnection(profile, settings); code != RTC_OK)
      return code;
    // The text form first, as framework OutPorts do; the reference itself
    // when an InPort gives only that.
    const std::optional<std::string> ior = findString(profile.properties, "dataport.corba_cdr.inport_ior");
    OpenRTM::InPortCdr_var consumer;
    try {
      CORBA::Object_var object;
      if (ior && ior->compare(0, 4, "IOR:") == 0)
        object = orb()->string_to_object(ior->c_str());
      else if (!ior)
        object = findObject(profile.properties, "dataport.corba_cdr.inport_ref");
      consumer = OpenRTM::InPortCdr::_unchecked_narrow(object);
    }
    catch (const CORBA::Exception&) {
      consumer = OpenRTM::InPortCdr::_nil();
    }
    if (CORBA::is_nil(consumer)) {
      logger().warn("port " + getName() + " refused a connection: it names no InPort to push to");
      return BAD_PARAMETER;
    }
    const std::string id = profile.connector_id.in();
    auto publisher = std::make_unique<OutPortPublisher>(consumer.in(), settings, [this, id] { disconnect(id.c_str()); });
    std::lock_guard<std::mutex> lock(mutex_);
    publishers_[id] = std::move(publisher);
    return RTC_OK;
  }

  void OutPortBase::onConnected(const ConnectorProfile& profile)
  {
    // The latest goes out only now: a push that fails at once drops a
    // connection the port has stored, rather than one it cannot find yet.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = publishers_.find(profile.connector_id.in());
    if (latest_ && found != publishers_.end())
      found->second->offer(latest_(found->second->byteOrder()));
  }

  void OutPortBase::unsubscribeInterfaces(const ConnectorProfile& profile)
  {
    std::unique_ptr<OutPortPublisher> gone;  // stopped outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = publishers_.find(profile.connector_id.in());
    if (found == publishers_.end())
      return;
    gone = std::move(found->second);
    publishers_.erase(found);
    // On the publisher's own thread (it lost its peer) the thread cannot
    // wait for itself: it is told to stop, and the port waits for it later.
    if (gone->onOwnThread()) {
      gone->stop();
      retired_.push_back(std::move(gone));
    }
  }

  void OutPortBase::onDeactivated()
  {
    stopAll();
  }

  void OutPortBase::stopAll()
  {
    std::map<std::string, std::unique_ptr<OutPortPublisher>> stopping;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping.swap(publishers_);
    }
    // All told first, so that their puts in progress end together.
    for (auto& entry : stopping)
      entry.second->stop();
  }
}
