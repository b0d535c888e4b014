#include "RawTcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
  void sendAll(int fd, const char* bytes, std::size_t length)
  {
    while (length > 0) {
      ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL);
      if (n <= 0)
        throw std::runtime_error("raw tcp: send failed");
      bytes += n;
      length -= static_cast<std::size_t>(n);
    }
  }

  bool receiveAll(int fd, char* bytes, std::size_t length)
  {
    while (length > 0) {
      ssize_t n = recv(fd, bytes, length, 0);
      if (n <= 0)
        return false;
      bytes += n;
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

  sockaddr_in addressOf(const std::string& host, uint16_t port)
  {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
      throw std::runtime_error("raw tcp: not an IPv4 address: " + host);
    return address;
  }

  void noDelay(int fd)
  {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
}

RawTcpSink::RawTcpSink(const std::string& host)
{
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = addressOf(host, 0);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 4) != 0)
    throw std::runtime_error("raw tcp: cannot listen");
  socklen_t size = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
}

RawTcpSink::~RawTcpSink()
{
  close(listener_);
}

void RawTcpSink::serve()
{
  for (;;) {
    int client = accept(listener_, nullptr, nullptr);
    if (client < 0)
      return;
    noDelay(client);
    uint64_t length = 0;
    while (receiveAll(client, reinterpret_cast<char*>(&length), sizeof length)) {
      if (buffer_.size() < length)
        buffer_.resize(length);
      if (!receiveAll(client, buffer_.data(), length))
        break;
      const char ack = 1;
      sendAll(client, &ack, 1);
    }
    close(client);
  }
}

RawTcpClient::RawTcpClient(const std::string& host, uint16_t port)
{
  socket_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = addressOf(host, port);
  if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("raw tcp: cannot connect");
  noDelay(socket_);
}

RawTcpClient::~RawTcpClient()
{
  close(socket_);
}

void RawTcpClient::roundTrip(const char* bytes, std::size_t length)
{
  uint64_t header = length;
  sendAll(socket_, reinterpret_cast<const char*>(&header), sizeof header);
  sendAll(socket_, bytes, length);
  char ack = 0;
  if (!receiveAll(socket_, &ack, 1))
    throw std::runtime_error("raw tcp: no acknowledgement");
}
