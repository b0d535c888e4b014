#ifndef RTM_INPORTBASE_H
#define RTM_INPORTBASE_H

#include "rtm/dataports/DataPortBase.h"
#include "rtm/dataports/InPortBuffer.h"
#include "rtm/dataports/InPortCdrProvider.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace RTC
{
  // A data input port: each push connection gets an InPortCdr servant of its
  // own, and every servant stores into the port's one bounded buffer (the
  // oldest value is dropped when it is full; put still answers PORT_OK).
  class InPortBase : public DataPortBase
  {
  public:
    InPortBase(const char* name, const std::string& dataType, std::size_t bufferLength);
    ~InPortBase() override;

    bool isNew() const { return !buffer_.empty(); }
    // Waits until a value has arrived, at most `timeout`; true if one has.
    bool waitNew(std::chrono::milliseconds timeout) const { return buffer_.waitNonEmpty(timeout); }
    // Values dropped because the buffer was full when they arrived.
    std::size_t overflowCount() const { return buffer_.dropped(); }

  protected:
    std::optional<InPortBuffer::Entry> takeEncoded() { return buffer_.take(); }

    ReturnCode_t publishInterfaces(ConnectorProfile& profile) override;
    ReturnCode_t subscribeInterfaces(const ConnectorProfile& profile) override;
    void unsubscribeInterfaces(const ConnectorProfile& profile) override;
    void onDeactivated() override;
    bool servantsReleased() const override;

  private:
    struct Connection
    {
      std::unique_ptr<InPortCdrProvider> servant;
      ActivatedServant activation;  // declared last: deactivated before the servant goes
    };

    InPortBuffer buffer_;
    mutable std::mutex mutex_;  // guards connections_ and retired_
    std::map<std::string, std::unique_ptr<Connection>> connections_;  // by connector id
    std::vector<std::unique_ptr<Connection>> retired_;  // deactivated at shutdown, kept until released
  };
}

#endif // RTM_INPORTBASE_H
