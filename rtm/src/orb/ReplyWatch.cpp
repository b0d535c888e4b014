#include "rtm/orb/ReplyWatch.h"

#include "rtm/orb/ConnectionSocket.h"
#include "rtm/orb/ReadAhead.h"
#include "rtm/orb/RefusalMinor.h"
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
      Clock::time_point lastLook;      // of the checks, over TCP
      Clock::duration excused{};       // time not counted while the link recovered from loss
      bool dropped = false;
    };

    struct WatchState
    {
      std::mutex mutex;  // guards the members below
      bool active = false;
      ReplyLimits limits;
      struct Owner
      {
        ReplyWatch::PinnedBlocks pinned;
        int replies = 0;
      };
      std::map<const void*, Owner> owners;       // of the replies being sent
      std::map<std::uint64_t, Sending> sending;  // by id
      std::uint64_t nextId = 1;
    };
    // ORB threads may still end replies while exit handlers run.
    WatchState& state = *new WatchState;

    struct Acknowledged
    {
      std::uint64_t octets = 0;
      bool recovering = false;  // retransmitting what the link lost
    };

    // Octets of this socket the peer has acknowledged; nothing for a socket
    // that is no TCP one.
    std::optional<Acknowledged> acknowledged(int fd)
    {
      tcp_info info{};
      socklen_t size = sizeof info;
      if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return std::nullopt;
      // A reader that stops reading closes its window, and the kernel then
      // probes it without retransmitting: that is not counted as loss.
      return Acknowledged{info.tcpi_bytes_acked, info.tcpi_ca_state >= TCP_CA_Recovery || info.tcpi_retransmits > 0};
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
      const std::optional<Acknowledged> ack = acknowledged(reply.fd);
      if (!ack)
        return std::nullopt;
      if (ack->recovering && reply.excused < limits.grace) {
        // The window leaves out the time since the last look, as if the
        // samples in it were taken that much later.
        const Clock::duration pause = now - reply.lastLook;
        reply.excused += pause;
        for (auto& sample : reply.samples)
          sample.first += pause;
      }
      reply.lastLook = now;
      const std::uint64_t acked = ack->octets;
      reply.samples.emplace_back(now, acked);
      while (reply.samples.size() > 2 && now - reply.samples[1].first >= limits.grace)
        reply.samples.pop_front();
      const auto [since, before] = reply.samples.front();
      const double seconds = std::chrono::duration<double>(now - since).count();
      if (now - since < limits.grace || static_cast<double>(acked - before) >= limits.minRate * seconds)
        return std::nullopt;
      return std::to_string(acked - before) + " octets read in the last " + std::to_string(seconds).substr(0, 4) +
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
    ReplyWatch::PinnedBlocks released;  // may hold what it measures: let go unlocked
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto found = state.sending.find(id_);
    if (found == state.sending.end())
      return;
    auto owner = state.owners.find(found->second.owner);
    if (--owner->second.replies == 0) {
      released = std::move(owner->second.pinned);
      state.owners.erase(owner);
    }
    close(found->second.fd);
    state.sending.erase(found);
  }

  namespace
  {
    std::uint64_t octetsIn(const ReplyWatch::Blocks& blocks)
    {
      std::uint64_t octets = 0;
      for (const auto& [address, size] : blocks)
        octets += size;
      return octets;
    }
  }

  std::unique_ptr<ReplyWatch::Reply> ReplyWatch::watch(omniCallHandle& handle, const void* owner, PinnedBlocks pinned,
                                                       std::uint64_t bytes)
  {
    auto* request = dynamic_cast<omni::GIOP_S*>(handle.iop_s());
    if (!request || bytes <= readAhead)
      return nullptr;
    std::unique_lock<std::mutex> lock(state.mutex);
    if (!state.active)
      return nullptr;
    // What the replies being sent pin now: a version they were sent from
    // may have been replaced since they were booked.
    Blocks held;
    for (const auto& [key, entry] : state.owners)
      entry.pinned(held);
    Blocks its;
    if (state.owners.count(owner) == 0)
      pinned(its);
    const std::uint64_t heldOctets = octetsIn(held);
    const std::uint64_t alone = octetsIn(its);
    for (const auto& [address, size] : held)
      its.erase(address);
    const std::uint64_t cost = octetsIn(its);
    const std::uint64_t budget = state.limits.budget;
    if (heldOctets + cost > budget) {
      lock.unlock();
      const std::string what = "refused a reply of " + std::to_string(bytes) + " octets to " + peerOf(*request);
      if (alone > budget) {
        logger().warn(what + ": it would keep " + std::to_string(alone) +
                      " octets alive for itself, more than corba.memory.replies (" + std::to_string(budget) +
                      ") allows; raise it to serve such replies");
        throw CORBA::NO_RESOURCES(refusalMinor::replyOverBudget, CORBA::COMPLETED_NO);
      }
      logger().warn(what + ": busy: reply budget (the " + std::to_string(heldOctets) +
                    " octets held for replies being sent and its own " + std::to_string(cost) +
                    " would exceed corba.memory.replies, " + std::to_string(budget) + ")");
      throw CORBA::TRANSIENT(refusalMinor::replyBudgetBusy, CORBA::COMPLETED_NO);
    }
    const int own = connectionDescriptor(request->strand());
    Sending reply;
    reply.owner = owner;
    reply.bytes = bytes;
    reply.fd = own >= 0 ? fcntl(own, F_DUPFD_CLOEXEC, 0) : -1;
    reply.peer = peerOf(*request);
    const std::optional<Acknowledged> acked = acknowledged(reply.fd);
    reply.tcp = acked.has_value();
    const Clock::time_point now = Clock::now();
    reply.samples = {{now, acked ? acked->octets : 0}};
    reply.lastLook = now;
    reply.deadline = now + state.limits.grace +
                     std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(static_cast<double>(bytes) / state.limits.minRate));
    auto& entry = state.owners[owner];
    if (entry.replies++ == 0)
      entry.pinned = std::move(pinned);
    const std::uint64_t id = state.nextId++;
    state.sending[id] = reply;
    return std::make_unique<Reply>(id);
  }

  bool ReplyWatch::largeRepliesSending()
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    return !state.sending.empty();
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
