#ifndef ROSCELLS_H
#define ROSCELLS_H

#include "store/CellRectangle.h"
#include "store/GridMapSnapshot.h"

#include "mapio/MapDescription.h"
#include "mapio/OccupancyCodec.h"

#include <string>
#include <string_view>

// Turns stored cells into the occupancy values ROS 2 expects (int8: -1
// unknown, 0..100; row 0 at the origin, the bottom of the image) and back.
//   Image: the cells are a map image's grey values, top row first, as
//     `korvent-map set` stores them; they convert as a map server turns the
//     image into a grid, with the description's mode, negate and thresholds
//     (mapio::OccupancyCodec), and the rows turn over.
//   Occupancy: the cells are occupancy values already, bottom row first
//     (`set --occupancy`); each octet goes as it is (255 is -1).
// Back from ROS 2, an occupancy value takes the grey value that converts to
// it, or the nearest one that exists (the codec's rule).
class RosCells
{
public:
  enum class Layout { Image, Occupancy };

  RosCells(Layout layout, const mapio::MapDescription& description);

  // Where the rectangle `area` of a map `mapHeight` rows high lies in the
  // other convention; the same both ways.
  CellRectangle flipped(const CellRectangle& area, int mapHeight) const;
  // `width` x `height` cells, row-major, in the store's row order, to ROS's.
  std::string toRos(std::string_view stored, int width, int height) const;
  // The whole of `map` (its cells width x height), read where it is held:
  // a map made by region writes is not joined for it.
  std::string toRos(const GridMapSnapshot& map) const;
  // The reverse.
  std::string fromRos(std::string_view ros, int width, int height) const;

private:
  std::string reordered(std::string_view cells, int width, int height) const;
  void convertToRos(std::string& cells) const;

  Layout layout_;
  mapio::OccupancyCodec codec_;
};

#endif // ROSCELLS_H
