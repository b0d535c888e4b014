#ifndef ROSMAPLISTENER_H
#define ROSMAPLISTENER_H

#include "ChildProcess.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The Fast DDS map subscriber (tests/ros2/fastdds_map_listener.cpp) in
// DDS domain `domain`, on the loopback only, or as `argv` gives it (see
// command()), with the lines it printed kept so that one waited for later
// is not lost to a wait for another.  The destructor stops it.
class RosMapListener
{
public:
  explicit RosMapListener(int domain);
  explicit RosMapListener(const std::vector<std::string>& argv);
  // Its command line for `domain` on the interface of `address`.
  static std::vector<std::string> command(int domain, const std::string& address);
  ~RosMapListener();
  RosMapListener(const RosMapListener&) = delete;
  RosMapListener& operator=(const RosMapListener&) = delete;

  // The first line starting with `prefix`, taken from those printed; nothing
  // if none came within `timeout`.
  std::optional<std::string> find(const std::string& prefix, std::chrono::milliseconds timeout);
  std::string errorOutput() { return process_.errorOutput(); }
  pid_t pid() const { return process_.pid(); }

private:
  ChildProcess process_;
  std::vector<std::string> seen_;
};

// The whitespace-separated fields of one of its lines.
std::vector<std::string> fieldsOf(const std::string& line);

// The grid ROS 2's map server makes of `grey`, a `width` x `height` image,
// with a map YAML's defaults (trinary, 0.65, 0.196): int8 values, bottom row
// first.  Written out here rather than taken from the component.
std::vector<int> rosGridOf(const std::string& grey, int width, int height);

#endif // ROSMAPLISTENER_H
