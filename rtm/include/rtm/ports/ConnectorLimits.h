#ifndef RTM_CONNECTORLIMITS_H
#define RTM_CONNECTORLIMITS_H

#include <RTC.hh>

#include <cstddef>

namespace RTC
{
  // What a port takes from a peer.  The bounds keep every stored connector,
  // and a port's whole list of them, well inside a default-size (2 MiB) GIOP
  // message, so that profiles can always be read back.
  namespace ConnectorLimits
  {
    constexpr CORBA::ULong maxPorts = 32;          // ports in one connector
    constexpr CORBA::ULong maxConnectors = 64;     // connectors on one port
    constexpr CORBA::ULong maxProperties = 128;    // entries in its property list
    constexpr std::size_t maxTextLength = 256;     // name, id, property names
    constexpr std::size_t maxProfileBytes = 16 * 1024;  // marshalled size
  }

  // RTC_OK when `profile` is one this port can honour, BAD_PARAMETER when
  // not: a nil, repeated or missing port (`self` must be listed once, and
  // only once), a list or text over the limits above, or a profile too large
  // to store.  Property values may be of any kind an any carries (peers put
  // object references there); only their size counts.
  ReturnCode_t checkConnectorProfile(const ConnectorProfile& profile, PortService_ptr self);
}

#endif // RTM_CONNECTORLIMITS_H
