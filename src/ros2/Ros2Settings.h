#ifndef ROS2SETTINGS_H
#define ROS2SETTINGS_H

#include "ros2/RosCells.h"

#include <rtm/util/Properties.h>

#include <optional>
#include <string>

// The ROS 2 side's configuration:
//   korvent.ros2.enable          YES to publish the map over DDS (default NO)
//   korvent.ros2.domain          DDS domain, 0..232 (default: ROS_DOMAIN_ID, else 0)
//   korvent.ros2.topic           ROS name the map goes out on (/map); updates on <name>_updates
//   korvent.ros2.subscribe       ROS name of maps to store (default none); updates from <name>_updates
//   korvent.ros2.localhost_only  YES to stay on the loopback as ROS 2's localhost-only
//                                discovery does (default: YES when ROS_LOCALHOST_ONLY is 1)
//   korvent.ros2.cells           image or occupancy: what the stored cells are (default
//                                occupancy when korvent.map.load.occupancy is yes, else image)
struct Ros2Settings
{
  int domain = 0;
  std::string topic = "/map";
  std::string subscribe;  // empty: none
  bool localhostOnly = false;
  RosCells::Layout cells = RosCells::Layout::Image;
};

// Nothing when the ROS 2 side is off.  Throws RTC::ConfigError naming the
// key whose value cannot be used.
std::optional<Ros2Settings> ros2SettingsOf(const RTC::Properties& config);

// What the stored cells are, from korvent.ros2.cells; the ROS 2 side and
// every other server of ROS messages read them the same way.  Throws
// RTC::ConfigError.
RosCells::Layout rosCellLayoutOf(const RTC::Properties& config);

// The DDS topic ROS 2 uses for the ROS name `name` (/map: rt/map).
std::string ddsTopicOf(const std::string& name);

#endif // ROS2SETTINGS_H
