#ifndef RTM_ORBADDRESS_H
#define RTM_ORBADDRESS_H

#include <string>
#include <utility>

namespace RTC
{
  // One end of a TCP connection: numeric host (no brackets, no IPv4-mapped
  // prefix), port.
  using Endpoint = std::pair<std::string, unsigned>;

  // "giop:tcp:127.0.0.1:5000" or "giop:ssl:[::1]:5000", as the ORB names the
  // ends of a connection.
  Endpoint endpointOf(const char* orbAddress);

  // "::ffff:10.0.0.1" as "10.0.0.1": the same peer whichever socket family
  // accepted it.
  std::string withoutMappedPrefix(const std::string& host);

  // The key under which a peer's connections are counted: its address, or
  // "loopback" for every address of this machine's loopback.
  std::string hostKey(const std::string& host);
}

#endif // RTM_ORBADDRESS_H
