#include "GridMapStore.h"

#include <utility>

namespace
{
  // Whether a buffer of `capacity` is worth keeping for maps of `length`.
  bool worthKeeping(std::size_t capacity, std::size_t length)
  {
    return capacity <= 2 * length + (1u << 20);
  }
}

GridMapStore::GridMapStore()
  : spare_(std::make_shared<SpareSlot>()),
    current_(publishable(std::make_unique<GridMapSnapshot>()))
{
}

GridMapStore::Snapshot GridMapStore::current() const
{
  std::lock_guard<std::mutex> lock(currentMutex_);
  return current_;
}

void GridMapStore::replace(const void* octets, std::size_t length,
                           short width, short height)
{
  std::unique_ptr<GridMapSnapshot> next = takeSpare(length);
  if (!next)
    next = std::make_unique<GridMapSnapshot>();
  if (length == 0)
    next->mapBytes.clear();
  else
    next->mapBytes.assign(static_cast<const char*>(octets), length);
  next->mapWidth = width;
  next->mapHeight = height;
  next->changed = CellRectangle{0, 0, width, height};

  Snapshot retired;
  {
    std::lock_guard<std::mutex> lock(currentMutex_);
    // Numbered and stamped under the lock, so versions follow publication order.
    next->version = current_->version + 1;
    next->storedAt = std::chrono::system_clock::now();
    retired = std::exchange(current_, publishable(std::move(next)));
    {
      std::lock_guard<std::mutex> spareLock(spare_->mutex);
      spare_->currentLength = length;
    }
    for (const auto& observer : observers_)
      observer.second(current_);
  }
  // 'retired' is released here, outside the lock; if no reader holds it, it
  // becomes the spare at once.
}

void GridMapStore::continueVersionsFrom(std::uint64_t last)
{
  auto restarted = std::make_unique<GridMapSnapshot>(*current());
  restarted->version = last;
  std::lock_guard<std::mutex> lock(currentMutex_);
  current_ = publishable(std::move(restarted));
}

GridMapStore::ObserverHandle GridMapStore::addObserver(Observer observer)
{
  std::lock_guard<std::mutex> lock(currentMutex_);
  observers_.emplace_back(nextHandle_, std::move(observer));
  return nextHandle_++;
}

void GridMapStore::removeObserver(ObserverHandle handle)
{
  Observer removed;  // destroyed outside the lock
  std::lock_guard<std::mutex> lock(currentMutex_);
  for (auto it = observers_.begin(); it != observers_.end(); ++it)
    if (it->first == handle) {
      removed = std::move(it->second);
      observers_.erase(it);
      return;
    }
}

std::unique_ptr<GridMapSnapshot> GridMapStore::takeSpare(std::size_t length)
{
  std::unique_ptr<GridMapSnapshot> spare;
  {
    std::lock_guard<std::mutex> lock(spare_->mutex);
    spare = std::move(spare_->snapshot);
  }
  if (spare && !worthKeeping(spare->mapBytes.capacity(), length))
    spare.reset();  // freed here, outside the lock
  return spare;
}

GridMapStore::Snapshot
GridMapStore::publishable(std::unique_ptr<GridMapSnapshot> snapshot) const
{
  std::shared_ptr<SpareSlot> slot = spare_;
  return Snapshot(snapshot.release(), [slot](const GridMapSnapshot* retired) {
    std::unique_ptr<GridMapSnapshot> owned(const_cast<GridMapSnapshot*>(retired));
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (!slot->snapshot && worthKeeping(owned->mapBytes.capacity(), slot->currentLength))
      slot->snapshot = std::move(owned);
  });
}
