#ifndef RTM_REPLYWATCH_H
#define RTM_REPLYWATCH_H

#include "rtm/util/PeriodicTask.h"

#include <chrono>
#include <cstdint>
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

  // Holds replies sent from octets a servant keeps (a map snapshot) to the
  // limits above.  A client that stops reading would otherwise pin those
  // octets until the whole-request timeout, and many such clients, each
  // asking after the map changed, one map each.  Over TCP the peer must
  // acknowledge the reply's octets at the minimum rate over every stretch
  // of `grace`; over the local socket, which counts no octets, the peer
  // must read something within every `grace`, and a reply of N octets must
  // be sent within grace + N / minRate.  A reply below that has
  // its connection closed with a warning naming the peer.  A reply whose
  // owner would take the octets held over the budget is refused at once.
  // Install after ORB_init; one at a time.
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

    // Books a reply of `bytes` octets from `owner`'s octets on the remote
    // call `handle` dispatches; keep the result until the dispatch is over.
    // Nothing when no watch is installed.  Throws CORBA::TRANSIENT when the
    // budget has no room for it.
    static std::unique_ptr<Reply> watch(omniCallHandle& handle, const void* owner, std::uint64_t bytes);

  private:
    std::unique_ptr<PeriodicTask> checks_;
  };
}

#endif // RTM_REPLYWATCH_H
