#ifndef ROS2MAPPUBLISHER_H
#define ROS2MAPPUBLISHER_H

#include "ros2/CdrWriter.h"
#include "ros2/RosCells.h"

#include "store/GridMapStore.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// Publishes each map the store holds as ROS 2 does: a whole map as
// nav_msgs/msg/OccupancyGrid on `topic`, a region write as
// map_msgs/msg/OccupancyGridUpdate on `<topic>_updates`.  It works from a
// thread of its own, so the store and its other readers never wait on DDS.
// Updates go out in order while each follows the version sent before it;
// when versions were skipped, the description changed, or more than
// `backlog` versions wait, the newest map goes out whole instead.
class Ros2MapPublisher
{
public:
  Ros2MapPublisher(GridMapStore& store, const DdsParticipant& participant, const std::string& topic,
                   RosCells::Layout layout);
  ~Ros2MapPublisher();
  Ros2MapPublisher(const Ros2MapPublisher&) = delete;
  Ros2MapPublisher& operator=(const Ros2MapPublisher&) = delete;

  static constexpr std::size_t backlog = 64;

private:
  void offer(const GridMapStore::Snapshot& snapshot);
  void run();
  void publishWhole(const GridMapSnapshot& map);
  void publishUpdate(const GridMapSnapshot& map);

  GridMapStore& store_;
  RosCells::Layout layout_;
  std::string topic_;
  CdrWriter maps_;
  CdrWriter updates_;
  std::mutex mutex_;  // guards pending_, overflowed_ and stopping_
  std::condition_variable wake_;
  // Reserved for `backlog` at the start, so that handing a map on from
  // under the store's lock never allocates.
  std::vector<GridMapStore::Snapshot> pending_;
  bool overflowed_ = false;
  bool stopping_ = false;
  // The last version sent and its description; only the thread uses them.
  std::uint64_t lastSent_ = 0;
  std::shared_ptr<const mapio::MapDescription> lastDescription_;
  std::thread thread_;
  GridMapStore::ObserverHandle observing_ = 0;
};

#endif // ROS2MAPPUBLISHER_H
