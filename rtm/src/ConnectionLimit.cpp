#include "rtm/ConnectionLimit.h"

#include "rtm/SocketTable.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace RTC
{
  namespace
  {
    std::atomic<std::size_t> limit{0};

    unsigned portOf(const char* address)
    {
      const std::string text = address ? address : "";
      const std::size_t colon = text.rfind(':');
      return colon == std::string::npos ? 0 : static_cast<unsigned>(std::strtoul(text.c_str() + colon + 1, nullptr, 10));
    }

    CORBA::Boolean admit(omni::omniInterceptors::serverAcceptConnection_T::info_T& info)
    {
      const unsigned port = portOf(info.myaddress());
      if (port != 0 && openConnectionsTo(port) > limit) {
        info.reject = 1;
        info.why = "too many connections";
      }
      return 1;
    }
  }

  std::size_t openConnectionsTo(unsigned port)
  {
    // Only this process listens on `port`, so every open socket with that
    // local port is one of its accepted connections; those still waiting in
    // the kernel's accept queue have no inode yet and are not counted.
    std::size_t count = 0;
    for (const TcpSocket& socket : tcpSockets())
      if (socket.localPort == port && socket.heldOpen() && socket.inode != 0)
        ++count;
    return count;
  }

  void limitIncomingConnections(std::size_t maximum)
  {
    if (limit.exchange(maximum) == 0)
      omniORB::getInterceptors()->serverAcceptConnection.add(admit);
  }
}
