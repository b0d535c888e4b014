#ifndef MAPIO_MAPSUMMARY_H
#define MAPIO_MAPSUMMARY_H

#include "mapio/GridMap.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mapio
{
  // What `korvent-map info` and the web view tell about a stored map: its
  // size, whether the octet count agrees with it, its CRC-32, and how its
  // cells count under the two common encodings.
  struct MapSummary
  {
    struct Counts
    {
      std::size_t free = 0;
      std::size_t occupied = 0;
      std::size_t unknown = 0;
      std::size_t other = 0;
    };

    // How many cells hold each octet value.
    using ValueCounts = std::array<std::uint64_t, 256>;

    explicit MapSummary(GridMapView map);
    // For a map counted where it is kept, without its cells at hand.
    MapSummary(short width, short height, std::size_t bytes, std::uint32_t crc32, const ValueCounts& counts);

    std::string text() const;
    std::string json() const;
    // The members of json()'s object without its braces, for a larger object.
    std::string jsonMembers() const;

    short width;
    short height;
    std::size_t bytes;
    bool sizeAgrees;
    std::uint32_t crc32;
    Counts asOccupancy;  // 0 free, 100 occupied, 255 unknown, anything else other
    Counts asGrey;       // a map image read as trinary with the map YAML defaults
  };
}

#endif // MAPIO_MAPSUMMARY_H
