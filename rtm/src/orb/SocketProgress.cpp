#include "rtm/orb/SocketProgress.h"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace RTC
{
  void abortConnection(int fd)
  {
    // Connecting a TCP socket to an unspecified address dissolves its
    // connection with a reset.
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    connect(fd, &unspecified, sizeof unspecified);
  }

  std::optional<SocketProgress> progressOf(int fd)
  {
    struct stat status{};
    tcp_info info{};
    socklen_t size = sizeof info;
    int unread = 0;
    if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode) ||
        getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 || ioctl(fd, SIOCINQ, &unread) != 0)
      return std::nullopt;
    return SocketProgress{static_cast<unsigned long>(status.st_ino), info.tcpi_bytes_received,
                          static_cast<std::size_t>(unread > 0 ? unread : 0), info.tcpi_state == 1 /* established */};
  }
}
