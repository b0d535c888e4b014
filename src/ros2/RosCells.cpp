#include "ros2/RosCells.h"

#include <cstring>

RosCells::RosCells(Layout layout, const mapio::MapDescription& description)
  : layout_(layout), codec_(mapio::metadataOf(description))
{
}

CellRectangle RosCells::flipped(const CellRectangle& area, int mapHeight) const
{
  if (layout_ == Layout::Occupancy)
    return area;
  return CellRectangle{area.x, mapHeight - area.y - area.height, area.width, area.height};
}

std::string RosCells::reordered(std::string_view cells, int width, int height) const
{
  if (layout_ == Layout::Occupancy)
    return std::string(cells);
  std::string out(cells.size(), '\0');
  const std::size_t row = static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y)
    std::memcpy(out.data() + row * static_cast<std::size_t>(height - 1 - y), cells.data() + row * y, row);
  return out;
}

void RosCells::convertToRos(std::string& cells) const
{
  if (layout_ == Layout::Image)
    for (char& cell : cells)
      cell = static_cast<char>(codec_.occupancyOf(static_cast<unsigned char>(cell)));
}

std::string RosCells::toRos(std::string_view stored, int width, int height) const
{
  std::string cells = reordered(stored, width, height);
  convertToRos(cells);
  return cells;
}

std::string RosCells::toRos(const GridMapSnapshot& map) const
{
  const int width = map.mapWidth, height = map.mapHeight;
  const std::size_t row = static_cast<std::size_t>(width);
  std::string cells(row * static_cast<std::size_t>(height), '\0');
  if (layout_ == Layout::Occupancy)
    map.copyRegion(CellRectangle{0, 0, width, height}, cells.data());
  else
    for (int y = 0; y < height; ++y)
      map.copyRegion(CellRectangle{0, y, width, 1}, cells.data() + row * static_cast<std::size_t>(height - 1 - y));
  convertToRos(cells);
  return cells;
}

std::string RosCells::fromRos(std::string_view ros, int width, int height) const
{
  std::string cells = reordered(ros, width, height);
  if (layout_ == Layout::Image)
    for (char& cell : cells)
      cell = static_cast<char>(codec_.greyOf(static_cast<unsigned char>(cell)));
  return cells;
}
