#ifndef RTM_REPLYWATCH_H
#define RTM_REPLYWATCH_H

#include "rtm/util/PeriodicTask.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class omniCallHandle;

namespace RTC
{
  struct ReplyLimits
  {
    double minRate = 0;                  // octets per second a reply must be read at
    std::chrono::milliseconds grace{0};  // the window over which that rate is measured
    std::uint64_t budget = 0;            // octets held for replies still being sent, each owner once
  };

  // Holds replies that are sent from octets a servant keeps for them (a
  // map snapshot, a copy made for the reply) to the limits above.  A client
  // that stops reading would otherwise pin those octets until the
  // whole-request timeout.  Over TCP the peer must acknowledge the reply's
  // octets at the minimum rate over every stretch of `grace`, not counting
  // up to one more grace while the link recovers from loss (a retransmission
  // back-off is not the reader's doing); over the local socket, which counts
  // no octets, the peer must read something within every `grace`, and a
  // reply of N octets must be sent within grace + N / minRate.  A reply
  // below that has its connection closed with a warning naming the peer.
  //
  // The budget counts what replies keep alive only for themselves, asked
  // of each owner whenever a reply is booked: a reply from the map being
  // served costs nothing, and one from a version a newer one replaced costs
  // what that version no longer shares.  A reply whose owner would take
  // that over the budget is refused at once: TRANSIENT (minor
  // `replyBudgetBusy`) while other replies hold the room, NO_RESOURCES
  // (minor `replyOverBudget`) when it could never fit.  Install after ORB_init; one at a time.
  class ReplyWatch
  {
  public:
    explicit ReplyWatch(const ReplyLimits& limits);
    ~ReplyWatch();
    ReplyWatch(const ReplyWatch&) = delete;
    ReplyWatch& operator=(const ReplyWatch&) = delete;

    // One reply being sent; lets go of its booking when destroyed.
    class Reply
    {
    public:
      explicit Reply(std::uint64_t id) : id_(id) {}
      ~Reply();
      Reply(const Reply&) = delete;
      Reply& operator=(const Reply&) = delete;

    private:
      const std::uint64_t id_;
    };

    // Blocks of memory by address, with their sizes in octets.
    using Blocks = std::map<const void*, std::uint64_t>;
    // Adds the blocks an owner keeps alive only for the replies sent from
    // it, as of now; owners that share a block count it once.  Called under
    // the watch's lock: cheap, and never calling back.
    using PinnedBlocks = std::function<void(Blocks&)>;

    // Books a reply of `bytes` octets from `owner`, which pins the blocks
    // `pinned` adds, on the remote call `handle` dispatches; keep the result
    // until the dispatch is over.  Nothing when no watch is installed, or
    // for a reply of no more than readAhead octets.
    // Throws as said above when the budget has no room for it.
    static std::unique_ptr<Reply> watch(omniCallHandle& handle, const void* owner, PinnedBlocks pinned,
                                        std::uint64_t bytes);
    // Whether a watched reply is being sent now.
    static bool largeRepliesSending();

  private:
    std::unique_ptr<PeriodicTask> checks_;
  };
}

#endif // RTM_REPLYWATCH_H
