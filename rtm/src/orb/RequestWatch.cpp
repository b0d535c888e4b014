#include "rtm/orb/RequestWatch.h"

#include "rtm/util/Logger.h"
#include "rtm/orb/ConnectionSocket.h"
#include "rtm/orb/OrbAddress.h"
#include "rtm/orb/ReadAhead.h"
#include "rtm/orb/SocketProgress.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/GIOP_S.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <fcntl.h>
#include <unistd.h>
#include <map>
#include <vector>

namespace RTC
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    struct Watched
    {
      const omni::GIOP_S* request = nullptr;
      int fd = -1;                  // a descriptor of the watch's own: the ORB may close its one any time
      std::string peer;
      std::uint64_t declared = 0;   // octets booked: still to come at the header, or arrived of fragments
      bool fragmented = false;      // sent in fragments: no whole size is declared up front
      std::uint64_t start = 0;      // the socket's received count where the request's unread octets began
      std::uint64_t whole = 0;      // the socket's received count once they all came (fragments: never)
      bool arrived = false;         // unmarshalled whole: the servant's time is not the peer's
      std::deque<std::pair<Clock::time_point, std::uint64_t>> samples;  // received counts, oldest first
    };

    struct WatchState
    {
      std::mutex mutex;  // guards the five below
      bool installed = false;
      bool active = false;
      RequestLimits limits;
      std::uint64_t inFlight = 0;         // sum of `declared` below
      std::map<unsigned long, Watched> watched;  // by socket inode
    };
    // The ORB's threads call the interceptors, and the watch's thread may
    // still look, while exit handlers run: the state is never destroyed.
    WatchState& state = *new WatchState;
    // The request this thread is dispatching, while it is watched: the ORB
    // unmarshals a request and calls its servant on the thread that read
    // its header.
    thread_local const omni::GIOP_S* dispatching = nullptr;
    std::mutex& mutex = state.mutex;
    bool& installed = state.installed;
    bool& active = state.active;
    RequestLimits& limits = state.limits;
    std::uint64_t& inFlight = state.inFlight;
    std::map<unsigned long, Watched>& watched = state.watched;

    void forget(std::map<unsigned long, Watched>::iterator it)
    {
      inFlight -= it->second.declared;
      close(it->second.fd);
      watched.erase(it);
    }

    constexpr CORBA::ULong unbounded = 0x7fffffff;

    // Octets of the request not unmarshalled yet, as the stream bounds them.
    // For a request sent in fragments the stream knows only the current
    // fragment's size, and bounds the rest by the message size limit.
    std::uint64_t octetsLeft(omni::GIOP_S& request)
    {
      cdrStream& stream = request;
      CORBA::ULong low = 0, high = unbounded;
      while (low < high) {
        const CORBA::ULong middle = low + (high - low + 1) / 2;
        if (stream.checkInputOverrun(1, middle))
          low = middle;
        else
          high = middle - 1;
      }
      return low;
    }

    // True when `left` is the message size limit's bound, not a size the
    // request declared: more fragments are to come.
    bool inFragments(omni::GIOP_S& request, std::uint64_t left)
    {
      const std::uint64_t limit = omniORB::giopMaxMsgSize();
      return left == unbounded || left + request.currentInputPtr() >= limit;
    }

    std::string refusal(const std::string& what, const std::string& peer, std::uint64_t used, std::uint64_t budget)
    {
      return "refused " + what + " from " + peer + ": busy: in-flight budget (with the " + std::to_string(used) +
             " octets already arriving it would exceed corba.memory.in_flight, " + std::to_string(budget) + ")";
    }

    CORBA::Boolean onRequest(omni::omniInterceptors::serverReceiveRequest_T::info_T& info)
    {
      dispatching = nullptr;
      const std::uint64_t bound = octetsLeft(info.giop_s);
      const bool fragmented = inFragments(info.giop_s, bound);
      if (!fragmented && bound <= readAhead)
        return 1;
      const Endpoint peer = endpointOf(info.peeraddress());
      // The connection's own descriptor, as this thread serves it, copied:
      // the ORB may close its one while the watch still looks.
      const int own = connectionDescriptor(info.giop_s.strand());
      const int fd = own >= 0 ? fcntl(own, F_DUPFD_CLOEXEC, 0) : -1;
      const std::optional<SocketProgress> progress = fd >= 0 ? progressOf(fd) : std::nullopt;
      if (!progress) {
        if (fd >= 0)
          close(fd);
        return 1;
      }
      std::unique_lock<std::mutex> lock(mutex);
      // A new request on a connection ends the one watched on it before.
      if (auto it = watched.find(progress->inode); it != watched.end())
        forget(it);
      if (!active) {
        close(fd);
        return 1;
      }
      // The ORB would answer a refused request only after reading its whole
      // body: resetting the connection refuses it at once, and the ORB's
      // next read of the body fails before any servant is called (an
      // exception thrown from here would leak the ORB's request object).
      // Fragments are booked as they arrive (see checkRequests), starting
      // with what the ORB may have read ahead.
      const std::uint64_t left = fragmented ? readAhead : bound;
      if (inFlight + left > limits.inFlight) {
        const std::uint64_t used = inFlight, budget = limits.inFlight;
        lock.unlock();
        abortConnection(fd);
        close(fd);
        logger().warn(refusal(fragmented ? "a request in fragments" : "a request of " + std::to_string(left) + " octets",
                              peer.first, used, budget));
        return 1;
      }
      inFlight += left;
      Watched& w = watched[progress->inode];
      w.request = &info.giop_s;
      w.fd = fd;
      w.peer = peer.first;
      w.declared = left;
      w.fragmented = fragmented;
      w.start = progress->received - progress->unread;
      w.whole = fragmented ? UINT64_MAX : w.start + left - readAhead;
      w.samples = {{Clock::now(), progress->received}};
      dispatching = &info.giop_s;
      return 1;
    }

    // A request answered has arrived whole, whatever its octets said (a
    // compressed one is smaller on the wire than it declares).
    void answered(const omni::GIOP_S& request)
    {
      dispatching = nullptr;
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = watched.begin(); it != watched.end();) {
        const auto next = std::next(it);
        if (it->second.request == &request)
          forget(it);
        it = next;
      }
    }

    CORBA::Boolean onReply(omni::omniInterceptors::serverSendReply_T::info_T& info)
    {
      answered(info.giop_s);
      return 1;
    }

    CORBA::Boolean onException(omni::omniInterceptors::serverSendException_T::info_T& info)
    {
      answered(info.giop_s);
      return 1;
    }

    // One look at every watched request; returns the warnings to log.
    std::vector<std::string> checkRequests()
    {
      std::vector<std::string> warnings;
      const Clock::time_point now = Clock::now();
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = watched.begin(); it != watched.end();) {
        const auto next = std::next(it);
        Watched& w = it->second;
        const std::optional<SocketProgress> progress = progressOf(w.fd);
        if (!progress || !progress->established || progress->received >= w.whole) {
          forget(it);  // closed at either end, or arrived whole
          it = next;
          continue;
        }
        if (w.arrived) {
          it = next;  // booked until answered, as the ORB holds its octets
          continue;
        }
        if (w.fragmented) {
          // What has arrived of it, and what the ORB may hold ahead of that.
          const std::uint64_t booked = progress->received - w.start + readAhead;
          if (booked > w.declared && inFlight - w.declared + booked > limits.inFlight) {
            abortConnection(w.fd);
            warnings.push_back(refusal("a request in fragments after " + std::to_string(booked - readAhead) +
                                       " octets", w.peer, inFlight - w.declared, limits.inFlight));
            forget(it);
            it = next;
            continue;
          }
          inFlight += booked > w.declared ? booked - w.declared : 0;
          w.declared = std::max(w.declared, booked);
        }
        w.samples.emplace_back(now, progress->received);
        while (w.samples.size() > 2 && now - w.samples[1].first >= limits.grace)
          w.samples.pop_front();
        const auto [since, before] = w.samples.front();
        const double seconds = std::chrono::duration<double>(now - since).count();
        if (now - since >= limits.grace && static_cast<double>(progress->received - before) < limits.minRate * seconds) {
          abortConnection(w.fd);
          warnings.push_back("dropped a request of " + std::to_string(w.declared) + " octets from " + w.peer + ": " +
                             std::to_string(progress->received - before) + " octets arrived in the last " +
                             std::to_string(seconds).substr(0, 4) + " s, below corba.request.min_rate");
          forget(it);
        }
        it = next;
      }
      return warnings;
    }
  }

  void RequestWatch::argumentsArrived()
  {
    if (!dispatching)
      return;
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& [inode, w] : watched)
      if (w.request == dispatching)
        w.arrived = true;
  }

  bool RequestWatch::largeRequestsArriving()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return !watched.empty();
  }

  RequestWatch::RequestWatch(const RequestLimits& requestLimits)
  {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!installed) {
        omniORB::getInterceptors()->serverReceiveRequest.add(onRequest);
        omniORB::getInterceptors()->serverSendReply.add(onReply);
        omniORB::getInterceptors()->serverSendException.add(onException);
      }
      installed = true;
      active = true;
      limits = requestLimits;
    }
    // Often enough that a silent peer goes within a fraction of the window
    // after it; the checks are a few system calls per large request.
    checks_ = std::make_unique<PeriodicTask>(std::chrono::milliseconds(200), [] {
      for (const std::string& warning : checkRequests())
        logger().warn(warning);
    });
  }

  RequestWatch::~RequestWatch()
  {
    checks_.reset();
    std::lock_guard<std::mutex> lock(mutex);
    active = false;
    while (!watched.empty())
      forget(watched.begin());
  }
}
