#include "service/ReplyHold.h"

#include <utility>

namespace
{
  thread_local ReplyHold* dispatching = nullptr;
}

ReplyHold::ReplyHold(omniCallHandle& handle)
  : handle_(handle),
    outer_(dispatching)
{
  dispatching = this;
}

ReplyHold::~ReplyHold()
{
  dispatching = outer_;
}

bool ReplyHold::keepForReply(std::shared_ptr<const void> owner, RTC::ReplyWatch::PinnedBlocks pinned,
                             std::uint64_t bytes)
{
  ReplyHold* hold = dispatching;
  if (!hold || hold->taken_)
    return false;
  hold->watched_ = RTC::ReplyWatch::watch(hold->handle_, owner.get(), std::move(pinned), bytes);
  hold->kept_ = std::move(owner);
  hold->taken_ = true;
  return true;
}
