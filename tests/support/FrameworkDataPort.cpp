#include "FrameworkDataPort.h"

#include "GridMapClient.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace
{
  const char* interfaceTypes[] = {"corba_cdr", "csp_channel", "data_service", "direct", "shared_memory"};

  void add(SDOPackage::NVList& list, const std::string& name, const CORBA::Any& value)
  {
    const CORBA::ULong at = list.length();
    list.length(at + 1);
    list[at].name = name.c_str();
    list[at].value = value;
  }

  void addText(SDOPackage::NVList& list, const std::string& name, const std::string& value)
  {
    CORBA::Any any;
    any <<= value.c_str();
    add(list, name, any);
  }

  std::optional<std::string> text(const SDOPackage::NVList& list, const std::string& name)
  {
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      const char* value = nullptr;
      if (name == list[i].name.in() && (list[i].value >>= value))
        return std::string(value);
    }
    return std::nullopt;
  }

  std::string normalised(std::string value)
  {
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
    return value;
  }

  // "dataport.<side>.<key>" over "dataport.<key>", normalised.
  std::string setting(const RTC::ConnectorProfile& profile, const char* side, const std::string& key,
                      const std::string& fallback)
  {
    auto own = text(profile.properties, std::string("dataport.") + side + "." + key);
    auto shared = text(profile.properties, "dataport." + key);
    return normalised(own ? *own : shared.value_or(fallback));
  }

  // The first token of the byte order key; little when it is missing.
  std::optional<bool> littleEndian(const RTC::ConnectorProfile& profile, const char* side)
  {
    const std::string orders = setting(profile, side, "serializer.cdr.endian", "little");
    const std::string first = normalised(orders.substr(0, orders.find(',')));
    if (first == "little")
      return true;
    if (first == "big")
      return false;
    return std::nullopt;
  }
}

class FrameworkDataPort::Receiver : public virtual POA_OpenRTM::InPortCdr
{
public:
  explicit Receiver(std::shared_ptr<Arrivals> arrivals) : arrivals_(std::move(arrivals)) {}
  void setLittleEndian(bool little) { little_ = little; }

  OpenRTM::PortStatus put(const OpenRTM::CdrData& data) override
  {
    // Stored undecoded, as a framework InPort does.
    {
      std::lock_guard<std::mutex> lock(arrivals_->mutex);
      arrivals_->values.emplace_back(std::string(reinterpret_cast<const char*>(data.get_buffer()), data.length()),
                                     little_.load());
    }
    arrivals_->arrived.notify_all();
    return OpenRTM::PORT_OK;
  }

private:
  std::shared_ptr<Arrivals> arrivals_;
  std::atomic<bool> little_{true};
};

FrameworkDataPort::FrameworkDataPort(Direction direction, const std::string& dataType)
  : direction_(direction), dataType_(dataType)
{
  activation_.activate(clientPoa(), this);
}

FrameworkDataPort::~FrameworkDataPort()
{
  activation_.deactivate();
  activation_.waitReleased();
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.clear();
}

RTC::PortService_ptr FrameworkDataPort::ref() const
{
  return RTC::PortService::_unchecked_narrow(activation_.reference());
}

RTC::PortProfile* FrameworkDataPort::get_port_profile()
{
  RTC::PortProfile_var profile = new RTC::PortProfile;
  const bool in = direction_ == Direction::In;
  profile->name = in ? "FrameworkPeer0.in" : "FrameworkPeer0.out";
  profile->port_ref = RTC::PortService::_duplicate(ref());
  RTC::ConnectorProfileList_var connectors = get_connector_profiles();
  profile->connector_profiles = connectors.in();
  std::string types;
  for (const char* type : interfaceTypes)
    types += (types.empty() ? "" : ",") + std::string(type);
  SDOPackage::NVList& properties = profile->properties;
  addText(properties, "port.port_type", in ? "DataInPort" : "DataOutPort");
  addText(properties, "dataport.data_type", dataType_);
  addText(properties, "data_type", dataType_);
  addText(properties, "dataport.interface_type", types);
  addText(properties, "dataport.dataflow_type", "push,pull,duplex");
  addText(properties, "dataport.subscription_type", in ? "Any" : "flush,new,periodic,block,nonblock");
  if (!in)
    addText(properties, "dataport.io_mode", "flush,new,periodic,block,nonblock");
  addText(properties, "dataport.marshaling_types", "cdr");
  for (const char* type : interfaceTypes)
    addText(properties, std::string("dataport.interface_option.") + type, "");
  return profile._retn();
}

RTC::ConnectorProfileList* FrameworkDataPort::get_connector_profiles()
{
  RTC::ConnectorProfileList_var list = new RTC::ConnectorProfileList;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : connections_) {
    if (!entry.second->stored)
      continue;
    list->length(list->length() + 1);
    list[list->length() - 1] = entry.second->profile;
  }
  return list._retn();
}

RTC::ConnectorProfile* FrameworkDataPort::get_connector_profile(const char* id)
{
  return new RTC::ConnectorProfile(connector(id).value_or(RTC::ConnectorProfile()));
}

std::optional<RTC::ConnectorProfile> FrameworkDataPort::connector(const std::string& id) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(id);
  if (found == connections_.end() || !found->second->stored)
    return std::nullopt;
  return found->second->profile;
}

RTC::ReturnCode_t FrameworkDataPort::connect(RTC::ConnectorProfile& profile)
{
  if (!text(profile.properties, "dataport.serializer.cdr.endian"))
    addText(profile.properties, "dataport.serializer.cdr.endian", "little,big");
  if (std::string(profile.connector_id.in()).empty())
    profile.connector_id = ("framework-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))
                               .c_str();
  else if (connector(profile.connector_id.in()))
    return RTC::PRECONDITION_NOT_MET;
  RTC::ReturnCode_t result = RTC::BAD_PARAMETER;
  try {
    result = profile.ports[0]->notify_connect(profile);
  }
  catch (const CORBA::Exception&) {
    result = RTC::BAD_PARAMETER;
  }
  if (result != RTC::RTC_OK)
    disconnect(profile.connector_id);
  return result;
}

RTC::ReturnCode_t FrameworkDataPort::notify_connect(RTC::ConnectorProfile& profile)
{
  const std::string id = profile.connector_id.in();
  RTC::ReturnCode_t result = publish(profile);
  if (result == RTC::RTC_OK)
    result = connectNext(profile);
  if (result == RTC::RTC_OK)
    result = subscribe(profile);
  std::unique_ptr<Connection> dropped;  // released outside the lock
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(id);
  if (found != connections_.end()) {
    if (result == RTC::RTC_OK) {
      found->second->profile = profile;
      found->second->stored = true;
    }
    else if (!found->second->stored) {
      dropped = std::move(found->second);
      connections_.erase(found);
    }
  }
  return result;
}

RTC::ReturnCode_t FrameworkDataPort::publish(RTC::ConnectorProfile& profile)
{
  const char* side = direction_ == Direction::In ? "inport" : "outport";
  if (setting(profile, side, "dataflow_type", "push") != "push" ||
      setting(profile, side, "interface_type", "corba_cdr") != "corba_cdr")
    return RTC::BAD_PARAMETER;
  auto connection = std::make_unique<Connection>();
  if (direction_ == Direction::In) {
    connection->receiver = std::make_unique<Receiver>(arrivals_);
    connection->activation.activate(clientPoa(), connection->receiver.get());
    CORBA::String_var ior = clientOrb()->object_to_string(connection->activation.reference());
    addText(profile.properties, "dataport.corba_cdr.inport_ior", ior.in());
    CORBA::Any reference;
    reference <<= connection->activation.reference();
    add(profile.properties, "dataport.corba_cdr.inport_ref", reference);
    addText(profile.properties, "dataport.inport.data_type", dataType_);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  auto& slot = connections_[profile.connector_id.in()];
  if (slot && slot->stored)
    return RTC::PRECONDITION_NOT_MET;
  slot = std::move(connection);
  return RTC::RTC_OK;
}

RTC::PortService_ptr FrameworkDataPort::nextPort(const RTC::ConnectorProfile& profile) const
{
  for (CORBA::ULong i = 0; i + 1 < profile.ports.length(); ++i)
    if (profile.ports[i]->_is_equivalent(ref()))
      return RTC::PortService::_duplicate(profile.ports[i + 1]);
  return RTC::PortService::_nil();
}

RTC::ReturnCode_t FrameworkDataPort::connectNext(RTC::ConnectorProfile& profile)
{
  RTC::PortService_var next = nextPort(profile);
  try {
    return CORBA::is_nil(next) ? RTC::RTC_OK : next->notify_connect(profile);
  }
  catch (const CORBA::Exception&) {
    return RTC::RTC_ERROR;
  }
}

RTC::ReturnCode_t FrameworkDataPort::subscribe(const RTC::ConnectorProfile& profile)
{
  const std::optional<bool> little = littleEndian(profile, direction_ == Direction::In ? "inport" : "outport");
  if (!little)
    return RTC::RTC_ERROR;
  OpenRTM::InPortCdr_var consumer;
  if (direction_ == Direction::Out) {
    CORBA::Object_var object;
    if (auto ior = text(profile.properties, "dataport.corba_cdr.inport_ior"))
      object = clientOrb()->string_to_object(ior->c_str());
    else
      for (CORBA::ULong i = 0; i < profile.properties.length() && CORBA::is_nil(object); ++i)
        if (std::string(profile.properties[i].name.in()) == "dataport.corba_cdr.inport_ref")
          profile.properties[i].value >>= CORBA::Any::to_object(object.out());
    consumer = OpenRTM::InPortCdr::_unchecked_narrow(object);
    if (CORBA::is_nil(consumer))
      return RTC::BAD_PARAMETER;
    omniORB::setClientCallTimeout(consumer, 5000);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(profile.connector_id.in());
  if (found == connections_.end())
    return RTC::RTC_ERROR;
  found->second->littleEndian = *little;
  found->second->consumer = consumer._retn();
  if (found->second->receiver)
    found->second->receiver->setLittleEndian(*little);
  return RTC::RTC_OK;
}

RTC::ReturnCode_t FrameworkDataPort::disconnect(const char* id)
{
  const std::optional<RTC::ConnectorProfile> profile = connector(id);
  if (!profile)
    return RTC::BAD_PARAMETER;
  if (profile->ports.length() == 0)
    return RTC::PRECONDITION_NOT_MET;
  for (CORBA::ULong i = 0; i < profile->ports.length(); ++i) {
    try {
      return profile->ports[i]->notify_disconnect(id);
    }
    catch (const CORBA::SystemException&) {
    }
  }
  return RTC::RTC_ERROR;
}

RTC::ReturnCode_t FrameworkDataPort::disconnect_all()
{
  RTC::ConnectorProfileList_var list = get_connector_profiles();
  RTC::ReturnCode_t result = RTC::RTC_OK;
  for (CORBA::ULong i = 0; i < list->length(); ++i)
    if (const RTC::ReturnCode_t code = disconnect(list[i].connector_id); code != RTC::RTC_OK)
      result = code;
  return result;
}

RTC::ReturnCode_t FrameworkDataPort::notify_disconnect(const char* id)
{
  std::unique_ptr<Connection> gone;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = connections_.find(id);
    if (found == connections_.end() || !found->second->stored)
      return RTC::BAD_PARAMETER;
    gone = std::move(found->second);
    connections_.erase(found);
  }
  RTC::PortService_var next = nextPort(gone->profile);
  try {
    return CORBA::is_nil(next) ? RTC::RTC_OK : next->notify_disconnect(id);
  }
  catch (const CORBA::SystemException&) {
    return RTC::RTC_ERROR;
  }
}

std::optional<std::pair<std::string, RTC::ByteOrder>> FrameworkDataPort::next(std::chrono::milliseconds timeout)
{
  std::unique_lock<std::mutex> lock(arrivals_->mutex);
  if (!arrivals_->arrived.wait_for(lock, timeout, [&] { return !arrivals_->values.empty(); }))
    return std::nullopt;
  const auto [octets, little] = arrivals_->values.front();
  arrivals_->values.pop_front();
  return std::make_pair(octets, little ? RTC::ByteOrder::Little : RTC::ByteOrder::Big);
}

int FrameworkDataPort::write(const std::function<std::string(RTC::ByteOrder)>& encode)
{
  std::vector<std::pair<OpenRTM::InPortCdr_var, bool>> consumers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : connections_)
      if (entry.second->stored && !CORBA::is_nil(entry.second->consumer))
        consumers.emplace_back(OpenRTM::InPortCdr::_duplicate(entry.second->consumer), entry.second->littleEndian);
  }
  int taken = 0;
  for (auto& [consumer, little] : consumers) {
    std::string octets = encode(little ? RTC::ByteOrder::Little : RTC::ByteOrder::Big);
    OpenRTM::CdrData data(static_cast<CORBA::ULong>(octets.size()), static_cast<CORBA::ULong>(octets.size()),
                          reinterpret_cast<CORBA::Octet*>(octets.data()), false);
    try {
      taken += consumer->put(data) == OpenRTM::PORT_OK;
    }
    catch (const CORBA::SystemException&) {
    }
  }
  return taken;
}
