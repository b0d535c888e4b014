#include "rtm/dataports/DataPortBase.h"

#include "rtm/util/Logger.h"
#include "rtm/util/NVUtil.h"

#include <cstring>

namespace RTC
{
  namespace
  {
    const char* endianKey = "dataport.serializer.cdr.endian";
  }

  DataPortBase::DataPortBase(const char* name, const char* portType, const std::string& dataType)
    : PortBase(name),
      dataType_(dataType),
      side_(std::strcmp(portType, "DataInPort") == 0 ? "inport" : "outport")
  {
    addProperty("port.port_type", portType);
    addProperty("dataport.data_type", dataType);
    addProperty("dataport.interface_type", "corba_cdr");
    addProperty("dataport.dataflow_type", "push");
    // Tools check what they send against these lists.
    addProperty("dataport.subscription_type", side_ == "inport" ? "Any" : "flush,new,periodic");
  }

  ReturnCode_t DataPortBase::connect(ConnectorProfile& connector_profile)
  {
    if (!findString(connector_profile.properties, endianKey))
      appendString(connector_profile.properties, endianKey, "little,big");
    return PortBase::connect(connector_profile);
  }

  ReturnCode_t DataPortBase::readConnection(const ConnectorProfile& profile, DataConnection& out) const
  {
    std::string why;
    const ReturnCode_t code = DataConnection::read(profile, dataType_, side_, out, why);
    if (code != RTC_OK)
      logger().log(LogLevel::Warn, [&] { return "port " + getName() + " refused a connection: " + why; });
    return code;
  }
}
