#ifndef RTM_INPORTCDRPROVIDER_H
#define RTM_INPORTCDRPROVIDER_H

#include <DataPort_OpenRTM.hh>

#include "rtm/dataports/InPortBuffer.h"

#include <atomic>

namespace RTC
{
  // Servant of one push connection into an InPort: stores what the OutPort
  // puts, undecoded, in the port's buffer with the connection's byte order.
  class InPortCdrProvider
    : public virtual POA_OpenRTM::InPortCdr,
      public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit InPortCdrProvider(InPortBuffer& buffer);

    // Known only once the whole connect chain has agreed on it.
    void setByteOrder(ByteOrder order) { byteOrder_ = order; }

    OpenRTM::PortStatus put(const OpenRTM::CdrData& data) override;

  private:
    InPortBuffer& buffer_;
    std::atomic<ByteOrder> byteOrder_{ByteOrder::Little};
  };
}

#endif // RTM_INPORTCDRPROVIDER_H
