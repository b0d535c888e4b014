#ifndef FOXGLOVESETTINGS_H
#define FOXGLOVESETTINGS_H

#include "ros2/RosCells.h"

#include <rtm/orb/TransportSecurity.h>
#include <rtm/util/Properties.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// The Foxglove WebSocket endpoint's configuration:
//   korvent.foxglove.endpoint         host:port to listen on; empty (the default): no endpoint
//   korvent.foxglove.max_connections  viewers connected at once (8); one more is refused
//   korvent.foxglove.timeout          seconds the TLS, HTTP and WebSocket handshakes may take (5)
//   korvent.foxglove.max_message_kb   KiB a viewer's message may have (64); a larger one closes it
//   korvent.foxglove.stall_grace      seconds a send to a viewer may make no progress before the
//                                     viewer is closed (10)
// and, when corba.ssl.mode is not off, the ORB's certificate keys for TLS;
// the cells are read as korvent.ros2.cells says.
struct FoxgloveSettings
{
  std::string host;
  int port = 0;  // 0: any free port
  int maxConnections = 8;
  std::chrono::seconds timeout{5};
  std::size_t maxMessageBytes = 64 * 1024;
  std::chrono::seconds stallGrace{10};
  RosCells::Layout cells = RosCells::Layout::Image;
  std::optional<RTC::TlsSettings> tls;
};

// Nothing when the endpoint is off.  Throws RTC::ConfigError naming the key
// whose value cannot be used.
std::optional<FoxgloveSettings> foxgloveSettingsOf(const RTC::Properties& config);

#endif // FOXGLOVESETTINGS_H
