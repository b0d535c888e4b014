#ifndef ROSMAPCDR_H
#define ROSMAPCDR_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The two ROS 2 map messages and their bytes on the wire: the 4-byte
// encapsulation (plain CDR, little endian) and the fields in order, each
// aligned to its size counted from after the encapsulation.  The same bytes
// are what DDS carries and what a "cdr" channel of a ROS 2 viewer expects.
namespace ros2
{
  struct RosTime
  {
    std::int32_t sec = 0;
    std::uint32_t nanosec = 0;
  };

  // nav_msgs/msg/OccupancyGrid.  `cells` are int8 occupancy values, row 0
  // at the origin.
  struct OccupancyGridMessage
  {
    RosTime stamp;
    std::string frame;
    RosTime loadTime;
    float resolution = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::array<double, 3> position{};
    std::array<double, 4> orientation{0, 0, 0, 1};  // x, y, z, w
    std::string cells;
  };

  // map_msgs/msg/OccupancyGridUpdate: the cells of one rectangle.
  struct OccupancyGridUpdateMessage
  {
    RosTime stamp;
    std::string frame;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string cells;
  };

  // The DDS type names ROS 2 gives the two messages.
  extern const char* const occupancyGridTypeName;
  extern const char* const occupancyGridUpdateTypeName;

  std::string encode(const OccupancyGridMessage& message);
  std::string encode(const OccupancyGridUpdateMessage& message);

  // Both throw std::invalid_argument saying what is wrong with bytes that
  // are not such a message: truncated, another encapsulation, a string
  // without its terminating NUL.  They check nothing about the values.
  OccupancyGridMessage decodeOccupancyGrid(std::string_view bytes);
  OccupancyGridUpdateMessage decodeOccupancyGridUpdate(std::string_view bytes);
}

#endif // ROSMAPCDR_H
