#include "rtm/orb/ReplyWatch.h"

#include "rtm/orb/ConnectionSocket.h"
#include "rtm/orb/SocketProgress.h"
#include "rtm/util/Logger.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/callHandle.h>
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/GIOP_S.h>

#include <deque>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <map>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace RTC
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    struct Sending
    {
      const void* owner = nullptr;
      std::uint64_t bytes = 0;
      int fd = -1;  // a descriptor of the watch's own, closed when the reply is over
      std::string peer;
      bool tcp = false;            // the peer's acknowledgements count its progress
      Clock::time_point deadline;  // the whole reply's, over the local socket
      int queued = -1;             // octets the local peer has not read, when last seen
      Clock::time_point queuedSince;  // since when that has not changed
      std::deque<std::pair<Clock::time_point, std::uint64_t>> samples;  // octets acknowledged, oldest first
      bool dropped = false;
    };

    struct WatchState
    {
      std::mutex mutex;  // guards the members below
      bool active = false;
      ReplyLimits limits;
      std::map<const void*, std::pair<std::uint64_t, int>> owners;  // octets, replies holding them
      std::uint64_t held = 0;                                        // sum of the octets above
      std::map<std::uint64_t, Sending> sending;                      // by id
      std::uint64_t nextId = 1;
    };
    // ORB threads may still end replies while exit handlers run.
    WatchState& state = *new WatchState;

    // Octets of this socket the peer has acknowledged; nothing for a socket
    // that is no TCP one.
    std::optional<std::uint64_t> acknowledged(int fd)
    {
      tcp_info info{};
      socklen_t size = sizeof info;
      if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return std::nullopt;
      return info.tcpi_bytes_acked;
    }

    // Why the reply must be dropped now, or nothing.
    std::optional<std::string> tooSlow(Sending& reply, const ReplyLimits& limits, Clock::time_point now)
    {
      if (!reply.tcp) {
        // The local socket counts no octets read, but what is queued for
        // the peer changes whenever it reads: unchanged for the whole grace
        // period, it read nothing.
        int queued = 0;
        if (ioctl(reply.fd, SIOCOUTQ, &queued) != 0)
          return std::nullopt;
        if (queued != reply.queued) {
          reply.queued = queued;
          reply.queuedSince = now;
        }
        if (queued > 0 && now - reply.queuedSince >= limits.grace)
          return std::string("nothing read for corba.reply.grace");
        return now >= reply.deadline ? std::optional<std::string>("not read within corba.reply.grace and "
                                                                  "its size at corba.reply.min_rate")
                                     : std::nullopt;
      }
      const std::optional<std::uint64_t> acked = acknowledged(reply.fd);
      if (!acked)
        return std::nullopt;
      reply.samples.emplace_back(now, *acked);
      while (reply.samples.size() > 2 && now - reply.samples[1].first >= limits.grace)
        reply.samples.pop_front();
      const auto [since, before] = reply.samples.front();
      const double seconds = std::chrono::duration<double>(now - since).count();
      if (now - since < limits.grace || static_cast<double>(*acked - before) >= limits.minRate * seconds)
        return std::nullopt;
      return std::to_string(*acked - before) + " octets read in the last " + std::to_string(seconds).substr(0, 4) +
             " s, below corba.reply.min_rate";
    }

    const char* peerOf(omni::GIOP_S& request)
    {
      const char* address = request.strand().connection->peeraddress();
      return address ? address : "a peer";
    }
  }

  ReplyWatch::Reply::~Reply()
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto found = state.sending.find(id_);
    if (found == state.sending.end())
      return;
    auto owner = state.owners.find(found->second.owner);
    if (--owner->second.second == 0) {
      state.held -= owner->second.first;
      state.owners.erase(owner);
    }
    close(found->second.fd);
    state.sending.erase(found);
  }

  std::unique_ptr<ReplyWatch::Reply> ReplyWatch::watch(omniCallHandle& handle, const void* owner, std::uint64_t bytes)
  {
    auto* request = dynamic_cast<omni::GIOP_S*>(handle.iop_s());
    if (!request)
      return nullptr;
    std::unique_lock<std::mutex> lock(state.mutex);
    if (!state.active)
      return nullptr;
    const bool pinned = state.owners.count(owner) != 0;
    if (!pinned && state.held + bytes > state.limits.budget) {
      const std::uint64_t held = state.held, budget = state.limits.budget;
      lock.unlock();
      logger().warn("refused a reply of " + std::to_string(bytes) + " octets to " + peerOf(*request) +
                    ": busy: reply budget (the " + std::to_string(held) + " octets held for replies being sent"
                    " would exceed corba.memory.replies, " + std::to_string(budget) + ")");
      throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
    }
    const int own = connectionDescriptor(request->strand());
    Sending reply;
    reply.owner = owner;
    reply.bytes = bytes;
    reply.fd = own >= 0 ? fcntl(own, F_DUPFD_CLOEXEC, 0) : -1;
    reply.peer = peerOf(*request);
    const std::optional<std::uint64_t> acked = acknowledged(reply.fd);
    reply.tcp = acked.has_value();
    reply.samples = {{Clock::now(), acked.value_or(0)}};
    reply.deadline = Clock::now() + state.limits.grace +
                     std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(static_cast<double>(bytes) / state.limits.minRate));
    auto& entry = state.owners[owner];
    if (entry.second++ == 0) {
      entry.first = bytes;
      state.held += bytes;
    }
    const std::uint64_t id = state.nextId++;
    state.sending[id] = reply;
    return std::make_unique<Reply>(id);
  }

  namespace
  {
    // One look at every reply being sent; returns the warnings to log.
    std::vector<std::string> checkReplies()
    {
      std::vector<std::string> warnings;
      std::lock_guard<std::mutex> lock(state.mutex);
      const Clock::time_point now = Clock::now();
      for (auto& [id, reply] : state.sending) {
        if (reply.dropped || reply.fd < 0)
          continue;
        const std::optional<std::string> why = tooSlow(reply, state.limits, now);
        if (!why)
          continue;
        // The ORB's send fails from now on, and the dispatch lets go of the
        // octets.  A reset frees a TCP peer's buffers at once; a local
        // socket has no reset, but is shut down alike.
        abortConnection(reply.fd);
        shutdown(reply.fd, SHUT_RDWR);
        reply.dropped = true;
        warnings.push_back("dropped a reply of " + std::to_string(reply.bytes) + " octets to " + reply.peer + ": " +
                           *why);
      }
      return warnings;
    }
  }

  ReplyWatch::ReplyWatch(const ReplyLimits& limits)
  {
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      state.active = true;
      state.limits = limits;
    }
    // As often as the requests are looked at: a reader that stopped goes
    // within a fraction of the grace period after it.
    checks_ = std::make_unique<PeriodicTask>(std::chrono::milliseconds(200), [] {
      for (const std::string& warning : checkReplies())
        logger().warn(warning);
    });
  }

  ReplyWatch::~ReplyWatch()
  {
    checks_.reset();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.active = false;
  }
}
