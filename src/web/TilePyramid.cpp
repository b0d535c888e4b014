#include "web/TilePyramid.h"

#include <algorithm>

TilePyramid::TilePyramid(int width, int height)
  : width_(width), height_(height)
{
  while ((tileSize << topLevel_) < std::max(width, height))
    ++topLevel_;
}

bool TilePyramid::contains(int level, int x, int y) const
{
  if (level < 0 || level > topLevel_ || x < 0 || y < 0)
    return false;
  const long span = long(tileSize) * cellsPerPixel(level);
  return x * span < width_ && y * span < height_;
}
