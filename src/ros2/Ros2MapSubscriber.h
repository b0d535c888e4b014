#ifndef ROS2MAPSUBSCRIBER_H
#define ROS2MAPSUBSCRIBER_H

#include "ros2/CdrReader.h"
#include "ros2/RosCells.h"

#include "store/GridMapStore.h"

#include <atomic>
#include <string>
#include <thread>

// Stores the maps ROS 2 publishes on `topic`: each nav_msgs/msg/OccupancyGrid
// becomes one new version, cells and description together, and each
// map_msgs/msg/OccupancyGridUpdate on `<topic>_updates` a region write.  A
// message that does not fit (a wrong cell count, a size beyond 16 bits, a
// geometry that is not finite, a region outside the map) is logged as a
// warning and leaves the map as it was.  Its readers ignore this process's
// own writers, so what it publishes never comes back.
class Ros2MapSubscriber
{
public:
  Ros2MapSubscriber(GridMapStore& store, const DdsParticipant& participant, const std::string& topic,
                    RosCells::Layout layout);
  ~Ros2MapSubscriber();
  Ros2MapSubscriber(const Ros2MapSubscriber&) = delete;
  Ros2MapSubscriber& operator=(const Ros2MapSubscriber&) = delete;

  // Both throw std::invalid_argument saying what is wrong; the store
  // throws what it throws.
  void storeMap(const std::string& bytes);
  void applyUpdate(const std::string& bytes);

private:
  void receive(CdrReader& reader, void (Ros2MapSubscriber::*handle)(const std::string&), const std::string& topic);

  GridMapStore& store_;
  RosCells::Layout layout_;
  std::string topic_;
  CdrReader maps_;
  CdrReader updates_;
  std::atomic<bool> stopping_{false};
  std::thread mapThread_;
  std::thread updateThread_;
};

#endif // ROS2MAPSUBSCRIBER_H
