#include "RenderSlots.h"

RenderSlots::Slot::~Slot()
{
  if (owner_) {
    std::lock_guard<std::mutex> lock(owner_->mutex_);
    ++owner_->free_;
  }
}

std::optional<RenderSlots::Slot> RenderSlots::tryTake()
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (free_ == 0)
    return std::nullopt;
  --free_;
  return std::optional<Slot>(std::in_place, *this);
}
