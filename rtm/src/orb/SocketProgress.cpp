#include "rtm/orb/SocketProgress.h"

#include "rtm/orb/SocketTable.h"

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RTC
{
  namespace
  {
    // The descriptor of this process that holds socket `inode`, or -1.  Only
    // the names in /proc are read: no other thread's descriptor is touched.
    int descriptorOf(unsigned long inode)
    {
      DIR* fds = opendir("/proc/self/fd");
      if (!fds)
        return -1;
      int found = -1;
      const std::string wanted = "socket:[" + std::to_string(inode) + "]";
      while (dirent* entry = readdir(fds)) {
        char target[64];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && wanted == std::string(target, static_cast<std::size_t>(n))) {
          found = std::atoi(entry->d_name);
          break;
        }
      }
      closedir(fds);
      return found;
    }
  }

  int duplicateSocketBetween(unsigned port, const Endpoint& peer)
  {
    for (const TcpSocket& socket : tcpSockets()) {
      if (socket.localPort != port || socket.remotePort != peer.second ||
          withoutMappedPrefix(socket.remoteHost) != peer.first || !socket.heldOpen())
        continue;
      const int fd = descriptorOf(socket.inode);
      const int copy = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
      const std::optional<SocketProgress> progress = copy >= 0 ? progressOf(copy) : std::nullopt;
      if (progress && progress->inode == socket.inode)
        return copy;
      if (copy >= 0)
        close(copy);
    }
    return -1;
  }

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
