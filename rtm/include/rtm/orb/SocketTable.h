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
    std::string remoteHost;
    unsigned remotePort = 0;
    unsigned state = 0;     // the kernel's TCP state number
    unsigned long inode = 0;

    bool listening() const { return state == 0x0A; }
    // Open at this end, whether or not the peer has closed its own: what
    // holds a descriptor (and maybe a thread) here.  Sockets this end has
    // closed linger in other states, no longer held by anyone.
    bool heldOpen() const { return state == 0x01 /* established */ || state == 0x08 /* close wait */; }
  };

  // Every TCP socket of this network namespace, IPv4 and IPv6.
  std::vector<TcpSocket> tcpSockets();

  // Inodes of the sockets this process has open.
  std::set<unsigned long> ownSocketInodes();
}

#endif // RTM_SOCKETTABLE_H
