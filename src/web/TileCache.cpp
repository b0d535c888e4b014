#include "web/TileCache.h"

TileCache::Image TileCache::find(const Key& key)
{
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = entries_.find(key);
  if (found == entries_.end())
    return nullptr;
  order_.splice(order_.begin(), order_, found->second.place);
  return found->second.image;
}

void TileCache::store(const Key& key, Image image)
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (key.version < version_ || image->size() > budget_ || entries_.count(key))
    return;
  if (key.version > version_) {
    entries_.clear();
    order_.clear();
    bytes_ = 0;
    version_ = key.version;
  }
  bytes_ += image->size();
  order_.push_front(key);
  entries_.emplace(key, Entry{std::move(image), order_.begin()});
  while (bytes_ > budget_)
    dropOldest();
}

std::size_t TileCache::bytes() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

void TileCache::dropOldest()
{
  const auto oldest = entries_.find(order_.back());
  bytes_ -= oldest->second.image->size();
  entries_.erase(oldest);
  order_.pop_back();
}
