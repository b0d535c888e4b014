#include "RawGiop.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
  // Reads CDR in either byte order; offsets count from the start of the
  // enclosing encapsulation, as alignment does.
  class CdrReader
  {
  public:
    CdrReader(const std::string& bytes, std::size_t start, std::size_t end)
      : bytes_(bytes), base_(start), at_(start), end_(end)
    {
      littleEndian_ = octet() != 0;
    }

    uint8_t octet()
    {
      need(1);
      return static_cast<uint8_t>(bytes_[at_++]);
    }

    uint16_t ushort()
    {
      align(2);
      need(2);
      const uint16_t a = static_cast<uint8_t>(bytes_[at_]), b = static_cast<uint8_t>(bytes_[at_ + 1]);
      at_ += 2;
      return littleEndian_ ? static_cast<uint16_t>(a | b << 8) : static_cast<uint16_t>(a << 8 | b);
    }

    uint32_t ulong()
    {
      align(4);
      need(4);
      uint32_t value = 0;
      for (int i = 0; i < 4; ++i) {
        const uint32_t byte = static_cast<uint8_t>(bytes_[at_ + (littleEndian_ ? 3 - i : i)]);
        value = value << 8 | byte;
      }
      at_ += 4;
      return value;
    }

    // An octet sequence or string: its length, then the bytes.
    std::pair<std::size_t, std::size_t> span()
    {
      const uint32_t length = ulong();
      need(length);
      const std::size_t start = at_;
      at_ += length;
      return {start, length};
    }

  private:
    void align(std::size_t n) { at_ = base_ + (at_ - base_ + n - 1) / n * n; }
    void need(std::size_t n) const
    {
      if (at_ + n > end_)
        throw std::runtime_error("truncated IOR");
    }

    const std::string& bytes_;
    std::size_t base_, at_, end_;
    bool littleEndian_ = false;
  };

  // Little-endian CDR, aligned from the start of the GIOP message.
  class CdrWriter
  {
  public:
    void octet(uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void ushort(uint16_t v)
    {
      align(2);
      octet(v & 0xFF);
      octet(v >> 8);
    }
    void ulong(uint32_t v)
    {
      align(4);
      for (int i = 0; i < 4; ++i)
        octet((v >> (8 * i)) & 0xFF);
    }
    void octets(const std::string& bytes)
    {
      ulong(static_cast<uint32_t>(bytes.size()));
      out_ += bytes;
    }
    void text(const std::string& s) { octets(s + '\0'); }
    void align(std::size_t n)
    {
      while (out_.size() % n)
        octet(0);
    }
    std::string& bytes() { return out_; }

  private:
    std::string out_;
  };

  // GIOP 1.2 header and request header for `operation`; the body follows.
  // The message size is patched in by finish().
  CdrWriter requestStart(const std::string& objectKey, uint32_t requestId, const std::string& operation)
  {
    CdrWriter w;
    w.bytes() = std::string("GIOP\x01\x02\x01\x00", 8);  // 1.2, little endian, Request
    w.ulong(0);
    w.ulong(requestId);
    w.octet(3);  // a reply is expected
    w.octet(0);
    w.octet(0);
    w.octet(0);
    w.ushort(0);  // target addressed by object key
    w.octets(objectKey);
    w.text(operation);
    w.ulong(0);  // no service contexts
    w.align(8);  // a 1.2 request body starts on an 8-byte boundary
    return w;
  }

  void setMessageSize(std::string& message, uint32_t bodyBytes)
  {
    for (int i = 0; i < 4; ++i)
      message[8 + i] = static_cast<char>((bodyBytes >> (8 * i)) & 0xFF);
  }

  int hexValue(char c)
  {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    throw std::runtime_error("not an IOR");
  }
}

IiopAddress iiopAddressOf(const std::string& ior)
{
  if (ior.rfind("IOR:", 0) != 0 || ior.size() % 2 != 0)
    throw std::runtime_error("not an IOR");
  std::string bytes;
  for (std::size_t i = 4; i + 1 < ior.size(); i += 2)
    bytes.push_back(static_cast<char>(hexValue(ior[i]) << 4 | hexValue(ior[i + 1])));
  CdrReader reader(bytes, 0, bytes.size());
  reader.span();  // repository id
  const uint32_t profiles = reader.ulong();
  for (uint32_t p = 0; p < profiles; ++p) {
    const uint32_t tag = reader.ulong();
    const auto [start, length] = reader.span();
    if (tag != 0)  // not TAG_INTERNET_IOP
      continue;
    CdrReader profile(bytes, start, start + length);
    profile.octet();  // major
    profile.octet();  // minor
    IiopAddress address;
    const auto [hostAt, hostLength] = profile.span();
    address.host = bytes.substr(hostAt, hostLength ? hostLength - 1 : 0);
    address.port = profile.ushort();
    const auto [keyAt, keyLength] = profile.span();
    address.objectKey = bytes.substr(keyAt, keyLength);
    return address;
  }
  throw std::runtime_error("IOR has no IIOP profile");
}

int connectTcp(const std::string& host, int port, const std::string& source)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  sockaddr_in from{};
  from.sin_family = AF_INET;
  const bool bound = source.empty() || (inet_pton(AF_INET, source.c_str(), &from.sin_addr) == 1 &&
                                        bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0);
  if (fd < 0 || !bound || inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0)
      close(fd);
    return -1;
  }
  return fd;
}

int connectUnix(const std::string& path)
{
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    return fd;
  if (fd >= 0)
    close(fd);
  return -1;
}

std::string getGridMapRequest(const std::string& objectKey, uint32_t requestId)
{
  CdrWriter w = requestStart(objectKey, requestId, "getGridMap");
  w.ulong(0);  // map.tm.sec
  w.ulong(0);  // map.tm.nsec
  w.ulong(0);  // map.data: empty
  setMessageSize(w.bytes(), static_cast<uint32_t>(w.bytes().size() - 12));
  return w.bytes();
}

std::string getRegionRequest(const std::string& objectKey, uint32_t requestId, int32_t x, int32_t y, int32_t width,
                             int32_t height)
{
  CdrWriter w = requestStart(objectKey, requestId, "getRegion");
  for (int32_t value : {x, y, width, height})
    w.ulong(static_cast<uint32_t>(value));
  setMessageSize(w.bytes(), static_cast<uint32_t>(w.bytes().size() - 12));
  return w.bytes();
}

std::string partialSetGridMapRequest(const std::string& objectKey, uint32_t requestId,
                                     uint32_t mapBytes, uint32_t sentMapBytes, uint16_t width, uint16_t height)
{
  CdrWriter w = requestStart(objectKey, requestId, "setGridMap");
  w.ushort(width);
  w.ushort(height);
  w.ulong(0);   // map.tm.sec
  w.ulong(0);   // map.tm.nsec
  w.ulong(mapBytes);
  const std::size_t headerBytes = w.bytes().size();
  setMessageSize(w.bytes(), static_cast<uint32_t>(headerBytes - 12 + mapBytes));
  w.bytes().append(sentMapBytes, '\x01');
  return w.bytes();
}

bool sendAll(int fd, const std::string& bytes)
{
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool sendFiller(int fd, std::size_t count)
{
  const std::string piece(1u << 20, '\x01');
  for (std::size_t left = count; left > 0;) {
    const std::size_t n = std::min(left, piece.size());
    if (!sendAll(fd, piece.substr(0, n)))
      return false;
    left -= n;
  }
  return true;
}

bool closedByPeer(int fd, std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return false;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return false;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
      return true;
  }
}

FreshCall freshGetGridMap(const IiopAddress& address, std::chrono::milliseconds timeout)
{
  const int fd = connectTcp(address.host, address.port);
  if (fd < 0)
    return FreshCall::Refused;
  FreshCall outcome = FreshCall::Refused;
  if (sendAll(fd, getGridMapRequest(address.objectKey, 1))) {
    pollfd p{fd, POLLIN, 0};
    char head[4];
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1)
      outcome = FreshCall::Unanswered;
    else if (recv(fd, head, sizeof head, MSG_WAITALL) == 4 && std::string(head, 4) == "GIOP")
      outcome = FreshCall::Answered;
  }
  close(fd);
  return outcome;
}

std::size_t pendingBytes(int fd)
{
  int bytes = 0;
  ioctl(fd, FIONREAD, &bytes);
  return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

namespace
{
  // Reads exactly `length` bytes before the deadline; false if the peer
  // closed or time ran out.
  bool receiveExactly(int fd, char* into, std::size_t length, std::chrono::steady_clock::time_point deadline)
  {
    while (length > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
        return false;
      const ssize_t n = recv(fd, into, length, 0);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return false;
      into += n;
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }
}

std::string readGiopMessageBody(int fd, std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string body;
  for (bool first = true;; first = false) {
    char header[12];
    if (!receiveExactly(fd, header, sizeof header, deadline) || std::string(header, 4) != "GIOP")
      throw std::runtime_error("no GIOP message arrived whole");
    const bool littleEndian = header[6] & 0x01;
    const bool moreFragments = header[6] & 0x02;
    uint32_t size = 0;
    for (int i = 0; i < 4; ++i)
      size = size << 8 | static_cast<uint8_t>(header[8 + (littleEndian ? 3 - i : i)]);
    std::string part(size, '\0');
    if (!receiveExactly(fd, part.data(), size, deadline))
      throw std::runtime_error("a GIOP message stopped half way");
    // A fragment repeats the request id before its share of the body.
    body += first ? part : part.substr(4);
    if (!moreFragments)
      return body;
  }
}

std::string connectRequest(const std::string& objectKey, uint32_t requestId, const std::string& profile)
{
  CdrWriter w = requestStart(objectKey, requestId, "connect");
  w.bytes() += profile;
  setMessageSize(w.bytes(), static_cast<uint32_t>(w.bytes().size() - 12));
  return w.bytes();
}
