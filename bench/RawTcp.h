#ifndef BENCH_RAWTCP_H
#define BENCH_RAWTCP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The floor for moving n bytes over loopback: a length header, the bytes,
// and a one-byte acknowledgement, with buffers reused between rounds.
class RawTcpSink
{
public:
  explicit RawTcpSink(const std::string& host = "127.0.0.1");  // any free port
  ~RawTcpSink();
  uint16_t port() const { return port_; }
  void serve();  // accepts and answers clients until the process ends

private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::vector<char> buffer_;
};

class RawTcpClient
{
public:
  RawTcpClient(const std::string& host, uint16_t port);
  ~RawTcpClient();
  void roundTrip(const char* bytes, std::size_t length);

private:
  int socket_ = -1;
};

#endif // BENCH_RAWTCP_H
