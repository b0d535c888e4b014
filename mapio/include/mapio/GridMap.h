#ifndef MAPIO_GRIDMAP_H
#define MAPIO_GRIDMAP_H

#include <cstddef>
#include <string>
#include <string_view>

namespace mapio
{
  // A grid map as the service stores it: one octet per cell, row-major,
  // with the two signed 16-bit values that travel with it.  Nothing ties
  // the octet count to width x height; image formats need them to agree.
  // A map whose cells live elsewhere (such as in the ORB's buffer), for
  // writing and describing it without a copy.
  // Whether `bytes` octets are a map of width x height.
  bool sizeAgrees(short width, short height, std::size_t bytes);

  struct GridMapView
  {
    short width = 0;
    short height = 0;
    std::string_view cells;

    bool sizeAgrees() const;
  };

  struct GridMap
  {
    short width = 0;
    short height = 0;
    std::string cells;

    bool sizeAgrees() const;
    operator GridMapView() const { return {width, height, cells}; }
  };

  // `map` with its rows in reverse order: converts between the image's
  // order (top row first) and the occupancy grid's (bottom row first).
  // The map's size must agree.
  GridMap flippedRows(GridMapView map);
}

#endif // MAPIO_GRIDMAP_H
