#include "foxglove/FoxgloveProtocol.h"

#include <nlohmann/json.hpp>

namespace
{
  using nlohmann::json;

  // ros2msg text: the type's own fields, then each type it uses after a
  // line of 80 '=' and its full name; fields name types in full too, so
  // that every reference matches a definition.
  std::string schemaText(const std::vector<std::pair<std::string, std::string>>& types)
  {
    std::string text;
    for (const auto& [name, fields] : types) {
      if (!text.empty())
        text += std::string(80, '=') + "\nMSG: " + name + "\n";
      text += fields;
    }
    return text;
  }

  const std::pair<std::string, std::string> headerType{"std_msgs/msg/Header",
                                                       "builtin_interfaces/msg/Time stamp\nstring frame_id\n"};
  const std::pair<std::string, std::string> timeType{"builtin_interfaces/msg/Time", "int32 sec\nuint32 nanosec\n"};

  json channel(std::uint32_t id, const char* topic, const char* schemaName, const std::string& schema)
  {
    return {{"id", id},
            {"topic", topic},
            {"encoding", "cdr"},
            {"schemaName", schemaName},
            {"schema", schema},
            {"schemaEncoding", "ros2msg"}};
  }

  std::uint32_t idIn(const json& object, const char* key)
  {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_unsigned() || found->get<std::uint64_t>() > UINT32_MAX)
      throw foxglove::ProtocolError(std::string("'") + key + "' must be a whole number from 0 to 4294967295");
    return static_cast<std::uint32_t>(found->get<std::uint64_t>());
  }

  const json& arrayIn(const json& object, const char* key)
  {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_array())
      throw foxglove::ProtocolError(std::string("'") + key + "' must be an array");
    return *found;
  }
}

namespace foxglove
{
  std::string chosenSubprotocol(std::string_view offered)
  {
    while (!offered.empty()) {
      const std::size_t comma = offered.find(',');
      std::string_view name = offered.substr(0, comma);
      offered = comma == std::string_view::npos ? std::string_view() : offered.substr(comma + 1);
      while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
        name.remove_prefix(1);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
      if (name == "foxglove.websocket.v1" || name == "foxglove.sdk.v1")
        return std::string(name);
    }
    return {};
  }

  ClientRequest parseClientMessage(std::string_view text)
  {
    const json message = json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object())
      throw ProtocolError("a message must be a JSON object");
    const auto op = message.find("op");
    if (op == message.end() || !op->is_string())
      throw ProtocolError("a message must have an 'op' string");
    ClientRequest request;
    if (*op == "subscribe") {
      for (const json& subscription : arrayIn(message, "subscriptions")) {
        if (!subscription.is_object())
          throw ProtocolError("each subscription must be an object with 'id' and 'channelId'");
        request.subscribe.emplace_back(idIn(subscription, "id"), idIn(subscription, "channelId"));
      }
    }
    else if (*op == "unsubscribe") {
      for (const json& id : arrayIn(message, "subscriptionIds")) {
        if (!id.is_number_unsigned() || id.get<std::uint64_t>() > UINT32_MAX)
          throw ProtocolError("'subscriptionIds' must hold whole numbers from 0 to 4294967295");
        request.unsubscribe.push_back(static_cast<std::uint32_t>(id.get<std::uint64_t>()));
      }
    }
    else
      throw ProtocolError("operation '" + op->get<std::string>() +
                          "' is not supported: this server only takes subscribe and unsubscribe");
    return request;
  }

  std::string serverInfoMessage(const std::string& sessionId)
  {
    return json{{"op", "serverInfo"},
                {"name", "KorventComp"},
                {"capabilities", json::array()},
                {"supportedEncodings", json::array()},
                {"metadata", json::object()},
                {"sessionId", sessionId}}
      .dump();
  }

  std::string advertiseMessage()
  {
    // Quaternion's defaults are part of its ROS 2 definition.
    static const std::string map = schemaText(
      {{"nav_msgs/msg/OccupancyGrid", "std_msgs/msg/Header header\nnav_msgs/msg/MapMetaData info\nint8[] data\n"},
       headerType,
       timeType,
       {"nav_msgs/msg/MapMetaData",
        "builtin_interfaces/msg/Time map_load_time\nfloat32 resolution\nuint32 width\nuint32 height\n"
        "geometry_msgs/msg/Pose origin\n"},
       {"geometry_msgs/msg/Pose", "geometry_msgs/msg/Point position\ngeometry_msgs/msg/Quaternion orientation\n"},
       {"geometry_msgs/msg/Point", "float64 x\nfloat64 y\nfloat64 z\n"},
       {"geometry_msgs/msg/Quaternion", "float64 x 0\nfloat64 y 0\nfloat64 z 0\nfloat64 w 1\n"}});
    static const std::string update = schemaText(
      {{"map_msgs/msg/OccupancyGridUpdate",
        "std_msgs/msg/Header header\nint32 x\nint32 y\nuint32 width\nuint32 height\nint8[] data\n"},
       headerType,
       timeType});
    return json{{"op", "advertise"},
                {"channels",
                 {channel(mapChannel, "/map", "nav_msgs/msg/OccupancyGrid", map),
                  channel(updateChannel, "/map_updates", "map_msgs/msg/OccupancyGridUpdate", update)}}}
      .dump();
  }

  std::string statusMessage(int level, const std::string& message)
  {
    return json{{"op", "status"}, {"level", level}, {"message", message}}.dump(-1, ' ', false,
                                                                                json::error_handler_t::replace);
  }

  MessageHeader messageHeader(std::uint32_t subscription, std::uint64_t receiveTimeNs)
  {
    MessageHeader header{};
    header[0] = 0x01;
    for (int i = 0; i < 4; ++i)
      header[1 + i] = static_cast<unsigned char>(subscription >> (8 * i));
    for (int i = 0; i < 8; ++i)
      header[5 + i] = static_cast<unsigned char>(receiveTimeNs >> (8 * i));
    return header;
  }
}
