#ifndef FOXGLOVEPROTOCOL_H
#define FOXGLOVEPROTOCOL_H

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Foxglove's WebSocket protocol, version 1, as far as a server of the map
// needs it: the JSON it sends, the JSON a viewer sends, and the header of
// a binary message.
namespace foxglove
{
  // The two channels every connection is offered.
  constexpr std::uint32_t mapChannel = 1;
  constexpr std::uint32_t updateChannel = 2;

  // The subprotocol to answer a handshake offering `offered` (the
  // Sec-WebSocket-Protocol value, names separated by commas) with: the
  // first one offered that this server speaks; empty when there is none.
  std::string chosenSubprotocol(std::string_view offered);

  // What a viewer asks for.  Subscriptions are (subscription id, channel id).
  struct ClientRequest
  {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> subscribe;
    std::vector<std::uint32_t> unsubscribe;
  };

  // Thrown with a message fit to go back to the viewer in a `status`.
  struct ProtocolError : std::runtime_error
  {
    using std::runtime_error::runtime_error;
  };

  // One text message from a viewer.  Throws ProtocolError when it is not
  // JSON, not a subscribe or unsubscribe, or lacks what those carry.
  ClientRequest parseClientMessage(std::string_view text);

  std::string serverInfoMessage(const std::string& sessionId);
  // /map as nav_msgs/msg/OccupancyGrid and /map_updates as
  // map_msgs/msg/OccupancyGridUpdate, CDR with ros2msg schemas.
  std::string advertiseMessage();
  // level 0 info, 1 warning, 2 error.
  std::string statusMessage(int level, const std::string& message);

  // What goes before a message's payload: opcode 1, the subscription id and
  // the receive time in ns, little endian.
  using MessageHeader = std::array<unsigned char, 13>;
  MessageHeader messageHeader(std::uint32_t subscription, std::uint64_t receiveTimeNs);
}

#endif // FOXGLOVEPROTOCOL_H
