#include "rtm/ConnectionLimit.h"

#include "rtm/SocketTable.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace RTC
{
  namespace
  {
    // One end of a connection: numeric host, port.
    using Endpoint = std::pair<std::string, unsigned>;

    std::mutex mutex;                // guards the two below
    std::size_t limit = 0;
    std::set<Endpoint> admitted;     // peers let in whose connection may still be open

    // "giop:tcp:127.0.0.1:5000" or "giop:ssl:[::1]:5000", as the ORB names
    // addresses: "giop:", the transport, then host and port.
    Endpoint endpointOf(const char* address)
    {
      std::string text = address ? address : "";
      if (text.rfind("giop:", 0) == 0) {
        const std::size_t transportEnd = text.find(':', 5);
        if (transportEnd != std::string::npos)
          text = text.substr(transportEnd + 1);
      }
      const std::size_t colon = text.rfind(':');
      if (colon == std::string::npos)
        return {text, 0};
      std::string host = text.substr(0, colon);
      if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
      return {host, static_cast<unsigned>(std::strtoul(text.c_str() + colon + 1, nullptr, 10))};
    }

    std::string withoutMappedPrefix(const std::string& host)
    {
      return host.rfind("::ffff:", 0) == 0 ? host.substr(7) : host;
    }

    // Peers connected to the local `port` right now, as the kernel lists them.
    std::set<Endpoint> connectedPeers(unsigned port)
    {
      std::set<Endpoint> peers;
      for (const TcpSocket& socket : tcpSockets())
        if (socket.localPort == port && socket.heldOpen())
          peers.insert({withoutMappedPrefix(socket.remoteHost), socket.remotePort});
      return peers;
    }

    // Counts the connections this interceptor let in and that are still
    // open: the ORB may accept a burst of connections before it asks about
    // any of them, so counting every open socket would turn the whole burst
    // away; counting admissions lets exactly the first ones in.
    CORBA::Boolean admit(omni::omniInterceptors::serverAcceptConnection_T::info_T& info)
    {
      const Endpoint me = endpointOf(info.myaddress());
      Endpoint peer = endpointOf(info.peeraddress());
      peer.first = withoutMappedPrefix(peer.first);
      const std::set<Endpoint> open = connectedPeers(me.second);
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = admitted.begin(); it != admitted.end();)
        it = open.count(*it) ? std::next(it) : admitted.erase(it);
      if (admitted.size() >= limit) {
        info.reject = 1;
        info.why = "too many connections";
      }
      else {
        admitted.insert(peer);
      }
      return 1;
    }
  }

  void limitIncomingConnections(std::size_t maximum)
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (limit == 0)
      omniORB::getInterceptors()->serverAcceptConnection.add(admit);
    limit = maximum;
  }
}
