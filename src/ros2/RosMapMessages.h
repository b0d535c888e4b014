#ifndef ROSMAPMESSAGES_H
#define ROSMAPMESSAGES_H

#include "ros2/RosCells.h"
#include "ros2/RosMapCdr.h"

#include "store/GridMapSnapshot.h"

// The ROS 2 messages a stored map makes, for every server of them: the
// geometry from its description (origin, yaw, resolution, frame), stamped
// with the time it was stored, the cells in ROS's convention.
namespace ros2
{
  // The whole of `map`, which must be rectangular.
  OccupancyGridMessage occupancyGridOf(const GridMapSnapshot& map, RosCells::Layout layout);
  // The cells `map` changed from the version before it (map.changed).
  OccupancyGridUpdateMessage occupancyGridUpdateOf(const GridMapSnapshot& map, RosCells::Layout layout);
}

#endif // ROSMAPMESSAGES_H
