#include "RawSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
  void sendAll(int fd, const char* bytes, std::size_t length)
  {
    while (length > 0) {
      ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL);
      if (n <= 0)
        throw std::runtime_error("raw socket: send failed");
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
      throw std::runtime_error("raw socket: not an IPv4 address: " + host);
    return address;
  }

  sockaddr_un addressOf(const UnixPath& socket)
  {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.path.size() >= sizeof address.sun_path)
      throw std::runtime_error("raw socket: path too long: " + socket.path);
    std::strcpy(address.sun_path, socket.path.c_str());
    return address;
  }

  void noDelay(int fd)
  {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
}

RawSocketSink::RawSocketSink(const std::string& host)
{
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = addressOf(host, 0);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 4) != 0)
    throw std::runtime_error("raw socket: cannot listen");
  socklen_t size = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
}

RawSocketSink::RawSocketSink(const UnixPath& socket)
  : unixPath_(socket.path)
{
  listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = addressOf(socket);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 4) != 0)
    throw std::runtime_error("raw socket: cannot listen on " + socket.path);
}

RawSocketSink::~RawSocketSink()
{
  close(listener_);
  if (!unixPath_.empty())
    unlink(unixPath_.c_str());
}

void RawSocketSink::serve()
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

RawSocketClient::RawSocketClient(const std::string& host, uint16_t port)
{
  socket_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = addressOf(host, port);
  if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("raw socket: cannot connect");
  noDelay(socket_);
}

RawSocketClient::RawSocketClient(const UnixPath& socket)
{
  socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = addressOf(socket);
  if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("raw socket: cannot connect to " + socket.path);
}

RawSocketClient::~RawSocketClient()
{
  close(socket_);
}

void RawSocketClient::roundTrip(const char* bytes, std::size_t length)
{
  uint64_t header = length;
  sendAll(socket_, reinterpret_cast<const char*>(&header), sizeof header);
  sendAll(socket_, bytes, length);
  char ack = 0;
  if (!receiveAll(socket_, &ack, 1))
    throw std::runtime_error("raw socket: no acknowledgement");
}
