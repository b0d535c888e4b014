#include "store/MapCrc.h"

#include "mapio/Checksum.h"

#include <vector>

MapCrc::MapCrc(Buffer whole)
  : whole_(std::move(whole))
{
}

MapCrc::MapCrc(const std::shared_ptr<const MapCrc>& base, std::uint32_t change)
  : change_(change)
{
  // The usual case: the base is known, and so is this one at once.
  if (base->known_.load(std::memory_order_acquire)) {
    value_ = base->value() ^ change;
    known_.store(true, std::memory_order_release);
  }
  else {
    base_ = base;
  }
}

std::uint32_t MapCrc::value() const
{
  if (known_.load(std::memory_order_acquire))
    return value_;
  // Walks back to the first known CRC or buffer, then forward again; a
  // loop, since a chain made while a whole map's CRC was pending can be long.
  std::vector<const MapCrc*> pending;
  std::vector<std::shared_ptr<const MapCrc>> held;  // a link resolved meanwhile lets its base go
  std::uint32_t running = 0;
  for (const MapCrc* link = this;;) {
    std::lock_guard<std::mutex> lock(link->mutex_);
    if (link->known_.load(std::memory_order_acquire)) {
      running = link->value_;
      break;
    }
    if (link->whole_) {
      running = mapio::crc32Of(link->whole_->data(), link->whole_->size());
      link->value_ = running;
      link->whole_.reset();
      link->known_.store(true, std::memory_order_release);
      break;
    }
    pending.push_back(link);
    held.push_back(link->base_);
    link = held.back().get();
  }
  for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
    (*it)->resolveFrom(running);
    running = (*it)->value_;
  }
  return value_;
}

void MapCrc::resolveFrom(std::uint32_t baseValue) const
{
  std::shared_ptr<const MapCrc> released;  // may free older links: outside the lock
  std::lock_guard<std::mutex> lock(mutex_);
  if (known_.load(std::memory_order_acquire))
    return;
  value_ = baseValue ^ change_;
  released = std::move(base_);
  known_.store(true, std::memory_order_release);
}
