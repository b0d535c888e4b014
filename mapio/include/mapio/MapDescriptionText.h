#ifndef MAPIO_MAPDESCRIPTIONTEXT_H
#define MAPIO_MAPDESCRIPTIONTEXT_H

#include "mapio/MapDescription.h"

#include <chrono>
#include <string>

namespace mapio
{
  // "2026-12-09T02:12:32.123Z".
  std::string isoTime(std::chrono::system_clock::time_point when);

  // How `korvent-map info` and the web view tell a map's description;
  // `description` is null for a map that has none.
  //   "description": {"resolution": 0.05, "origin": [x, y, yaw], "frame": "map",
  //   "mode": "trinary", "negate": false, "occupied_thresh": 0.65,
  //   "free_thresh": 0.196, "text": ""} (or null), "description_confirmed": true
  std::string descriptionJsonMembers(const MapDescription* description, bool confirmed);
  // Lines of "key<blanks>value", as MapSummary::text() writes them.
  std::string descriptionText(const MapDescription* description, bool confirmed);
}

#endif // MAPIO_MAPDESCRIPTIONTEXT_H
