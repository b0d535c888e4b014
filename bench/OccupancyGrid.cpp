#include "OccupancyGrid.h"

#include <algorithm>
#include <random>

namespace
{
  constexpr uint8_t freeCell = 0, wallCell = 100, unknownCell = 255;
}

std::vector<uint8_t> occupancyGrid(std::size_t width, std::size_t height, unsigned seed)
{
  std::vector<uint8_t> cells(width * height, unknownCell);
  std::mt19937 random(seed);
  auto at = [&](std::size_t x, std::size_t y) -> uint8_t& { return cells[y * width + x]; };

  // The building: most of the area, an irregular margin of unknown around it.
  const std::size_t left = width / 12, right = width - width / 10;
  const std::size_t top = height / 10, bottom = height - height / 12;
  for (std::size_t y = top; y < bottom; ++y)
    std::fill(&at(left, y), &at(right, y), freeCell);

  // Corridors every so often run the building's length; rooms of varying
  // width open off them, each with a door.
  std::uniform_int_distribution<std::size_t> roomWidth(30, 90), thickness(2, 3), doorAt(5, 20);
  auto wall = [&](std::size_t x0, std::size_t y0, std::size_t x1, std::size_t y1) {
    for (std::size_t y = y0; y < y1 && y < bottom; ++y)
      for (std::size_t x = x0; x < x1 && x < right; ++x)
        at(x, y) = wallCell;
  };
  const std::size_t bandHeight = 120, corridor = 24;
  for (std::size_t band = top; band < bottom; band += bandHeight) {
    const std::size_t corridorTop = band + bandHeight - corridor;
    wall(left, corridorTop - 3, right, corridorTop);  // rooms' wall to the corridor
    for (std::size_t x = left; x < right; x += roomWidth(random)) {
      wall(x, band, x + thickness(random), corridorTop);  // between rooms
      const std::size_t door = x + doorAt(random);
      for (std::size_t y = corridorTop - 3; y < corridorTop && y < bottom; ++y)
        for (std::size_t d = door; d < door + 8 && d < right; ++d)
          at(d, y) = freeCell;
    }
  }
  wall(left, top, right, top + 3);
  wall(left, bottom - 3, right, bottom);
  wall(left, top, left + 3, bottom);
  wall(right - 3, top, right, bottom);

  std::uniform_int_distribution<std::size_t> anyCell(0, cells.size() - 1);
  for (std::size_t noise = cells.size() / 200; noise > 0; --noise) {
    uint8_t& cell = cells[anyCell(random)];
    if (cell == freeCell)
      cell = noise % 2 ? wallCell : unknownCell;
  }
  return cells;
}

CellMix cellMix(const std::vector<uint8_t>& cells)
{
  std::size_t free = 0, occupied = 0;
  for (uint8_t c : cells) {
    free += c == freeCell;
    occupied += c == wallCell;
  }
  const double all = static_cast<double>(cells.size());
  return {static_cast<double>(free) / all, static_cast<double>(occupied) / all,
          static_cast<double>(cells.size() - free - occupied) / all};
}
