#include "ChangeInbox.h"

#include "ClientImpl.h"

#include <omniORB4/cdrStream.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace korvent
{
  namespace
  {
    // The connector's byte order is the one this side asks for.
    constexpr bool littleEndian = true;

    class ChangeReceiver : public POA_OpenRTM::InPortCdr, public PortableServer::RefCountServantBase
    {
    public:
      explicit ChangeReceiver(std::shared_ptr<ChangeInbox::Latest> latest) : latest_(std::move(latest)) {}

      OpenRTM::PortStatus put(const OpenRTM::CdrData& data) override
      {
        RTC::TimedULongSeq event;
        cdrMemoryStream stream(const_cast<CORBA::Octet*>(data.get_buffer()), data.length());
        stream.setByteSwapFlag(littleEndian);
        try {
          event <<= stream;
        }
        catch (const CORBA::SystemException&) {
          return OpenRTM::PORT_ERROR;
        }
        if (event.data.length() < 9)
          return OpenRTM::PORT_ERROR;
        MapChange change;
        change.version = event.data[0];
        change.width = static_cast<std::int16_t>(event.data[1]);
        change.height = static_cast<std::int16_t>(event.data[2]);
        change.bytes = event.data[3];
        change.crc32 = event.data[4];
        change.x = static_cast<std::uint16_t>(event.data[5]);
        change.y = static_cast<std::uint16_t>(event.data[6]);
        change.changedWidth = static_cast<std::uint16_t>(event.data[7]);
        change.changedHeight = static_cast<std::uint16_t>(event.data[8]);
        change.flags = event.data.length() > 9 ? event.data[9] : 0;
        if (event.data.length() > 12) {
          change.version |= std::uint64_t(event.data[10]) << 32;
          change.runFloor = event.data[11] | std::uint64_t(event.data[12]) << 32;
        }
        change.storedAt = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(event.tm.sec) + std::chrono::nanoseconds(event.tm.nsec)));
        {
          std::lock_guard<std::mutex> lock(latest_->mutex);
          latest_->change = change;
        }
        latest_->arrived.notify_all();
        return OpenRTM::PORT_OK;
      }

    private:
      std::shared_ptr<ChangeInbox::Latest> latest_;
    };

    void appendString(SDOPackage::NVList& list, const char* name, const std::string& value)
    {
      const CORBA::ULong at = list.length();
      list.length(at + 1);
      list[at].name = name;
      list[at].value <<= value.c_str();
    }

    // The first TCP address in a stringified reference ("IOR:" and the hex of
    // a CDR encapsulation: type id, then tagged profiles; an IIOP profile
    // holds its version, host and port), or nothing.
    std::optional<std::string> firstAddressOf(const std::string& ior)
    {
      const std::string prefix = "IOR:";
      if (ior.compare(0, prefix.size(), prefix) != 0 || (ior.size() - prefix.size()) % 2 != 0)
        return std::nullopt;
      auto encapsulation = [](const CORBA::OctetSeq& bytes) {
        auto stream = std::make_unique<cdrMemoryStream>(const_cast<CORBA::Octet*>(bytes.get_buffer()), bytes.length());
        stream->setByteSwapFlag(stream->unmarshalOctet() != 0);
        return stream;
      };
      try {
        CORBA::OctetSeq bytes(static_cast<CORBA::ULong>((ior.size() - prefix.size()) / 2));
        bytes.length(bytes.maximum());
        for (CORBA::ULong i = 0; i < bytes.length(); ++i)
          bytes[i] = static_cast<CORBA::Octet>(std::stoul(ior.substr(prefix.size() + 2 * i, 2), nullptr, 16));
        const std::unique_ptr<cdrMemoryStream> reference = encapsulation(bytes);
        CORBA::String_var typeId = reference->unmarshalString();
        CORBA::ULong profiles = 0;
        profiles <<= *reference;
        for (CORBA::ULong i = 0; i < profiles; ++i) {
          CORBA::ULong tag = 0;
          tag <<= *reference;
          CORBA::OctetSeq body;
          body <<= *reference;
          if (tag != IOP::TAG_INTERNET_IOP)
            continue;
          const std::unique_ptr<cdrMemoryStream> profile = encapsulation(body);
          profile->unmarshalOctet();  // the IIOP version, major and minor
          profile->unmarshalOctet();
          CORBA::String_var host = profile->unmarshalString();
          CORBA::UShort port = 0;
          port <<= *profile;
          return std::string(host.in()) + ":" + std::to_string(port);
        }
      }
      catch (const CORBA::SystemException&) {
        // Not a reference this can read.
      }
      catch (const std::invalid_argument&) {
        // Not hexadecimal.
      }
      return std::nullopt;
    }

    RTC::PortService_ptr changePortOf(RTC::RTObject_ptr component, std::chrono::milliseconds timeout)
    {
      const std::string suffix = ".mapChanged";
      RTC::PortServiceList_var ports = component->get_ports();
      for (CORBA::ULong i = 0; i < ports->length(); ++i) {
        RTC::PortService_var port = bounded<RTC::PortService>(ports[i], timeout);
        RTC::PortProfile_var profile = port->get_port_profile();
        const std::string name = profile->name.in();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
          return port._retn();
      }
      return RTC::PortService::_nil();
    }
  }

  ChangeInbox::ChangeInbox(CORBA::ORB_ptr orb, RTC::RTObject_ptr component, std::chrono::milliseconds timeout,
                           const std::string& where)
    : latest_(std::make_shared<Latest>())
  {
    port_ = changePortOf(component, timeout);
    if (CORBA::is_nil(port_))
      throw NoSuchService("the component has no mapChanged port", where);

    CORBA::Object_var rootObject = orb->resolve_initial_references("RootPOA");
    poa_ = PortableServer::POA::_narrow(rootObject);
    PortableServer::POAManager_var manager = poa_->the_POAManager();
    manager->activate();
    ChangeReceiver* receiver = new ChangeReceiver(latest_);
    servantId_ = poa_->activate_object(receiver);
    receiver->_remove_ref();  // the POA owns it now
    CORBA::Object_var inbox = poa_->id_to_reference(servantId_.in());
    CORBA::String_var ior = orb->object_to_string(inbox);
    pushAddress_ = firstAddressOf(ior.in()).value_or("this process");

    // The push connector needs only the OutPort: it pushes to the IOR the
    // profile names.
    RTC::ConnectorProfile profile;
    profile.name = "korvent client";
    profile.connector_id = "";
    profile.ports.length(1);
    profile.ports[0] = RTC::PortService::_duplicate(port_);
    appendString(profile.properties, "dataport.dataflow_type", "push");
    appendString(profile.properties, "dataport.interface_type", "corba_cdr");
    appendString(profile.properties, "dataport.subscription_type", "new");
    appendString(profile.properties, "dataport.data_type", "IDL:RTC/TimedULongSeq:1.0");
    appendString(profile.properties, "dataport.serializer.cdr.endian", littleEndian ? "little" : "big");
    appendString(profile.properties, "dataport.corba_cdr.inport_ior", ior.in());
    RTC::ReturnCode_t connected = RTC::RTC_ERROR;
    try {
      connected = port_->connect(profile);
    }
    catch (const CORBA::SystemException&) {
      poa_->deactivate_object(servantId_.in());
      throw;
    }
    if (connected != RTC::RTC_OK) {
      poa_->deactivate_object(servantId_.in());
      throw CommunicationError("the mapChanged port refused the connection (code " +
                                   std::to_string(static_cast<int>(connected)) + ")",
                               where);
    }
    connectorId_ = profile.connector_id.in();
  }

  ChangeInbox::~ChangeInbox()
  {
    try {
      if (!silent_)
        port_->disconnect(connectorId_.c_str());
    }
    catch (const CORBA::Exception&) {
      // A component that is gone has dropped the connector with it.
    }
    try {
      poa_->deactivate_object(servantId_.in());
    }
    catch (const CORBA::Exception&) {
    }
  }

  bool ChangeInbox::stillConnected()
  {
    RTC::ConnectorProfile_var profile = port_->get_connector_profile(connectorId_.c_str());
    return connectorId_ == profile->connector_id.in();
  }

  bool ChangeInbox::heard() const
  {
    std::lock_guard<std::mutex> lock(latest_->mutex);
    return latest_->change.has_value();
  }

  std::optional<MapChange> ChangeInbox::waitForOther(std::uint64_t lastVersion, std::chrono::milliseconds timeout)
  {
    std::unique_lock<std::mutex> lock(latest_->mutex);
    const bool changed = latest_->arrived.wait_for(
        lock, timeout, [&] { return latest_->change && latest_->change->version != lastVersion; });
    return changed ? latest_->change : std::nullopt;
  }
}
