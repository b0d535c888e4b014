#include "MapFollower.h"

#include <cstring>

std::string MapFollower::apply(const korvent::MapChange& change)
{
  const int x = change.x, y = change.y, w = change.changedWidth, h = change.changedHeight;
  const bool follows = lastVersion_ && change.version == *lastVersion_ + 1;
  const bool sameShape = copy_.width == change.width && copy_.height == change.height && copy_.sizeAgrees();
  const bool wholeMap = x == 0 && y == 0 && w == change.width && h == change.height;
  if (follows && sameShape && (change.flags & korvent::MapChange::descriptionOnly)) {
    lastVersion_ = change.version;
    return "fetched nothing (only the description changed)";
  }
  // Forgotten until the fetch succeeds: a failed one is retried whole.
  lastVersion_.reset();
  if (!follows || !sameShape || wholeMap || w <= 0 || h <= 0 || x + w > change.width || y + h > change.height) {
    std::string fetched = fetchWhole();
    lastVersion_ = change.version;
    return fetched;
  }

  // Cells of a later version than the event are fine: that version's own
  // event comes next and fetches its rectangle again.
  const korvent::Region region = korvent_.getRegion(x, y, w, h);
  for (int row = 0; row < h; ++row)
    std::memcpy(&copy_.cells[static_cast<std::size_t>(y + row) * change.width + x],
                region.cells.data() + static_cast<std::size_t>(row) * w, static_cast<std::size_t>(w));
  lastVersion_ = change.version;
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
