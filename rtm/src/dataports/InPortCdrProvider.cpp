#include "rtm/dataports/InPortCdrProvider.h"

namespace RTC
{
  InPortCdrProvider::InPortCdrProvider(InPortBuffer& buffer)
    : buffer_(buffer)
  {
  }

  OpenRTM::PortStatus InPortCdrProvider::put(const OpenRTM::CdrData& data)
  {
    try {
      std::string bytes(reinterpret_cast<const char*>(data.get_buffer()), data.length());
      buffer_.put(InPortBuffer::Entry{std::move(bytes), byteOrder_.load()});
      return OpenRTM::PORT_OK;
    }
    catch (const std::bad_alloc&) {
      return OpenRTM::UNKNOWN_ERROR;
    }
  }
}
