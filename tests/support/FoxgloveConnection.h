#ifndef TESTS_SUPPORT_FOXGLOVECONNECTION_H
#define TESTS_SUPPORT_FOXGLOVECONNECTION_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// KorventComp arguments that turn the Foxglove endpoint on at `endpoint`
// and log the line that tells where it listens.
std::vector<std::string> foxgloveArgs(const std::string& endpoint = "127.0.0.1:0");

// A viewer's WebSocket connection to a Foxglove endpoint, over plain TCP on
// the loopback, every wait bounded.
class FoxgloveConnection
{
public:
  // Connects to host:port offering `subprotocol`, with a receive buffer of
  // `receiveBuffer` octets when it is not 0.  Throws when the handshake fails.
  FoxgloveConnection(const std::string& host, int port, const std::string& subprotocol = "foxglove.websocket.v1",
                     int receiveBuffer = 0);

  void sendText(const std::string& text);
  void sendBinary(const std::string& bytes);

  struct Message
  {
    bool binary = false;
    std::string bytes;
  };
  // The next message; nothing when none comes within the timeout or the
  // connection ended.
  std::optional<Message> read(std::chrono::milliseconds timeout);
  // The next text message whose "op" is `op`, skipping the others.
  std::optional<std::string> readOp(const std::string& op, std::chrono::milliseconds timeout);

  // A binary message's subscription id, and its payload.
  static std::uint32_t subscriptionOf(const std::string& message);
  static std::string payloadOf(const std::string& message);

private:
  boost::asio::io_context network_;
  boost::beast::websocket::stream<boost::asio::ip::tcp::socket> socket_;
  boost::beast::flat_buffer buffer_;
  bool ended_ = false;
};

#endif // TESTS_SUPPORT_FOXGLOVECONNECTION_H
