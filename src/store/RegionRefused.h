#ifndef REGIONREFUSED_H
#define REGIONREFUSED_H

#include <cstdint>
#include <stdexcept>
#include <string>

// A region read or write that the map cannot serve; the map is unchanged.
class RegionRefused : public std::runtime_error
{
public:
  enum class Reason { OutsideMap, EmptySize, CellCountMismatch, MapNotRectangular, StaleVersion };

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
