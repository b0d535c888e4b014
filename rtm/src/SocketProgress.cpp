#include "rtm/SocketProgress.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace RTC
{
  namespace
  {
    Endpoint endpointOf(const sockaddr_storage& address)
    {
      char text[INET6_ADDRSTRLEN] = "";
      if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        return {text, ntohs(v4.sin_port)};
      }
      if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return {withoutMappedPrefix(text), ntohs(v6.sin6_port)};
      }
      return {};
    }

    // Calls `visit` with each connected socket of this process and its two
    // ends, until it returns false.
    void forEachConnection(const std::function<bool(int, const Endpoint&, const Endpoint&)>& visit)
    {
      DIR* fds = opendir("/proc/self/fd");
      if (!fds)
        return;
      while (dirent* entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_storage local{}, remote{};
        socklen_t localSize = sizeof local, remoteSize = sizeof remote;
        if (entry->d_name[0] == '.' || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteSize) != 0)
          continue;
        if (!visit(fd, endpointOf(local), endpointOf(remote)))
          break;
      }
      closedir(fds);
    }
  }

  int socketBetween(unsigned port, const Endpoint& peer)
  {
    int found = -1;
    forEachConnection([&](int fd, const Endpoint& local, const Endpoint& remote) {
      if (local.second == port && remote == peer)
        found = fd;
      return found < 0;
    });
    return found;
  }

  std::set<Endpoint> peersOn(unsigned port)
  {
    std::set<Endpoint> peers;
    forEachConnection([&](int, const Endpoint& local, const Endpoint& remote) {
      if (local.second == port)
        peers.insert(remote);
      return true;
    });
    return peers;
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
                          static_cast<std::size_t>(unread > 0 ? unread : 0)};
  }
}
