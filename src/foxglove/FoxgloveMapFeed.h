#ifndef FOXGLOVEMAPFEED_H
#define FOXGLOVEMAPFEED_H

#include "ros2/RosCells.h"

#include "store/GridMapStore.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Encodes the store's maps for the viewers, on a thread of its own, so that
// neither the store nor any other reader waits for the encoding of a large
// map.  It encodes only while someone watches, and then each version once,
// the newest when several came meanwhile; every viewer shares the result.
class FoxgloveMapFeed
{
public:
  // One version's payloads, shared by every viewer it goes to.
  struct Version
  {
    std::uint64_t version = 0;
    std::uint64_t storedAtNs = 0;  // when the store published it, ns since the epoch
    std::shared_ptr<const std::string> map;     // nav_msgs/msg/OccupancyGrid, CDR
    std::shared_ptr<const std::string> update;  // map_msgs/msg/OccupancyGridUpdate from the
                                                // version encoded before; null when it is not one
  };
  using VersionPtr = std::shared_ptr<const Version>;
  // Called on the feed's thread with each version encoded; must only hand it on.
  using Deliver = std::function<void(const VersionPtr&)>;

  FoxgloveMapFeed(GridMapStore& store, RosCells::Layout layout, Deliver deliver);
  ~FoxgloveMapFeed();
  FoxgloveMapFeed(const FoxgloveMapFeed&) = delete;
  FoxgloveMapFeed& operator=(const FoxgloveMapFeed&) = delete;

  // Whether any viewer subscribes.  Once nobody does, the next watcher gets
  // the newest version encoded afresh.
  void setWatched(bool watched);

private:
  void offer(const GridMapStore::Snapshot& snapshot);
  void run();
  // `isUpdate`: `map` is a region write on the version encoded last.
  VersionPtr encoded(const GridMapSnapshot& map, bool isUpdate) const;

  GridMapStore& store_;
  RosCells::Layout layout_;
  Deliver deliver_;
  std::mutex mutex_;  // guards the five below
  std::condition_variable wake_;
  GridMapStore::Snapshot latest_;
  bool watched_ = false;
  bool stopping_ = false;
  // The last version encoded and its description, for telling whether the
  // next one is an update of it.
  std::uint64_t encodedVersion_ = 0;
  std::shared_ptr<const mapio::MapDescription> encodedDescription_;
  std::thread thread_;
  GridMapStore::ObserverHandle observing_ = 0;
};

#endif // FOXGLOVEMAPFEED_H
