#ifndef TESTS_SUPPORT_FRAMEWORKDATAPORT_H
#define TESTS_SUPPORT_FRAMEWORKDATAPORT_H

#include <DataPort_OpenRTM.hh>
#include <RTC.hh>
#include <rtm/dataports/CdrCodec.h>
#include <rtm/orb/ActivatedServant.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// A data port on the test's client ORB that acts on the wire
// as a framework 2.x port does (push, corba_cdr): connect() adds the byte
// order key "little,big" when it is missing; an InPort publishes its
// receiver as "dataport.corba_cdr.inport_ior" (text) and
// "dataport.corba_cdr.inport_ref" (an object reference) and adds
// "dataport.inport.data_type"; an OutPort pushes to "inport_ior", else to
// "inport_ref".  Its port profile advertises the framework's long lists.
class FrameworkDataPort : public virtual POA_RTC::PortService
{
public:
  enum class Direction { In, Out };

  // `dataType` as a repository id.
  FrameworkDataPort(Direction direction, const std::string& dataType);
  ~FrameworkDataPort() override;
  FrameworkDataPort(const FrameworkDataPort&) = delete;
  FrameworkDataPort& operator=(const FrameworkDataPort&) = delete;

  RTC::PortService_ptr ref() const;  // not duplicated

  // InPort: the octets of the next value pushed to it and its connection's
  // byte order; nothing within `timeout`.
  std::optional<std::pair<std::string, RTC::ByteOrder>> next(
      std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // OutPort: pushes the value `encode` gives in each connection's byte
  // order on every connection; the number that took it.
  int write(const std::function<std::string(RTC::ByteOrder)>& encode);
  // The profile stored for a connection, as the chain returned it.
  std::optional<RTC::ConnectorProfile> connector(const std::string& id) const;

  RTC::PortProfile* get_port_profile() override;
  RTC::ConnectorProfileList* get_connector_profiles() override;
  RTC::ConnectorProfile* get_connector_profile(const char* id) override;
  RTC::ReturnCode_t connect(RTC::ConnectorProfile& profile) override;
  RTC::ReturnCode_t disconnect(const char* id) override;
  RTC::ReturnCode_t disconnect_all() override;
  RTC::ReturnCode_t notify_connect(RTC::ConnectorProfile& profile) override;
  RTC::ReturnCode_t notify_disconnect(const char* id) override;

  // What an InPort's receiver got: the octets, and the connection's byte order.
  struct Arrivals
  {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::pair<std::string, bool>> values;  // (octets, little endian)
  };

private:
  class Receiver;
  struct Connection
  {
    RTC::ConnectorProfile profile;
    std::unique_ptr<Receiver> receiver;     // InPort
    OpenRTM::InPortCdr_var consumer;        // OutPort
    bool littleEndian = true;
    bool stored = false;                    // only once the whole chain agreed
    RTC::ActivatedServant activation;       // declared last: deactivated before the receiver goes
  };

  RTC::ReturnCode_t publish(RTC::ConnectorProfile& profile);
  RTC::ReturnCode_t subscribe(const RTC::ConnectorProfile& profile);
  RTC::ReturnCode_t connectNext(RTC::ConnectorProfile& profile);
  // The port after this one in the profile's chain; nil when it is last.
  RTC::PortService_ptr nextPort(const RTC::ConnectorProfile& profile) const;

  const Direction direction_;
  const std::string dataType_;
  std::shared_ptr<Arrivals> arrivals_ = std::make_shared<Arrivals>();
  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Connection>> connections_;  // by id; published, maybe not stored yet
  RTC::ActivatedServant activation_;
};

#endif // TESTS_SUPPORT_FRAMEWORKDATAPORT_H
