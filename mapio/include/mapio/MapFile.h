#ifndef MAPIO_MAPFILE_H
#define MAPIO_MAPFILE_H

#include "mapio/GridMap.h"
#include "mapio/MapYaml.h"

#include <cstddef>
#include <string>

namespace mapio
{
  // Chosen by the file name's extension, letter case ignored.
  enum class MapFormat { Yaml, Pgm, Png, Raw };
  MapFormat formatOf(const std::string& path);

  // Reads a map YAML (with its image), a PGM or a PNG.  Grey values are
  // stored as they are, top row first; with `occupancy` they are converted
  // to occupancy values (bottom row first) as the YAML says, or with the
  // YAML defaults for a bare image.  Throws MapError, also for a file
  // of no known image format.
  GridMap readMapFile(const std::string& path, bool occupancy);

  // Raw octets with a size given by the caller; unless `force`, the octet
  // count must be width x height.  Throws MapError.
  GridMap readRawMap(const std::string& path, short width, short height, bool force);

  struct MapWriteOptions
  {
    bool occupancy = false;   // convert occupancy values back to grey
    MapMetadata metadata;     // written to a YAML; its mode and thresholds convert; image is ignored
  };

  struct MapWriteResult
  {
    MapFormat written = MapFormat::Raw;
    std::size_t approximatedCells = 0;  // occupancy values the mode cannot express
    std::string imagePath;              // the image beside a YAML
  };

  // Writes by extension; a YAML gets its image beside it as <name>.pgm.  A
  // map that no image can hold (octet count not width x height, or empty)
  // is written raw whatever the extension.  Every file appears complete
  // or not at all.  Throws MapError.
  MapWriteResult writeMapFile(const std::string& path, const GridMap& map, const MapWriteOptions& options);
}

#endif // MAPIO_MAPFILE_H
