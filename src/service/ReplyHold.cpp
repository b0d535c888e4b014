#include "service/ReplyHold.h"

#include <utility>

namespace
{
  thread_local ReplyHold* dispatching = nullptr;
}

ReplyHold::ReplyHold()
  : outer_(dispatching)
{
  dispatching = this;
}

ReplyHold::~ReplyHold()
{
  dispatching = outer_;
}

bool ReplyHold::keepForReply(std::shared_ptr<const void> owner)
{
  ReplyHold* hold = dispatching;
  if (!hold || hold->taken_)
    return false;
  hold->kept_ = std::move(owner);
  hold->taken_ = true;
  return true;
}
