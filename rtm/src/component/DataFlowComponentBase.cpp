#include "rtm/component/DataFlowComponentBase.h"

namespace RTC
{
  namespace
  {
    // The port's own name, without the instance name it gains on registration.
    bool named(const PortBase& port, const char* name)
    {
      const std::string full = port.getName();
      const std::size_t dot = full.find('.');
      return (dot == std::string::npos ? full : full.substr(dot + 1)) == name;
    }
  }

  DataFlowComponentBase::DataFlowComponentBase(ComponentHost* host)
    : RTObject_impl(host)
  {
  }

  DataFlowComponentBase::~DataFlowComponentBase() = default;

  bool DataFlowComponentBase::registerInPort(const char* name, InPortBase& port)
  {
    if (!named(port, name))
      return false;
    registerPort(port);
    return true;
  }

  bool DataFlowComponentBase::registerOutPort(const char* name, OutPortBase& port)
  {
    if (!named(port, name))
      return false;
    registerPort(port);
    return true;
  }
}
