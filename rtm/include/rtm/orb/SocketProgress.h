#ifndef RTM_SOCKETPROGRESS_H
#define RTM_SOCKETPROGRESS_H

#include <cstddef>
#include <cstdint>
#include <optional>

namespace RTC
{
  // How far the octets of one connected TCP socket of this process got.
  struct SocketProgress
  {
    unsigned long inode = 0;  // tells the socket apart from a later one on the same descriptor
    std::uint64_t received = 0;  // octets the kernel received from the peer, ever
    std::size_t unread = 0;      // of those, octets not read by this process yet
    bool established = false;    // neither end has closed or reset it
  };

  // Resets the connection on `fd` without closing any descriptor of it:
  // reads and writes on all of them fail from then on, even while the peer
  // keeps sending (a read shut down with shutdown() would still return what
  // arrives).
  void abortConnection(int fd);

  // Progress of the socket on `fd`; nothing if `fd` is no TCP socket.
  std::optional<SocketProgress> progressOf(int fd);
}

#endif // RTM_SOCKETPROGRESS_H
