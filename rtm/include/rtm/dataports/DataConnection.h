#ifndef RTM_DATACONNECTION_H
#define RTM_DATACONNECTION_H

#include <RTC.hh>

#include "rtm/dataports/CdrCodec.h"

#include <cstddef>
#include <string>

namespace RTC
{
  // What one data-port connection asks for, read from its connector
  // profile's "dataport." keys.
  struct DataConnection
  {
    enum class Subscription { Flush, New, Periodic };

    ByteOrder byteOrder = ByteOrder::Little;
    Subscription subscription = Subscription::Flush;
    double pushRate = 1000.0;     // Hz, periodic only
    std::size_t bufferLength = 8;  // values an OutPort connector holds back

    // Reads `profile` for a port of data type `dataType`.  RTC_OK, or
    // BAD_PARAMETER for a flow, transport, subscription, byte order or
    // number this runtime does not take (or one given as other than text),
    // or RTC_ERROR for another data type (under "dataport.data_type" or
    // either side's "dataport.<side>.data_type") or serializer; `why` then
    // says which.  `side` is "inport" or
    // "outport": its own keys ("dataport.outport.buffer.length") win.
    static ReturnCode_t read(const ConnectorProfile& profile, const std::string& dataType, const std::string& side,
                             DataConnection& out, std::string& why);
  };

  // Whether two data type names agree: repository ids exactly, or the bare
  // name older ports advertise against the id's last part.
  bool sameDataType(const std::string& a, const std::string& b);
}

#endif // RTM_DATACONNECTION_H
