#ifndef RTM_CONNECTIONLIMIT_H
#define RTM_CONNECTIONLIMIT_H

#include <cstddef>

namespace RTC
{
  // Makes the ORB close every incoming connection that would bring the
  // connections open on its listening port above `maximum`.  The ORB has no
  // such limit of its own: each connection costs a socket and, up to the
  // thread-per-connection limit, a thread.  The ORB asks when it starts
  // serving a connection: at once while it has a thread per connection,
  // at the first request beyond that.  Install after ORB_init, before the
  // POA is activated.
  void limitIncomingConnections(std::size_t maximum);

  // Connections that peers hold open to the local TCP port `port` (what the
  // kernel lists for it, less listening and closed sockets).
  std::size_t openConnectionsTo(unsigned port);
}

#endif // RTM_CONNECTIONLIMIT_H
