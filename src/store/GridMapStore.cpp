#include "store/GridMapStore.h"

#include "store/RegionRefused.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace
{
  // Whether a buffer of `capacity` is worth keeping for maps of `length`.
  bool worthKeeping(std::size_t capacity, std::size_t length)
  {
    return capacity <= 2 * length + (1u << 20);
  }

  void refuseUnlessAt(const GridMapSnapshot& base, std::optional<std::uint64_t> expected)
  {
    if (expected && base.version != *expected)
      throw RegionRefused(RegionRefused::Reason::StaleVersion,
                          "the map is at version " + std::to_string(base.version) + ", not " +
                              std::to_string(*expected),
                          base.version);
  }
}

GridMapStore::GridMapStore()
  : spare_(std::make_shared<SpareSlot>()),
    current_(std::make_shared<GridMapSnapshot>())
{
}

GridMapStore::Snapshot GridMapStore::current() const
{
  std::lock_guard<std::mutex> lock(currentMutex_);
  return current_;
}

std::uint64_t GridMapStore::replace(const void* octets, std::size_t length, short width, short height,
                                    std::shared_ptr<const mapio::MapDescription> description, bool confirmed)
{
  std::unique_ptr<std::string> buffer = bufferFor(length);
  if (length > 0)
    std::memcpy(buffer->data(), octets, length);
  return adopt(std::move(buffer), width, height, std::move(description), confirmed);
}

std::uint64_t GridMapStore::adopt(std::unique_ptr<std::string> octets, short width, short height,
                                  std::shared_ptr<const mapio::MapDescription> description, bool confirmed)
{
  if (description)
    refuseUnfit(*description);
  const std::size_t length = octets->size();
  auto next = std::make_shared<GridMapSnapshot>(returnedToSpare(std::move(octets)), width, height);
  next->description = std::move(description);
  next->descriptionConfirmed = confirmed;

  Snapshot retired;
  std::uint64_t version = 0;
  {
    std::lock_guard<std::mutex> lock(currentMutex_);
    // The description read and the map published under one lock, so that
    // no description written meanwhile is lost.
    if (!next->description) {
      next->description = current_->description;
      next->descriptionConfirmed = current_->descriptionConfirmed && current_->mapWidth == next->mapWidth &&
                                   current_->mapHeight == next->mapHeight;
    }
    retired = publishLocked(next);
    version = next->version;
    std::lock_guard<std::mutex> spareLock(spare_->mutex);
    spare_->currentLength = length;
    spare_->regionWrites = false;
  }
  // 'retired' is released here, outside the lock; if nothing else holds its
  // buffer, the buffer becomes the spare at once.
  return version;
}

std::uint64_t GridMapStore::describe(const mapio::MapDescription& description,
                                     std::optional<std::uint64_t> expected)
{
  refuseUnfit(description);
  auto given = std::make_shared<const mapio::MapDescription>(description);
  for (;;) {
    const Snapshot base = current();
    refuseUnlessAt(*base, expected);
    auto next = std::make_shared<GridMapSnapshot>(*base);  // shares the cells
    next->description = given;
    next->descriptionConfirmed = true;
    next->descriptionOnly = true;
    next->changed = CellRectangle{0, 0, 0, 0};
    Snapshot retired;
    std::shared_ptr<const Durability> durability;
    {
      std::lock_guard<std::mutex> lock(currentMutex_);
      if (current_ != base)
        continue;  // another write came first: describe that one
      if (durability_)
        durability_->admit(current_->version);
      retired = publishLocked(next);
      durability = durability_;
    }
    if (durability)
      durability->await(next->version);
    return next->version;
  }
}

void GridMapStore::refuseUnfit(const mapio::MapDescription& description)
{
  if (const std::string problem = mapio::problemWith(description); !problem.empty())
    throw std::invalid_argument(problem);
}

std::uint64_t GridMapStore::writeRegion(const CellRectangle& area, const void* cells, std::size_t length,
                                        std::optional<std::uint64_t> expected)
{
  // The wait comes after the write lock is let go.
  const auto [version, durability] = publishRegion(area, cells, length, expected);
  if (durability)
    durability->await(version);
  return version;
}

std::pair<std::uint64_t, std::shared_ptr<const GridMapStore::Durability>> GridMapStore::publishRegion(
    const CellRectangle& area, const void* cells, std::size_t length, std::optional<std::uint64_t> expected)
{
  // Lost races before the write lock is taken: enough that a few writers
  // at once rarely need it, few enough that one never spins for long.
  constexpr int racesBeforeLocking = 3;
  std::unique_lock<std::mutex> exclusive(writeMutex_, std::defer_lock);
  // Lets the other writers publish again however this call ends.
  struct ExclusiveEnd
  {
    GridMapStore& store;
    const std::unique_lock<std::mutex>& exclusive;
    ~ExclusiveEnd()
    {
      if (!exclusive.owns_lock())
        return;
      std::lock_guard<std::mutex> lock(store.currentMutex_);
      store.exclusiveWriter_ = false;
    }
  } ending{*this, exclusive};
  for (int races = 0;; ++races) {
    if (races == racesBeforeLocking) {
      exclusive.lock();
      std::lock_guard<std::mutex> lock(currentMutex_);
      exclusiveWriter_ = true;
    }
    const Snapshot base = current();
    refuseUnlessAt(*base, expected);
    base->checkRegion(area);
    const std::size_t count = static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height);
    if (length != count)
      throw RegionRefused(RegionRefused::Reason::CellCountMismatch,
                          std::to_string(length) + " cells sent for a region of " + std::to_string(count),
                          base->version);

    auto next = std::make_shared<GridMapSnapshot>(*base, area, static_cast<const char*>(cells));
    // Another write came first: build again on top of it, so that no
    // write is lost and the expected version is checked against it.
    bool raced = false;
    const std::shared_ptr<const Durability> durability =
        publishedRegion(base, next, exclusive.owns_lock(), raced);
    if (!raced)
      return {next->version, durability};
  }
}

std::shared_ptr<const GridMapStore::Durability> GridMapStore::publishedRegion(
    const Snapshot& base, const std::shared_ptr<GridMapSnapshot>& next, bool exclusive, bool& lost)
{
  std::shared_ptr<const Durability> durability;
  Snapshot retired;
  std::unique_ptr<std::string> unwanted;
  {
    std::lock_guard<std::mutex> lock(currentMutex_);
    // Only a whole-map store can come between the exclusive writer and its map.
    lost = current_ != base || (exclusiveWriter_ && !exclusive);
    if (lost)
      return nullptr;
    if (durability_)
      durability_->admit(current_->version);
    retired = publishLocked(next);
    durability = durability_;
    std::lock_guard<std::mutex> spareLock(spare_->mutex);
    spare_->regionWrites = true;
    unwanted = std::move(spare_->buffer);
  }
  // 'unwanted' and 'retired' are let go here, outside the lock.
  return durability;
}

void GridMapStore::setDurability(std::shared_ptr<const Durability> durability)
{
  std::lock_guard<std::mutex> lock(currentMutex_);
  durability_ = std::move(durability);
}

void GridMapStore::numberAbove(std::uint64_t floor)
{
  std::lock_guard<std::mutex> lock(currentMutex_);
  versionFloor_ = std::max(versionFloor_, floor);
}

std::uint64_t GridMapStore::runFloor() const
{
  std::lock_guard<std::mutex> lock(currentMutex_);
  return versionFloor_;
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

GridMapStore::Snapshot GridMapStore::publishLocked(std::shared_ptr<GridMapSnapshot> next)
{
  // Numbered and stamped under the lock, so versions follow publication order.
  next->previousVersion = current_->version;
  next->version = std::max(current_->version, versionFloor_) + 1;
  next->storedAt = std::chrono::system_clock::now();
  Snapshot retired = std::exchange(current_, std::move(next));
  for (const auto& observer : observers_)
    observer.second(current_);
  return retired;
}

std::unique_ptr<std::string> GridMapStore::bufferFor(std::size_t length)
{
  std::unique_ptr<std::string> buffer;
  {
    std::lock_guard<std::mutex> lock(spare_->mutex);
    buffer = std::move(spare_->buffer);
  }
  if (buffer && !worthKeeping(buffer->capacity(), length))
    buffer.reset();  // freed here, outside the lock
  if (!buffer)
    buffer = std::make_unique<std::string>();
  buffer->resize(length);
  return buffer;
}

GridMapSnapshot::Buffer GridMapStore::returnedToSpare(std::unique_ptr<std::string> buffer) const
{
  std::shared_ptr<SpareSlot> slot = spare_;
  return GridMapSnapshot::Buffer(buffer.release(), [slot](const std::string* retired) {
    std::unique_ptr<std::string> owned(const_cast<std::string*>(retired));
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (!slot->buffer && !slot->regionWrites && worthKeeping(owned->capacity(), slot->currentLength))
      slot->buffer = std::move(owned);
  });
}

GridMapStore& processGridMap()
{
  static GridMapStore gridMap;
  return gridMap;
}
