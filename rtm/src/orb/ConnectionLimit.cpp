#include "rtm/orb/ConnectionLimit.h"

#include "rtm/orb/OrbAddress.h"
#include "rtm/orb/SocketTable.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace RTC
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    std::mutex mutex;                // guards the four below
    std::size_t limit = 0;
    std::size_t perHostLimit = 0;
    std::set<Endpoint> admitted;     // peers let in whose connection may still be open
    Clock::time_point lastLook;      // when it was last asked which of them are

    // Peers connected to the local `port` right now, as the kernel lists them.
    std::set<Endpoint> connectedPeers(unsigned port)
    {
      std::set<Endpoint> peers;
      for (const TcpSocket& socket : tcpSockets())
        if (socket.localPort == port && socket.heldOpen())
          peers.insert({withoutMappedPrefix(socket.remoteHost), socket.remotePort});
      return peers;
    }

    std::size_t admittedFrom(const std::string& host)
    {
      return static_cast<std::size_t>(std::count_if(admitted.begin(), admitted.end(),
                                                     [&](const Endpoint& e) { return hostKey(e.first) == host; }));
    }

    // Counts the connections this interceptor let in and that are still
    // open: the ORB may accept a burst of connections before it asks about
    // any of them, so counting every open socket would turn the whole burst
    // away; counting admissions lets exactly the first ones in.
    CORBA::Boolean admit(omni::omniInterceptors::serverAcceptConnection_T::info_T& info)
    {
      const Endpoint me = endpointOf(info.myaddress());
      const Endpoint peer = endpointOf(info.peeraddress());
      const std::string host = hostKey(peer.first);
      std::unique_lock<std::mutex> lock(mutex);
      // Which of them are still open is asked only when a limit seems
      // reached, and at most every 20 ms: the kernel's table lists thousands
      // of sockets in a flood, and the ORB accepts the next
      // connection only once this one is decided.  A place freed is seen
      // within those 20 ms.
      if ((admitted.size() >= limit || admittedFrom(host) >= perHostLimit) &&
          Clock::now() - lastLook >= std::chrono::milliseconds(20)) {
        lastLook = Clock::now();
        lock.unlock();
        const std::set<Endpoint> open = connectedPeers(me.second);
        lock.lock();
        for (auto it = admitted.begin(); it != admitted.end();)
          it = open.count(*it) ? std::next(it) : admitted.erase(it);
      }
      if (admitted.size() >= limit) {
        info.reject = 1;
        info.why = "too many connections";
      }
      else if (admittedFrom(host) >= perHostLimit) {
        info.reject = 1;
        info.why = "too many connections from one host";
      }
      else {
        admitted.insert(peer);
      }
      return 1;
    }
  }

  void limitIncomingConnections(std::size_t maximum, std::size_t perHost)
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (limit == 0)
      omniORB::getInterceptors()->serverAcceptConnection.add(admit);
    limit = maximum;
    perHostLimit = perHost;
  }
}
