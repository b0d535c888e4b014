#include "rtm/orb/ConnectionLimit.h"

#include "rtm/orb/OrbAddress.h"
#include "rtm/orb/ConnectionSocket.h"
#include "rtm/orb/SocketTable.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>

namespace RTC
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    struct Admitted
    {
      bool local = false;  // over the local socket
      std::string host;    // hostKey of a network peer
    };

    std::mutex mutex;                // guards the three below
    ConnectionLimits limits;
    std::map<unsigned long, Admitted> admitted;  // by socket inode: let in, maybe still open
    Clock::time_point lastLook;      // when it was last asked which of them are

    // The connection's socket: its inode names the connection, whatever the
    // transport and end point.
    std::optional<unsigned long> socketInode(omni::giopStrand& strand)
    {
      const int fd = connectionDescriptor(strand);
      struct stat status{};
      if (fd < 0 || fstat(fd, &status) != 0)
        return std::nullopt;
      return static_cast<unsigned long>(status.st_ino);
    }

    std::size_t count(bool local, const std::string* host = nullptr)
    {
      return static_cast<std::size_t>(std::count_if(admitted.begin(), admitted.end(), [&](const auto& entry) {
        return entry.second.local == local && (!host || entry.second.host == *host);
      }));
    }

    // Why a connection of this kind would go beyond a limit, or null.
    const char* overLimit(bool local, const std::string& host)
    {
      if (local)
        return count(true) >= limits.local ? "too many connections over the local socket" : nullptr;
      if (count(false) >= limits.network)
        return "too many connections";
      if (count(false, &host) >= limits.perHost)
        return "too many connections from one host";
      return nullptr;
    }

    // Counts the connections this interceptor let in and that are still
    // open: the ORB may accept a burst of connections before it asks about
    // any of them, so counting every open socket would turn the whole burst
    // away; counting admissions lets exactly the first ones in.
    CORBA::Boolean admit(omni::omniInterceptors::serverAcceptConnection_T::info_T& info)
    {
      const std::optional<unsigned long> inode = socketInode(info.strand);
      if (!inode)
        return 1;
      const bool local = std::string(info.myaddress() ? info.myaddress() : "").rfind("giop:unix:", 0) == 0;
      const std::string host = local ? "" : hostKey(endpointOf(info.peeraddress()).first);
      std::unique_lock<std::mutex> lock(mutex);
      // Which of them are still open is asked only when a limit seems
      // reached, and at most every 20 ms: in a flood the process holds
      // thousands of sockets, and the ORB accepts the next connection only
      // once this one is decided.  A place freed is seen within those 20 ms.
      if (overLimit(local, host) && Clock::now() - lastLook >= std::chrono::milliseconds(20)) {
        lastLook = Clock::now();
        lock.unlock();
        const std::set<unsigned long> open = ownSocketInodes();
        lock.lock();
        for (auto it = admitted.begin(); it != admitted.end();)
          it = open.count(it->first) ? std::next(it) : admitted.erase(it);
      }
      if (const char* why = overLimit(local, host)) {
        info.reject = 1;
        info.why = why;
      }
      else {
        admitted[*inode] = Admitted{local, host};
      }
      return 1;
    }
  }

  void limitIncomingConnections(const ConnectionLimits& connectionLimits)
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (limits.network == 0)
      omniORB::getInterceptors()->serverAcceptConnection.add(admit);
    limits = connectionLimits;
  }
}
