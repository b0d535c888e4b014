#include "rtm/orb/SocketTable.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace RTC
{
  namespace
  {
    // The kernel prints each 32-bit word of an address in host order.
    std::string hostFromHex(const std::string& hex)
    {
      char text[INET6_ADDRSTRLEN] = "";
      if (hex.size() == 8) {
        in_addr address{};
        address.s_addr = static_cast<uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
        inet_ntop(AF_INET, &address, text, sizeof text);
      }
      else if (hex.size() == 32) {
        in6_addr address{};
        for (int word = 0; word < 4; ++word) {
          const uint32_t value = static_cast<uint32_t>(std::strtoul(hex.substr(word * 8, 8).c_str(), nullptr, 16));
          std::memcpy(address.s6_addr + word * 4, &value, 4);
        }
        inet_ntop(AF_INET6, &address, text, sizeof text);
      }
      return text;
    }

    void readTable(const char* path, std::vector<TcpSocket>& sockets)
    {
      std::ifstream in(path);
      std::string line;
      std::getline(in, line);  // column titles
      while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        const std::size_t colon = local.rfind(':');
        const std::size_t remoteColon = remote.rfind(':');
        if (!fields || colon == std::string::npos || remoteColon == std::string::npos)
          continue;
        TcpSocket socket;
        socket.localHost = hostFromHex(local.substr(0, colon));
        socket.localPort = static_cast<unsigned>(std::strtoul(local.c_str() + colon + 1, nullptr, 16));
        socket.remoteHost = hostFromHex(remote.substr(0, remoteColon));
        socket.remotePort = static_cast<unsigned>(std::strtoul(remote.c_str() + remoteColon + 1, nullptr, 16));
        socket.state = static_cast<unsigned>(std::strtoul(state.c_str(), nullptr, 16));
        socket.inode = inode;
        sockets.push_back(socket);
      }
    }
  }

  std::vector<TcpSocket> tcpSockets()
  {
    std::vector<TcpSocket> sockets;
    readTable("/proc/self/net/tcp", sockets);
    readTable("/proc/self/net/tcp6", sockets);
    return sockets;
  }

  std::set<unsigned long> ownSocketInodes()
  {
    std::set<unsigned long> inodes;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds)
      return inodes;
    while (dirent* entry = readdir(fds)) {
      char target[64];
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n <= 0)
        continue;
      target[n] = '\0';
      unsigned long inode = 0;
      if (std::sscanf(target, "socket:[%lu]", &inode) == 1)
        inodes.insert(inode);
    }
    closedir(fds);
    return inodes;
  }
}
