#include "ros2/Ros2MapPublisher.h"

#include "ros2/RosMapCdr.h"
#include "ros2/RosMapMessages.h"
#include "ros2/Ros2Settings.h"

#include <rtm/util/Logger.h>

#include <vector>

Ros2MapPublisher::Ros2MapPublisher(GridMapStore& store, const DdsParticipant& participant, const std::string& topic,
                                   RosCells::Layout layout)
  : store_(store),
    layout_(layout),
    topic_(topic),
    maps_(participant, ddsTopicOf(topic), ros2::occupancyGridTypeName, CdrTopicKind::Latched),
    updates_(participant, ddsTopicOf(topic + "_updates"), ros2::occupancyGridUpdateTypeName, CdrTopicKind::Stream)
{
  pending_.reserve(backlog);
  thread_ = std::thread([this] { run(); });
  observing_ = store_.addObserver([this](const GridMapStore::Snapshot& snapshot) { offer(snapshot); });
  offer(store_.current());
}

Ros2MapPublisher::~Ros2MapPublisher()
{
  store_.removeObserver(observing_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void Ros2MapPublisher::offer(const GridMapStore::Snapshot& snapshot)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.size() >= backlog) {
      pending_.clear();
      overflowed_ = true;
    }
    pending_.push_back(snapshot);
  }
  wake_.notify_one();
}

void Ros2MapPublisher::run()
{
  std::vector<GridMapStore::Snapshot> batch;
  batch.reserve(backlog);
  for (;;) {
    bool overflowed = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      if (stopping_)
        return;
      batch.assign(pending_.begin(), pending_.end());
      pending_.clear();
      std::swap(overflowed, overflowed_);
    }
    try {
      bool chained = !overflowed;
      std::uint64_t last = lastSent_;
      for (const GridMapStore::Snapshot& map : batch) {
        chained = chained && map->regionWrite && last != 0 && map->previousVersion == last &&
                  map->description == lastDescription_;
        last = map->version;
      }
      if (chained)
        for (const GridMapStore::Snapshot& map : batch)
          publishUpdate(*map);
      else
        publishWhole(*batch.back());
    }
    catch (const std::exception& error) {
      // Out of memory, mostly: this thread goes on with the next map.
      RTC::logger().warn("warning: map not published on ROS 2 topic " + topic_ + " (" + error.what() +
                         "); the next map goes out whole");
      lastSent_ = 0;
    }
    batch.clear();
  }
}

void Ros2MapPublisher::publishWhole(const GridMapSnapshot& map)
{
  if (map.version == 0)
    return;
  lastSent_ = 0;
  if (!map.rectangular() || map.mapWidth <= 0 || map.mapHeight <= 0) {
    RTC::logger().warn("warning: map version " + std::to_string(map.version) +
                       " is not width x height cells; not published on ROS 2 topic " + topic_);
    return;
  }
  const dds_return_t written = maps_.write(ros2::encode(ros2::occupancyGridOf(map, layout_)));
  if (written != DDS_RETCODE_OK) {
    RTC::logger().warn("warning: map version " + std::to_string(map.version) + " not published on ROS 2 topic " +
                       topic_ + ": " + dds_strretcode(written));
    return;
  }
  lastSent_ = map.version;
  lastDescription_ = map.description;
}

void Ros2MapPublisher::publishUpdate(const GridMapSnapshot& map)
{
  const dds_return_t written = updates_.write(ros2::encode(ros2::occupancyGridUpdateOf(map, layout_)));
  if (written != DDS_RETCODE_OK) {
    // The next change goes out as a whole map, which brings every
    // subscriber level again.
    RTC::logger().warn("warning: update of map version " + std::to_string(map.version) +
                       " not published on ROS 2 topic " + topic_ + "_updates: " + dds_strretcode(written));
    lastSent_ = 0;
    return;
  }
  lastSent_ = map.version;
}
