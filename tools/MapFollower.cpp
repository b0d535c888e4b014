#include "MapFollower.h"

#include <cstring>

namespace
{
  // The event's fields: version, width, height, bytes, CRC, then the
  // changed rectangle; sizes and positions as 16-bit patterns.
  int signed16(CORBA::ULong pattern) { return static_cast<std::int16_t>(pattern); }
  int unsigned16(CORBA::ULong pattern) { return static_cast<std::uint16_t>(pattern); }
}

std::string MapFollower::apply(const RTC::TimedULongSeq& event)
{
  if (event.data.length() < 9)
    return fetchWhole();
  const std::uint32_t version = event.data[0];
  const int width = signed16(event.data[1]);
  const int height = signed16(event.data[2]);
  const int x = unsigned16(event.data[5]), y = unsigned16(event.data[6]);
  const int w = unsigned16(event.data[7]), h = unsigned16(event.data[8]);
  const bool follows = lastVersion_ && version == *lastVersion_ + 1;
  const bool sameShape = copy_.width == width && copy_.height == height && copy_.sizeAgrees();
  const bool wholeMap = x == 0 && y == 0 && w == width && h == height;
  lastVersion_ = version;
  if (!follows || !sameShape || wholeMap || w <= 0 || h <= 0 || x + w > width || y + h > height)
    return fetchWhole();

  // Cells of a later version than the event are fine: that version's own
  // event comes next and fetches its rectangle again.
  const korvent::Region region = korvent_.getRegion(x, y, w, h);
  for (int row = 0; row < h; ++row)
    std::memcpy(&copy_.cells[static_cast<std::size_t>(y + row) * width + x],
                region.cells.data() + static_cast<std::size_t>(row) * w, static_cast<std::size_t>(w));
  return "fetched region " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," +
         std::to_string(h) + ", " + std::to_string(region.cells.size()) + " bytes";
}

std::string MapFollower::fetchWhole()
{
  const korvent::GridMap fetched = korvent_.getGridMap();
  copy_.width = fetched.width();
  copy_.height = fetched.height();
  copy_.cells.assign(reinterpret_cast<const char*>(fetched.data()), fetched.size());
  return "fetched " + std::to_string(copy_.width) + " x " + std::to_string(copy_.height) + ", " +
         std::to_string(copy_.cells.size()) + " bytes";
}
