#include "mapio/OccupancyCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace mapio
{
  namespace
  {
    double occupancyProbability(unsigned grey, bool negate)
    {
      return (negate ? grey : 255.0 - grey) / 255.0;
    }

    unsigned char greyOfProbability(double p, bool negate)
    {
      const long grey = std::lround(255.0 * p);
      return static_cast<unsigned char>(negate ? grey : 255 - grey);
    }
  }

  OccupancyCodec::OccupancyCodec(const MapMetadata& metadata)
    : metadata_(metadata)
  {
    const double freeT = metadata.freeThreshold;
    const double occupiedT = metadata.occupiedThreshold;
    for (unsigned grey = 0; grey < 256; ++grey) {
      if (metadata.mode == OccupancyMode::Raw) {
        toOccupancy_[grey] = static_cast<unsigned char>(grey);
        continue;
      }
      const double p = occupancyProbability(grey, metadata.negate);
      if (p > occupiedT)
        toOccupancy_[grey] = occupiedCell;
      else if (p < freeT)
        toOccupancy_[grey] = freeCell;
      else if (metadata.mode == OccupancyMode::Trinary)
        toOccupancy_[grey] = unknownCell;
      else
        toOccupancy_[grey] = static_cast<unsigned char>(std::lround(99.0 * (p - freeT) / (occupiedT - freeT)));
    }

    for (unsigned cell = 0; cell < 256; ++cell) {
      const int preferred = preferredGrey(static_cast<unsigned char>(cell));
      int best = -1;
      for (int grey = 0; grey < 256; ++grey)
        if (toOccupancy_[grey] == cell && (best < 0 || std::abs(grey - preferred) < std::abs(best - preferred)))
          best = grey;
      exact_[cell] = best >= 0;
      if (best < 0) {
        // The nearest produced value, and its preferred grey value.
        int nearest = toOccupancy_[0];
        for (int grey = 0; grey < 256; ++grey)
          if (std::abs(int(toOccupancy_[grey]) - int(cell)) < std::abs(nearest - int(cell)))
            nearest = toOccupancy_[grey];
        const int nearestPreferred = preferredGrey(static_cast<unsigned char>(nearest));
        for (int grey = 0; grey < 256; ++grey)
          if (toOccupancy_[grey] == nearest &&
              (best < 0 || std::abs(grey - nearestPreferred) < std::abs(best - nearestPreferred)))
            best = grey;
      }
      toGrey_[cell] = static_cast<unsigned char>(best);
    }
  }

  unsigned char OccupancyCodec::preferredGrey(unsigned char occupancy) const
  {
    if (metadata_.mode == OccupancyMode::Raw)
      return occupancy;
    const bool negate = metadata_.negate;
    switch (occupancy) {
      case freeCell: return negate ? 1 : 254;
      case occupiedCell: return negate ? 255 : 0;
      case unknownCell: return negate ? 50 : 205;
      default: break;
    }
    const double p = metadata_.freeThreshold +
                     (metadata_.occupiedThreshold - metadata_.freeThreshold) * occupancy / 99.0;
    return greyOfProbability(std::min(p, 1.0), negate);
  }

  GridMap OccupancyCodec::toOccupancy(const GridMap& image) const
  {
    GridMap grid = flippedRows(image);
    for (char& cell : grid.cells)
      cell = static_cast<char>(toOccupancy_[static_cast<unsigned char>(cell)]);
    return grid;
  }

  GridMap OccupancyCodec::toImage(const GridMap& grid, std::size_t& approximatedCells) const
  {
    GridMap image = flippedRows(grid);
    approximatedCells = 0;
    for (char& cell : image.cells) {
      const unsigned char occupancy = static_cast<unsigned char>(cell);
      if (!exact_[occupancy])
        ++approximatedCells;
      cell = static_cast<char>(toGrey_[occupancy]);
    }
    return image;
  }
}
