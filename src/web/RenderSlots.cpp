#include "web/RenderSlots.h"

RenderSlots::Slot::~Slot()
{
  if (owner_) {
    {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      ++owner_->free_;
    }
    owner_->freed_.notify_one();
  }
}

std::optional<RenderSlots::Slot> RenderSlots::tryTake(std::chrono::milliseconds patience)
{
  std::unique_lock<std::mutex> lock(mutex_);
  if (!freed_.wait_for(lock, patience, [this] { return free_ > 0; }))
    return std::nullopt;
  --free_;
  return std::optional<Slot>(std::in_place, *this);
}
