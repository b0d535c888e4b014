#ifndef TOOLS_CHANGEWATCH_H
#define TOOLS_CHANGEWATCH_H

#include <rtm/InPort.h>

#include <chrono>
#include <optional>
#include <string>

// An InPort of this process connected to a KorventComp's "mapChanged"
// port, through the port's own connect chain.  The component's latest event
// arrives first, then one per map stored.
class ChangeWatch
{
public:
  // `component` is the component's IOR.  Throws mapio::MapError when it has
  // no such port or refuses the connection.
  explicit ChangeWatch(const std::string& component);
  ~ChangeWatch();  // disconnects
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // The next event, or nothing when none arrives within `timeout`.
  std::optional<RTC::TimedULongSeq> next(std::chrono::milliseconds timeout);

private:
  RTC::TimedULongSeq event_;
  RTC::InPort<RTC::TimedULongSeq> port_;
};

// "version 3, 4 x 1, 4 bytes, CRC 8c736521, stored 2026-12-08T19:10:00.123Z"
std::string describeChange(const RTC::TimedULongSeq& event);

#endif // TOOLS_CHANGEWATCH_H
