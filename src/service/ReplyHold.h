#ifndef REPLYHOLD_H
#define REPLYHOLD_H

#include <rtm/orb/ReplyWatch.h>

#include <cstdint>
#include <memory>

class omniCallHandle;

// Keeps what a reply's octets point into alive until the ORB has sent the
// reply.  A servant makes one on the stack around the ORB's dispatch of a
// remote call: the reply is marshalled inside that dispatch, after the
// operation returned, and the hold lets go as soon as the dispatch is over,
// so an idle thread keeps nothing.
class ReplyHold
{
public:
  explicit ReplyHold(omniCallHandle& handle);
  ~ReplyHold();
  ReplyHold(const ReplyHold&) = delete;
  ReplyHold& operator=(const ReplyHold&) = delete;

  // Keeps `owner`, whose `bytes` octets the reply is sent from and which
  // keeps the blocks `pinned` adds alive for it, for the remote call dispatched on
  // this thread and returns true; false when this thread dispatches none (a
  // collocated call, whose caller reads the reply after the operation
  // returned: it must own its octets).  One owner per dispatch: a second
  // call returns false.  Throws when the octets held for replies have no
  // room for these (see ReplyWatch).
  static bool keepForReply(std::shared_ptr<const void> owner, RTC::ReplyWatch::PinnedBlocks pinned,
                           std::uint64_t bytes);

private:
  omniCallHandle& handle_;
  std::shared_ptr<const void> kept_;
  std::unique_ptr<RTC::ReplyWatch::Reply> watched_;  // let go before the octets it books
  ReplyHold* outer_;
  bool taken_ = false;
};

#endif // REPLYHOLD_H
