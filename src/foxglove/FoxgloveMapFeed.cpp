#include "foxglove/FoxgloveMapFeed.h"

#include "ros2/RosMapCdr.h"
#include "ros2/RosMapMessages.h"

#include <rtm/util/Logger.h>

#include <chrono>

FoxgloveMapFeed::FoxgloveMapFeed(GridMapStore& store, RosCells::Layout layout, Deliver deliver)
  : store_(store), layout_(layout), deliver_(std::move(deliver))
{
  thread_ = std::thread([this] { run(); });
  observing_ = store_.addObserver([this](const GridMapStore::Snapshot& snapshot) { offer(snapshot); });
  offer(store_.current());
}

FoxgloveMapFeed::~FoxgloveMapFeed()
{
  store_.removeObserver(observing_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void FoxgloveMapFeed::setWatched(bool watched)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    watched_ = watched;
    if (!watched) {
      encodedVersion_ = 0;
      encodedDescription_.reset();
    }
  }
  wake_.notify_one();
}

void FoxgloveMapFeed::offer(const GridMapStore::Snapshot& snapshot)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The first offer, of the map current at start, may come after a newer one.
    if (!latest_ || snapshot->version > latest_->version)
      latest_ = snapshot;
  }
  wake_.notify_one();
}

void FoxgloveMapFeed::run()
{
  for (;;) {
    GridMapStore::Snapshot map;
    bool isUpdate = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] {
        return stopping_ || (watched_ && latest_ && latest_->version != 0 && latest_->version != encodedVersion_);
      });
      if (stopping_)
        return;
      map = latest_;
      isUpdate = map->regionWrite && !map->descriptionOnly && encodedVersion_ != 0 &&
                 map->previousVersion == encodedVersion_ && map->description == encodedDescription_;
    }
    VersionPtr version;
    try {
      version = encoded(*map, isUpdate);
    }
    catch (const std::exception& error) {
      // Out of memory, mostly: the next version is tried afresh.
      RTC::logger().warn("warning: map version " + std::to_string(map->version) + " not encoded for Foxglove (" +
                         error.what() + ")");
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      encodedVersion_ = map->version;
      encodedDescription_ = version ? map->description : nullptr;
    }
    if (version)
      deliver_(version);
  }
}

FoxgloveMapFeed::VersionPtr FoxgloveMapFeed::encoded(const GridMapSnapshot& map, bool isUpdate) const
{
  if (!map.rectangular() || map.mapWidth <= 0 || map.mapHeight <= 0) {
    RTC::logger().warn("warning: map version " + std::to_string(map.version) +
                       " is not width x height cells; not sent to Foxglove viewers");
    return nullptr;
  }
  auto version = std::make_shared<Version>();
  version->version = map.version;
  version->storedAtNs = static_cast<std::uint64_t>(
    std::chrono::duration_cast<std::chrono::nanoseconds>(map.storedAt.time_since_epoch()).count());
  version->map = std::make_shared<const std::string>(ros2::encode(ros2::occupancyGridOf(map, layout_)));
  if (isUpdate)
    version->update = std::make_shared<const std::string>(ros2::encode(ros2::occupancyGridUpdateOf(map, layout_)));
  return version;
}
