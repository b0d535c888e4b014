#ifndef MAPIO_MAPYAML_H
#define MAPIO_MAPYAML_H

#include <array>
#include <string>

namespace mapio
{
  // How grey values of a map image become occupancy values.
  enum class OccupancyMode { Trinary, Scale, Raw };

  // The map YAML's description of its image.
  struct MapMetadata
  {
    std::string image;  // as written in the file: relative to the YAML's folder unless absolute
    double resolution = 0.05;            // metres per cell
    std::array<double, 3> origin{};      // x, y, yaw of the lower-left cell
    bool negate = false;
    double occupiedThreshold = 0.65;
    double freeThreshold = 0.196;
    OccupancyMode mode = OccupancyMode::Trinary;
  };

  // Reads and checks a map YAML.  Throws MapError.
  MapMetadata readMapYaml(const std::string& path);
  // The same from the file's text; `where` names its source in errors.
  MapMetadata decodeMapYaml(const std::string& text, const std::string& where);

  // The image's path as seen from here: relative to the YAML's folder.
  std::string imagePathOf(const MapMetadata& metadata, const std::string& yamlPath);

  // Throws MapError for an image name that is not UTF-8.
  std::string encodeMapYaml(const MapMetadata& metadata);

  // Throws MapError unless 0 < free < occupied < 1 and resolution > 0.
  void checkMetadata(const MapMetadata& metadata, const std::string& where);

  OccupancyMode occupancyModeNamed(const std::string& name, const std::string& where);
  std::string nameOf(OccupancyMode mode);
}

#endif // MAPIO_MAPYAML_H
