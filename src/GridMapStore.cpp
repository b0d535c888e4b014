#include "GridMapStore.h"

#include <utility>

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
  std::unique_ptr<GridMapSnapshot> next = takeSpare();
  if (!next)
    next = std::make_unique<GridMapSnapshot>();
  if (length == 0)
    next->mapBytes.clear();
  else
    next->mapBytes.assign(static_cast<const char*>(octets), length);
  next->mapWidth = width;
  next->mapHeight = height;

  Snapshot published = publishable(std::move(next));
  Snapshot retired;
  {
    std::lock_guard<std::mutex> lock(currentMutex_);
    retired = std::exchange(current_, std::move(published));
    if (observer_)
      observer_(current_);
  }
  // 'retired' is released here, outside the lock; if no reader holds it, it
  // becomes the spare at once.
}

void GridMapStore::setObserver(Observer observer)
{
  std::lock_guard<std::mutex> lock(currentMutex_);
  observer_ = std::move(observer);
}

std::unique_ptr<GridMapSnapshot> GridMapStore::takeSpare()
{
  std::lock_guard<std::mutex> lock(spare_->mutex);
  return std::move(spare_->snapshot);
}

GridMapStore::Snapshot
GridMapStore::publishable(std::unique_ptr<GridMapSnapshot> snapshot) const
{
  std::shared_ptr<SpareSlot> slot = spare_;
  return Snapshot(snapshot.release(), [slot](const GridMapSnapshot* retired) {
    std::unique_ptr<GridMapSnapshot> owned(const_cast<GridMapSnapshot*>(retired));
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (!slot->snapshot)
      slot->snapshot = std::move(owned);
  });
}
