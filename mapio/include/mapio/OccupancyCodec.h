#ifndef MAPIO_OCCUPANCYCODEC_H
#define MAPIO_OCCUPANCYCODEC_H

#include "mapio/GridMap.h"
#include "mapio/MapYaml.h"

#include <array>
#include <cstddef>

namespace mapio
{
  // Converts between a map image's grey values (top row first) and
  // occupancy values (0 free, 100 occupied, 255 unknown; bottom row
  // first) as a map YAML's mode, negate and thresholds say.
  //
  // Grey value v gives p = (255 - v) / 255, or v / 255 with negate.
  //   trinary: p > occupied_thresh -> 100, p < free_thresh -> 0, else 255.
  //   scale:   as trinary, but between the thresholds the linear value
  //            0..99 of p's place between them.
  //   raw:     v itself, negate ignored.
  // Back to grey, each occupancy value takes a grey value that converts to
  // it again (free 254, occupied 0, unknown 205 where the thresholds allow
  // it, mirrored with negate); a value that no grey value produces (say 50
  // in trinary mode, or unknown in scale mode) takes the one of the
  // nearest value that is produced, and is counted as approximated.
  class OccupancyCodec
  {
  public:
    static constexpr unsigned char freeCell = 0;
    static constexpr unsigned char occupiedCell = 100;
    static constexpr unsigned char unknownCell = 255;

    explicit OccupancyCodec(const MapMetadata& metadata);

    unsigned char occupancyOf(unsigned char grey) const { return toOccupancy_[grey]; }
    unsigned char greyOf(unsigned char occupancy) const { return toGrey_[occupancy]; }

    // Both need a map whose size agrees.
    GridMap toOccupancy(const GridMap& image) const;
    GridMap toImage(const GridMap& grid, std::size_t& approximatedCells) const;

  private:
    unsigned char preferredGrey(unsigned char occupancy) const;

    MapMetadata metadata_;
    std::array<unsigned char, 256> toOccupancy_{};
    std::array<unsigned char, 256> toGrey_{};
    std::array<bool, 256> exact_{};
  };
}

#endif // MAPIO_OCCUPANCYCODEC_H
