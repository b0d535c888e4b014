#ifndef RTM_CONNECTIONLIMIT_H
#define RTM_CONNECTIONLIMIT_H

#include <cstddef>

namespace RTC
{
  // Makes the ORB close every incoming connection that would bring the
  // connections open on its listening port above `maximum`, or those from
  // one host above `perHost` (every loopback address counting as one host).  The ORB has no
  // such limit of its own: each connection costs a socket and, up to the
  // thread-per-connection limit, a thread.  The ORB asks when it starts
  // serving a connection: at once while it has a thread per connection,
  // at the first request beyond that.  Install after ORB_init, before the
  // POA is activated.
  void limitIncomingConnections(std::size_t maximum, std::size_t perHost);
}

#endif // RTM_CONNECTIONLIMIT_H
