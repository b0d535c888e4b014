#ifndef RTM_CONNECTIONLIMIT_H
#define RTM_CONNECTIONLIMIT_H

#include <cstddef>

namespace RTC
{
  // How many incoming connections the ORB keeps open at once.  Network
  // connections (TCP and TLS, on every end point together) are held to
  // `network`, and those from one host to `perHost` (every loopback address
  // counting as one host); connections over the local socket, to `local`.
  struct ConnectionLimits
  {
    std::size_t network = 0;
    std::size_t perHost = 0;
    std::size_t local = 0;
  };

  // Makes the ORB close every incoming connection that would go beyond the
  // limits.  The ORB has no such limit of its own: each connection costs a
  // socket and, up to the thread-per-connection limit, a thread.  The ORB
  // asks when it starts serving a connection: at once while it has a thread
  // per connection, at the first request beyond that.  Install after
  // ORB_init, before the POA is activated.
  void limitIncomingConnections(const ConnectionLimits& limits);
}

#endif // RTM_CONNECTIONLIMIT_H
