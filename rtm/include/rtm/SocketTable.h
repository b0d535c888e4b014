#ifndef RTM_SOCKETTABLE_H
#define RTM_SOCKETTABLE_H

#include <set>
#include <string>
#include <vector>

namespace RTC
{
  // One TCP socket as the kernel lists it for this network namespace.
  struct TcpSocket
  {
    std::string localHost;  // numeric, "127.0.0.1", "::", ...
    unsigned localPort = 0;
    unsigned state = 0;     // the kernel's TCP state number
    unsigned long inode = 0;

    bool listening() const { return state == 0x0A; }
    // Not listening and not yet closed: a peer holds it.
    bool connected() const { return state != 0x0A && state != 0x06 && state != 0x07; }
  };

  // Every TCP socket of this network namespace, IPv4 and IPv6.
  std::vector<TcpSocket> tcpSockets();

  // Inodes of the sockets this process has open.
  std::set<unsigned long> ownSocketInodes();
}

#endif // RTM_SOCKETTABLE_H
