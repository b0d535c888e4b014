#include "web/MapTileRenderer.h"

#include "mapio/OccupancyCodec.h"
#include "mapio/PngImage.h"

#include <algorithm>
#include <vector>

namespace
{
  using mapio::OccupancyCodec;

  const mapio::Palette& occupancyColours()
  {
    static const mapio::Palette palette = [] {
      mapio::Palette colours;
      colours.fill({255, 0, 255});
      for (int value = OccupancyCodec::freeCell; value <= OccupancyCodec::occupiedCell; ++value) {
        const auto grey = static_cast<unsigned char>(255 - value * 255 / OccupancyCodec::occupiedCell);
        colours[value] = {grey, grey, grey};
      }
      colours[OccupancyCodec::unknownCell] = {150, 170, 195};
      return colours;
    }();
    return palette;
  }

  // Cell values from least to most important when several share a pixel.
  std::vector<int> importance(MapTileRenderer::Colouring colouring)
  {
    std::vector<int> values;
    if (colouring == MapTileRenderer::Colouring::Grey) {
      for (int value = 255; value >= 0; --value)
        values.push_back(value);
      return values;
    }
    values.push_back(OccupancyCodec::unknownCell);
    for (int value = OccupancyCodec::occupiedCell + 1; value < OccupancyCodec::unknownCell; ++value)
      values.push_back(value);
    for (int value = OccupancyCodec::freeCell; value <= OccupancyCodec::occupiedCell; ++value)
      values.push_back(value);
    return values;
  }
}

MapTileRenderer::MapTileRenderer(mapio::GridMapView map, Colouring colouring)
  : map_(map), colouring_(colouring), pyramid_(map.width, map.height)
{
  const std::vector<int> order = importance(colouring);
  for (std::size_t rank = 0; rank < order.size(); ++rank) {
    rank_[order[rank]] = static_cast<unsigned char>(rank);
    valueOf_[rank] = static_cast<unsigned char>(order[rank]);
  }
}

const unsigned char* MapTileRenderer::row(int shown) const
{
  const int stored = colouring_ == Colouring::Occupancy ? map_.height - 1 - shown : shown;
  return reinterpret_cast<const unsigned char*>(map_.cells.data()) + std::size_t(stored) * map_.width;
}

std::string MapTileRenderer::whole() const
{
  if (colouring_ == Colouring::Grey)
    return mapio::encodeQuickPng(map_, nullptr, false, "map.png");
  return mapio::encodeQuickPng(map_, &occupancyColours(), true, "map.png");
}

std::string MapTileRenderer::tile(int level, int x, int y) const
{
  const int step = pyramid_.cellsPerPixel(level);
  const long span = long(TilePyramid::tileSize) * step;
  const int left = static_cast<int>(x * span);
  const int top = static_cast<int>(y * span);
  const int right = static_cast<int>(std::min<long>(left + span, map_.width));
  const int bottom = static_cast<int>(std::min<long>(top + span, map_.height));
  const int columns = (right - left + step - 1) / step;
  const int rows = (bottom - top + step - 1) / step;

  // Rank 0 is the least important value, so a pixel starts with it and
  // every cell of its square can only raise it.
  std::string pixels(std::size_t(columns) * rows, '\0');
  for (int shown = top; shown < bottom; ++shown) {
    const unsigned char* cells = row(shown);
    unsigned char* pixel = reinterpret_cast<unsigned char*>(&pixels[std::size_t((shown - top) / step) * columns]);
    for (int column = left; column < right; ++pixel) {
      const int end = std::min(column + step, right);
      unsigned char best = *pixel;
      for (; column < end; ++column)
        best = std::max(best, rank_[cells[column]]);
      *pixel = best;
    }
  }
  for (char& pixel : pixels)
    pixel = static_cast<char>(valueOf_[static_cast<unsigned char>(pixel)]);
  const mapio::GridMapView image{static_cast<short>(columns), static_cast<short>(rows), pixels};
  return mapio::encodeQuickPng(image, colouring_ == Colouring::Grey ? nullptr : &occupancyColours(), false, "tile");
}
