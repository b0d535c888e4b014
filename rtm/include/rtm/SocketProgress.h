#ifndef RTM_SOCKETPROGRESS_H
#define RTM_SOCKETPROGRESS_H

#include "rtm/OrbAddress.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>

namespace RTC
{
  // How far the octets of one connected TCP socket of this process got.
  struct SocketProgress
  {
    unsigned long inode = 0;  // tells the socket apart from a later one on the same descriptor
    std::uint64_t received = 0;  // octets the kernel received from the peer, ever
    std::size_t unread = 0;      // of those, octets not read by this process yet
  };

  // The descriptor of this process's TCP socket between the local `port`
  // and `peer`, or -1.
  int socketBetween(unsigned port, const Endpoint& peer);

  // Peers of this process's sockets connected to the local `port`, whether
  // or not they closed their end: what holds a descriptor here.
  std::set<Endpoint> peersOn(unsigned port);

  // Resets the connection on `fd` without closing the descriptor, which its
  // owner still holds: its reads and writes fail from then on, even while
  // the peer keeps sending (a read shut down with shutdown() would still
  // return what arrives).
  void abortConnection(int fd);

  // Progress of the socket on `fd`; nothing if `fd` is no TCP socket.
  std::optional<SocketProgress> progressOf(int fd);
}

#endif // RTM_SOCKETPROGRESS_H
