#ifndef ROS2BRIDGE_H
#define ROS2BRIDGE_H

#include "ros2/DdsParticipant.h"
#include "ros2/Ros2MapPublisher.h"
#include "ros2/Ros2MapSubscriber.h"
#include "ros2/Ros2Settings.h"

#include <memory>

// The map on ROS 2's DDS: one participant, the publisher, and the
// subscriber when one is configured.  Throws std::runtime_error when DDS
// cannot be joined.
class Ros2Bridge
{
public:
  Ros2Bridge(GridMapStore& store, const Ros2Settings& settings);

private:
  DdsParticipant participant_;
  // Declared after the participant: each is gone before it.
  Ros2MapPublisher publisher_;
  std::unique_ptr<Ros2MapSubscriber> subscriber_;
};

#endif // ROS2BRIDGE_H
