#ifndef REGIONREFUSED_H
#define REGIONREFUSED_H

#include <cstdint>
#include <stdexcept>
#include <string>

// A region read or write, or a description write, that the map cannot
// serve; the map is unchanged, except after NotSaved from a write that was
// published but not written to disk in time (its message says so).
class RegionRefused : public std::runtime_error
{
public:
  enum class Reason { OutsideMap, EmptySize, CellCountMismatch, MapNotRectangular, StaleVersion, NotSaved };

  RegionRefused(Reason reason, const std::string& message, std::uint64_t currentVersion)
    : std::runtime_error(message), reason_(reason), currentVersion_(currentVersion)
  {
  }
  Reason reason() const { return reason_; }
  std::uint64_t currentVersion() const { return currentVersion_; }

private:
  Reason reason_;
  std::uint64_t currentVersion_;
};

#endif // REGIONREFUSED_H
