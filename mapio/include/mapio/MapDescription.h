#ifndef MAPIO_MAPDESCRIPTION_H
#define MAPIO_MAPDESCRIPTION_H

#include "mapio/MapYaml.h"

#include <array>
#include <cstddef>
#include <string>

namespace mapio
{
  // Where a map lies and how its cells read as occupancy: what a map YAML
  // says besides the image's name, with the frame the coordinates are in
  // and a short note.
  struct MapDescription
  {
    double resolution = 0.05;        // metres per cell
    std::array<double, 3> origin{};  // x, y (metres), yaw (radians) of the lower-left cell
    std::string frame = "map";
    OccupancyMode mode = OccupancyMode::Trinary;
    bool negate = false;
    double occupiedThreshold = 0.65;
    double freeThreshold = 0.196;
    std::string text;

    bool operator==(const MapDescription& other) const;
  };

  constexpr std::size_t longestFrameName = 64;
  constexpr std::size_t longestDescriptionText = 1024;

  // Why `description` cannot be stored, or empty when it can: a resolution
  // not finite and above 0, an origin not finite, thresholds outside 0..1
  // or not free < occupied, a frame name or text too long.
  std::string problemWith(const MapDescription& description);

  // The description a map YAML gives, in `frame`.
  MapDescription describedBy(const MapMetadata& metadata, const std::string& frame = "map");
  // What a map YAML written from `description` says (no image name).
  MapMetadata metadataOf(const MapDescription& description);
}

#endif // MAPIO_MAPDESCRIPTION_H
