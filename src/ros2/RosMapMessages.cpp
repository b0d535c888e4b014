#include "ros2/RosMapMessages.h"

#include <chrono>
#include <cmath>

namespace
{
  ros2::RosTime rosTimeOf(std::chrono::system_clock::time_point when)
  {
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    return {static_cast<std::int32_t>(since / 1000000000), static_cast<std::uint32_t>(since % 1000000000)};
  }

  const mapio::MapDescription& descriptionOf(const GridMapSnapshot& map)
  {
    static const mapio::MapDescription unset;
    return map.description ? *map.description : unset;
  }
}

namespace ros2
{
  OccupancyGridMessage occupancyGridOf(const GridMapSnapshot& map, RosCells::Layout layout)
  {
    const mapio::MapDescription& description = descriptionOf(map);
    OccupancyGridMessage message;
    message.stamp = rosTimeOf(map.storedAt);
    message.frame = description.frame;
    message.loadTime = message.stamp;
    message.resolution = static_cast<float>(description.resolution);
    message.width = static_cast<std::uint32_t>(map.mapWidth);
    message.height = static_cast<std::uint32_t>(map.mapHeight);
    message.position = {description.origin[0], description.origin[1], 0};
    const double yaw = description.origin[2];
    message.orientation = {0, 0, std::sin(yaw / 2), std::cos(yaw / 2)};
    message.cells = RosCells(layout, description).toRos(map);
    return message;
  }

  OccupancyGridUpdateMessage occupancyGridUpdateOf(const GridMapSnapshot& map, RosCells::Layout layout)
  {
    const mapio::MapDescription& description = descriptionOf(map);
    const RosCells cells(layout, description);
    const CellRectangle& area = map.changed;
    std::string stored(static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height), '\0');
    map.copyRegion(area, stored.data());
    const CellRectangle rosArea = cells.flipped(area, map.mapHeight);
    OccupancyGridUpdateMessage message;
    message.stamp = rosTimeOf(map.storedAt);
    message.frame = description.frame;
    message.x = rosArea.x;
    message.y = rosArea.y;
    message.width = static_cast<std::uint32_t>(rosArea.width);
    message.height = static_cast<std::uint32_t>(rosArea.height);
    message.cells = cells.toRos(stored, area.width, area.height);
    return message;
  }
}
