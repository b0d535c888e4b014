#ifndef REPLYHOLD_H
#define REPLYHOLD_H

#include <memory>

// Keeps what a reply's octets point into alive until the ORB has sent the
// reply.  A servant makes one on the stack around the ORB's dispatch of a
// remote call: the reply is marshalled inside that dispatch, after the
// operation returned, and the hold lets go as soon as the dispatch is over,
// so an idle thread keeps nothing.
class ReplyHold
{
public:
  ReplyHold();
  ~ReplyHold();
  ReplyHold(const ReplyHold&) = delete;
  ReplyHold& operator=(const ReplyHold&) = delete;

  // Keeps `owner` for the remote call dispatched on this thread and returns
  // true; false when this thread dispatches none (a collocated call, whose
  // caller reads the reply after the operation returned: it must own its
  // octets).  One owner per dispatch: a second call returns false.
  static bool keepForReply(std::shared_ptr<const void> owner);

private:
  std::shared_ptr<const void> kept_;
  ReplyHold* outer_;
  bool taken_ = false;
};

#endif // REPLYHOLD_H
