#ifndef TILECACHE_H
#define TILECACHE_H

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

// Encoded images of one map version, up to a byte budget, least recently
// used dropped first.  Images of an older version are never served: the
// first image stored for a newer version drops them all.
class TileCache
{
public:
  struct Key
  {
    std::uint64_t version;
    int colouring;
    int level;
    int x;
    int y;
    bool operator<(const Key& other) const
    {
      return std::tie(version, colouring, level, x, y) <
             std::tie(other.version, other.colouring, other.level, other.x, other.y);
    }
  };
  using Image = std::shared_ptr<const std::string>;

  explicit TileCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

  Image find(const Key& key);
  void store(const Key& key, Image image);

  std::size_t bytes() const;

private:
  using Order = std::list<Key>;  // most recently used first
  struct Entry
  {
    Image image;
    Order::iterator place;
  };

  void dropOldest();

  const std::size_t budget_;
  mutable std::mutex mutex_;  // guards everything below
  std::map<Key, Entry> entries_;
  Order order_;
  std::size_t bytes_ = 0;
  std::uint64_t version_ = 0;
};

#endif // TILECACHE_H
