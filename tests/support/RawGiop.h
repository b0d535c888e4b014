#ifndef TESTS_SUPPORT_RAWGIOP_H
#define TESTS_SUPPORT_RAWGIOP_H

#include <chrono>
#include <cstdint>
#include <string>

// Hand-made GIOP 1.2 traffic, for clients that misbehave in ways an ORB
// never would: a request that stops half way, a reply that is never read.

// Where an IIOP reference points: its first IIOP profile.
struct IiopAddress
{
  std::string host;
  int port = 0;
  std::string objectKey;
};
IiopAddress iiopAddressOf(const std::string& ior);

// A connected TCP socket to host:port, from the local address `source` if
// one is given, or -1.
int connectTcp(const std::string& host, int port, const std::string& source = "");

// A connected Unix-domain socket to the socket file `path`, or -1.
int connectUnix(const std::string& path);

// A complete getGridMap request (the reply carries the whole stored map).
std::string getGridMapRequest(const std::string& objectKey, uint32_t requestId);

// A complete getRegion request on the region service.
std::string getRegionRequest(const std::string& objectKey, uint32_t requestId, int32_t x, int32_t y, int32_t width,
                             int32_t height);

// The start of a setGridMap request whose header declares a map of
// `mapBytes` octets (`width` x `height` cells), followed by `sentMapBytes` of
// them; the rest never comes unless the caller sends it.
std::string partialSetGridMapRequest(const std::string& objectKey, uint32_t requestId,
                                     uint32_t mapBytes, uint32_t sentMapBytes,
                                     uint16_t width = 1, uint16_t height = 1);

// A complete connect request on a port, with `profile` as its body: a
// connector profile in little-endian CDR, whatever it holds.
std::string connectRequest(const std::string& objectKey, uint32_t requestId, const std::string& profile);

// Writes all of `bytes`; false if the peer closed or the write failed.
bool sendAll(int fd, const std::string& bytes);

// Writes `count` filler octets in pieces, so that hundreds of MiB of body
// need no buffer of that size; false if the peer closed or the write failed.
bool sendFiller(int fd, std::size_t count);

// True once the peer has closed the connection (end of stream or reset),
// reading and discarding whatever arrives first; false at the timeout.
bool closedByPeer(int fd, std::chrono::milliseconds timeout);

// The body of the next GIOP message, its fragments joined; throws
// std::runtime_error if it does not arrive whole within the timeout.
std::string readGiopMessageBody(int fd, std::chrono::milliseconds timeout);

// What becomes of a getGridMap on a new connection: answered, refused (the
// connection closed or could not be made), or still unanswered at the timeout.
enum class FreshCall { Answered, Refused, Unanswered };
FreshCall freshGetGridMap(const IiopAddress& address, std::chrono::milliseconds timeout);

// Bytes waiting to be read on the socket.
std::size_t pendingBytes(int fd);

#endif // TESTS_SUPPORT_RAWGIOP_H
