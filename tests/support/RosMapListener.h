#ifndef ROSMAPLISTENER_H
#define ROSMAPLISTENER_H

#include "ChildProcess.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The Fast DDS map subscriber (tests/ros2/fastdds_map_listener.cpp) in
// DDS domain `domain`, on the loopback only, with the lines it printed kept
// so that one waited for later is not lost to a wait for another.  The
// destructor stops it.
class RosMapListener
{
public:
  explicit RosMapListener(int domain);
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

#endif // ROSMAPLISTENER_H
