#include "FoxgloveConnection.h"

#include <boost/asio/connect.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>

#include <nlohmann/json.hpp>

#include <stdexcept>

std::vector<std::string> foxgloveArgs(const std::string& endpoint)
{
  return {"-o", "korvent.foxglove.endpoint:" + endpoint, "-o", "logger.log_level:INFO"};
}

FoxgloveConnection::FoxgloveConnection(const std::string& host, int port, const std::string& subprotocol,
                                       int receiveBuffer)
  : socket_(network_)
{
  auto& tcp = socket_.next_layer();
  tcp.open(boost::asio::ip::tcp::v4());
  if (receiveBuffer > 0)
    tcp.set_option(boost::asio::socket_base::receive_buffer_size(receiveBuffer));
  tcp.connect({boost::asio::ip::make_address(host), static_cast<unsigned short>(port)});
  socket_.set_option(boost::beast::websocket::stream_base::decorator([subprotocol](auto& request) {
    request.set(boost::beast::http::field::sec_websocket_protocol, subprotocol);
  }));
  socket_.read_message_max(std::size_t(1) << 30);
  socket_.handshake(host + ":" + std::to_string(port), "/");
}

void FoxgloveConnection::sendText(const std::string& text)
{
  socket_.text(true);
  socket_.write(boost::asio::buffer(text));
}

void FoxgloveConnection::sendBinary(const std::string& bytes)
{
  socket_.binary(true);
  socket_.write(boost::asio::buffer(bytes));
}

std::optional<FoxgloveConnection::Message> FoxgloveConnection::read(std::chrono::milliseconds timeout)
{
  if (ended_)
    return std::nullopt;
  std::optional<boost::system::error_code> result;
  socket_.async_read(buffer_, [&](boost::system::error_code error, std::size_t) { result = error; });
  network_.restart();
  network_.run_for(timeout);
  if (!result) {
    // A read cut short leaves the stream unusable: the connection ends.
    boost::system::error_code ignored;
    socket_.next_layer().close(ignored);
    network_.restart();
    network_.run();
    ended_ = true;
    return std::nullopt;
  }
  if (*result) {
    ended_ = true;
    return std::nullopt;
  }
  Message message{socket_.got_binary(), boost::beast::buffers_to_string(buffer_.data())};
  buffer_.consume(buffer_.size());
  return message;
}

std::optional<std::string> FoxgloveConnection::readOp(const std::string& op, std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return std::nullopt;
    const std::optional<Message> message = read(left);
    if (!message)
      return std::nullopt;
    if (!message->binary && nlohmann::json::parse(message->bytes).value("op", "") == op)
      return message->bytes;
  }
}

std::uint32_t FoxgloveConnection::subscriptionOf(const std::string& message)
{
  if (message.size() < 13 || message[0] != 0x01)
    throw std::runtime_error("not a message data frame");
  std::uint32_t id = 0;
  for (int i = 3; i >= 0; --i)
    id = (id << 8) | static_cast<unsigned char>(message[1 + i]);
  return id;
}

std::string FoxgloveConnection::payloadOf(const std::string& message)
{
  subscriptionOf(message);
  return message.substr(13);
}
