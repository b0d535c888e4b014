#include "mapio/GridMap.h"

#include <cstddef>

namespace mapio
{
  bool sizeAgrees(short width, short height, std::size_t bytes)
  {
    return width >= 0 && height >= 0 && bytes == static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }

  bool GridMapView::sizeAgrees() const
  {
    return mapio::sizeAgrees(width, height, cells.size());
  }

  bool GridMap::sizeAgrees() const
  {
    return GridMapView(*this).sizeAgrees();
  }

  GridMap flippedRows(GridMapView map)
  {
    GridMap flipped{map.width, map.height, std::string(map.cells)};
    const std::size_t rowLength = static_cast<std::size_t>(map.width);
    for (std::size_t row = 0; row < static_cast<std::size_t>(map.height); ++row)
      flipped.cells.replace(row * rowLength, rowLength, map.cells.substr((map.height - 1 - row) * rowLength, rowLength));
    return flipped;
  }
}
