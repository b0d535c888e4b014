#ifndef TILEPYRAMID_H
#define TILEPYRAMID_H

// How a map is cut into square tiles at several resolutions.  The top
// level shows one cell per pixel; each level below it halves the
// resolution, down to level 0, where one tile holds the whole map.  Tiles
// at the right and bottom edges are cut to the map, so they may be
// narrower or shorter than tileSize.
class TilePyramid
{
public:
  static constexpr int tileSize = 256;

  TilePyramid(int width, int height);

  int topLevel() const { return topLevel_; }
  // Cells along one side of a pixel at `level`.
  int cellsPerPixel(int level) const { return 1 << (topLevel_ - level); }
  // Whether the tile exists; its cells start at (x, y) * tileSize * cellsPerPixel.
  bool contains(int level, int x, int y) const;

private:
  int width_;
  int height_;
  int topLevel_ = 0;
};

#endif // TILEPYRAMID_H
