#ifndef MAPIO_GRIDMAP_H
#define MAPIO_GRIDMAP_H

#include <string>

namespace mapio
{
  // A grid map as the service stores it: one octet per cell, row-major,
  // with the two signed 16-bit values that travel with it.  Nothing ties
  // the octet count to width x height; image formats need them to agree.
  struct GridMap
  {
    short width = 0;
    short height = 0;
    std::string cells;

    bool sizeAgrees() const;
  };

  // `map` with its rows in reverse order: converts between the image's
  // order (top row first) and the occupancy grid's (bottom row first).
  // The map's size must agree.
  GridMap flippedRows(const GridMap& map);
}

#endif // MAPIO_GRIDMAP_H
