#include "mapio/GridMap.h"

#include <cstddef>

namespace mapio
{
  bool GridMap::sizeAgrees() const
  {
    return width >= 0 && height >= 0 &&
           cells.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }

  GridMap flippedRows(const GridMap& map)
  {
    GridMap flipped = map;
    const std::size_t rowLength = static_cast<std::size_t>(map.width);
    for (std::size_t row = 0; row < static_cast<std::size_t>(map.height); ++row)
      flipped.cells.replace(row * rowLength, rowLength,
                            map.cells, (map.height - 1 - row) * rowLength, rowLength);
    return flipped;
  }
}
