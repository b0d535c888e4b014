#ifndef BENCH_RAWSOCKET_H
#define BENCH_RAWSOCKET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A Unix-domain socket's file name.
struct UnixPath
{
  std::string path;
};

// The floor for moving n bytes over a TCP or Unix-domain socket: a length
// header, the bytes, and a one-byte acknowledgement, with buffers reused
// between rounds.
class RawSocketSink
{
public:
  explicit RawSocketSink(const std::string& host = "127.0.0.1");  // TCP, any free port
  explicit RawSocketSink(const UnixPath& socket);
  ~RawSocketSink();
  uint16_t port() const { return port_; }  // 0 for a Unix-domain socket
  void serve();  // accepts and answers clients until the process ends

private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::string unixPath_;  // removed with the sink
  std::vector<char> buffer_;
};

class RawSocketClient
{
public:
  RawSocketClient(const std::string& host, uint16_t port);
  explicit RawSocketClient(const UnixPath& socket);
  ~RawSocketClient();
  void roundTrip(const char* bytes, std::size_t length);

private:
  int socket_ = -1;
};

#endif // BENCH_RAWSOCKET_H
