#ifndef RTM_OUTPORTBASE_H
#define RTM_OUTPORTBASE_H

#include "rtm/dataports/DataPortBase.h"
#include "rtm/dataports/OutPortPublisher.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace RTC
{
  // A data output port pushing over corba_cdr: one publisher (and thread)
  // per connection, fed by write() without waiting for any peer.
  class OutPortBase : public DataPortBase
  {
  public:
    using Encoder = std::function<std::string(ByteOrder)>;

    OutPortBase(const char* name, const std::string& dataType);
    ~OutPortBase() override;

    // A port that retains its latest value sends it to each new connection
    // as soon as the connection is made, not only at the next write.
    void setRetainsLatest(bool retains);
    std::size_t connectionCount() const;

  protected:
    // Hands the value `encode` produces (once per byte order in use) to
    // every connection's publisher.
    void writeEncoded(Encoder encode);

    ReturnCode_t publishInterfaces(ConnectorProfile& profile) override;
    ReturnCode_t subscribeInterfaces(const ConnectorProfile& profile) override;
    void unsubscribeInterfaces(const ConnectorProfile& profile) override;
    void onConnected(const ConnectorProfile& profile) override;
    void onDeactivated() override;

  private:
    void stopAll();

    mutable std::mutex mutex_;  // guards the members below; never held while a publisher stops
    std::map<std::string, std::unique_ptr<OutPortPublisher>> publishers_;  // by connector id
    // Publishers that dropped their own connection: their threads may be
    // ending still, and are waited for when the port goes.
    std::vector<std::unique_ptr<OutPortPublisher>> retired_;
    bool retainsLatest_ = false;
    Encoder latest_;
  };
}

#endif // RTM_OUTPORTBASE_H
