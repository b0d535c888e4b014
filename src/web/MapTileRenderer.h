#ifndef MAPTILERENDERER_H
#define MAPTILERENDERER_H

#include "web/TilePyramid.h"

#include "mapio/GridMap.h"

#include <array>
#include <string>

// Draws PNG images of a map: the whole of it, or one tile of its pyramid.
// Grey shows the octets as they are stored, top row first.  Occupancy
// reads them as occupancy values (bottom row first, so it turns the rows
// over) and colours them: free white, occupied black, 1..99 the greys in
// between, unknown blue-grey, any other value magenta.
//
// A pixel of a coarser level stands for a square of cells and shows the
// one that matters most (the darkest grey; occupied before free before
// unknown), so thin walls stay visible in the overview.
class MapTileRenderer
{
public:
  enum class Colouring { Grey = 0, Occupancy = 1 };

  // The map's size must agree and it must not be empty; the cells must
  // outlive the renderer.
  MapTileRenderer(mapio::GridMapView map, Colouring colouring);

  const TilePyramid& pyramid() const { return pyramid_; }

  std::string whole() const;
  // A tile that pyramid() contains.
  std::string tile(int level, int x, int y) const;

private:
  // The cells of the image's row `shown`.
  const unsigned char* row(int shown) const;

  mapio::GridMapView map_;
  Colouring colouring_;
  TilePyramid pyramid_;
  std::array<unsigned char, 256> rank_{};   // of each cell value: higher shows through
  std::array<unsigned char, 256> valueOf_{};  // the value of each rank
};

#endif // MAPTILERENDERER_H
