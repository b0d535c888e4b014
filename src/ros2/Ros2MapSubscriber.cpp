#include "ros2/Ros2MapSubscriber.h"

#include "ros2/RosMapCdr.h"
#include "ros2/Ros2Settings.h"

#include "store/RegionRefused.h"

#include <rtm/util/Logger.h>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace
{
  // The map interface's sizes and coordinates are 16-bit signed.
  constexpr std::int64_t largest = std::numeric_limits<short>::max();

  void checkRectangle(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height, std::size_t cells)
  {
    if (x < 0 || y < 0 || width < 1 || height < 1 || x + width > largest || y + height > largest)
      throw std::invalid_argument("a size or position beyond 1..32767 (" + std::to_string(width) + " x " +
                                  std::to_string(height) + " at " + std::to_string(x) + ", " +
                                  std::to_string(y) + ")");
    if (static_cast<std::uint64_t>(width * height) != cells)
      throw std::invalid_argument(std::to_string(cells) + " cells for " + std::to_string(width) + " x " +
                                  std::to_string(height));
  }

  const mapio::MapDescription& descriptionOf(const GridMapSnapshot& map)
  {
    static const mapio::MapDescription unset;
    return map.description ? *map.description : unset;
  }
}

Ros2MapSubscriber::Ros2MapSubscriber(GridMapStore& store, const DdsParticipant& participant,
                                     const std::string& topic, RosCells::Layout layout)
  : store_(store),
    layout_(layout),
    topic_(topic),
    maps_(participant, ddsTopicOf(topic), ros2::occupancyGridTypeName, CdrTopicKind::Latched),
    updates_(participant, ddsTopicOf(topic + "_updates"), ros2::occupancyGridUpdateTypeName, CdrTopicKind::Stream)
{
  mapThread_ = std::thread([this] { receive(maps_, &Ros2MapSubscriber::storeMap, topic_); });
  updateThread_ = std::thread([this] { receive(updates_, &Ros2MapSubscriber::applyUpdate, topic_ + "_updates"); });
}

Ros2MapSubscriber::~Ros2MapSubscriber()
{
  stopping_ = true;
  maps_.wake();
  updates_.wake();
  mapThread_.join();
  updateThread_.join();
}

void Ros2MapSubscriber::receive(CdrReader& reader, void (Ros2MapSubscriber::*handle)(const std::string&),
                                const std::string& topic)
{
  while (!stopping_) {
    for (const std::string& bytes : reader.take(std::chrono::seconds(1))) {
      try {
        (this->*handle)(bytes);
      }
      catch (const std::exception& error) {
        RTC::logger().warn("warning: ignored a message on ROS 2 topic " + topic + ": " + error.what() +
                           "; the map is as it was");
      }
    }
  }
}

void Ros2MapSubscriber::storeMap(const std::string& bytes)
{
  const ros2::OccupancyGridMessage message = ros2::decodeOccupancyGrid(bytes);
  checkRectangle(0, 0, message.width, message.height, message.cells.size());
  const auto& q = message.orientation;
  bool finite = std::isfinite(message.resolution);
  for (double value : message.position)
    finite = finite && std::isfinite(value);
  for (double value : q)
    finite = finite && std::isfinite(value);
  if (!finite)
    throw std::invalid_argument("a resolution, position or orientation that is not finite");
  // The mode, negate and thresholds say how this map's cells read; the
  // message brings where it lies.
  mapio::MapDescription description = descriptionOf(*store_.current());
  description.resolution = message.resolution;
  description.origin = {message.position[0], message.position[1],
                        std::atan2(2 * (q[3] * q[2] + q[0] * q[1]), 1 - 2 * (q[1] * q[1] + q[2] * q[2]))};
  description.frame = message.frame;
  if (const std::string problem = mapio::problemWith(description); !problem.empty())
    throw std::invalid_argument(problem);
  const int width = static_cast<int>(message.width);
  const int height = static_cast<int>(message.height);
  const std::string cells = RosCells(layout_, description).fromRos(message.cells, width, height);
  store_.replace(cells.data(), cells.size(), static_cast<short>(width), static_cast<short>(height),
                 std::make_shared<const mapio::MapDescription>(description));
}

void Ros2MapSubscriber::applyUpdate(const std::string& bytes)
{
  const ros2::OccupancyGridUpdateMessage message = ros2::decodeOccupancyGridUpdate(bytes);
  checkRectangle(message.x, message.y, message.width, message.height, message.cells.size());
  const GridMapStore::Snapshot map = store_.current();
  const RosCells cells(layout_, descriptionOf(*map));
  const CellRectangle rosArea{message.x, message.y, static_cast<int>(message.width),
                              static_cast<int>(message.height)};
  const std::string stored = cells.fromRos(message.cells, rosArea.width, rosArea.height);
  // Only onto the map the region was placed in: a map stored meanwhile
  // turns the rows differently.
  store_.writeRegion(cells.flipped(rosArea, map->mapHeight), stored.data(), stored.size(), map->version);
}
