#include "mapio/MapFile.h"

#include "mapio/AtomicFile.h"
#include "mapio/FileBytes.h"
#include "mapio/MapError.h"
#include "mapio/OccupancyCodec.h"
#include "mapio/PgmImage.h"
#include "mapio/PngImage.h"

#include <algorithm>
#include <cctype>

namespace mapio
{
  namespace
  {
    std::string lowerExtension(const std::string& path)
    {
      const std::size_t dot = path.rfind('.');
      const std::size_t slash = path.rfind('/');
      if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
      std::string extension = path.substr(dot);
      std::transform(extension.begin(), extension.end(), extension.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      return extension;
    }

    GridMap readImage(const std::string& path)
    {
      switch (formatOf(path)) {
        case MapFormat::Pgm: return decodePgm(readFileBytes(path), path);
        case MapFormat::Png: return readPng(path);
        case MapFormat::Yaml:
        case MapFormat::Raw: break;
      }
      throw MapError("unsupported image format: the image must be .pgm or .png", path);
    }

    std::string encodeImage(MapFormat format, const GridMap& image, const std::string& where)
    {
      return format == MapFormat::Png ? encodePng(image, where) : encodePgm(image);
    }

    std::string baseName(const std::string& path)
    {
      const std::size_t slash = path.rfind('/');
      return slash == std::string::npos ? path : path.substr(slash + 1);
    }
  }

  MapFormat formatOf(const std::string& path)
  {
    const std::string extension = lowerExtension(path);
    if (extension == ".yaml" || extension == ".yml")
      return MapFormat::Yaml;
    if (extension == ".pgm")
      return MapFormat::Pgm;
    if (extension == ".png")
      return MapFormat::Png;
    return MapFormat::Raw;
  }

  GridMap readMapFile(const std::string& path, bool occupancy)
  {
    if (formatOf(path) == MapFormat::Raw)
      throw MapError("unknown map format: expected .yaml, .yml, .pgm or .png, or raw octets with a size", path);
    MapMetadata metadata;
    GridMap image;
    if (formatOf(path) == MapFormat::Yaml) {
      metadata = readMapYaml(path);
      image = readImage(imagePathOf(metadata, path));
    }
    else {
      image = readImage(path);
    }
    return occupancy ? OccupancyCodec(metadata).toOccupancy(image) : image;
  }

  GridMap readRawMap(const std::string& path, short width, short height, bool force)
  {
    GridMap map;
    map.width = width;
    map.height = height;
    map.cells = readFileBytes(path);
    if (!force && !map.sizeAgrees())
      throw MapError("file holds " + std::to_string(map.cells.size()) + " bytes, not " +
                     std::to_string(width) + " x " + std::to_string(height) +
                     "; --force stores it anyway", path);
    return map;
  }

  MapWriteResult writeMapFile(const std::string& path, const GridMap& map, const MapWriteOptions& options)
  {
    MapWriteResult result;
    result.written = formatOf(path);
    if (!map.sizeAgrees() || map.cells.empty())
      result.written = MapFormat::Raw;
    if (result.written == MapFormat::Raw) {
      writeFileAtomically(path, map.cells, AtomicFile::Durability::Plain);
      return result;
    }

    const GridMap image = options.occupancy
                            ? OccupancyCodec(options.metadata).toImage(map, result.approximatedCells)
                            : map;
    if (result.written != MapFormat::Yaml) {
      writeFileAtomically(path, encodeImage(result.written, image, path), AtomicFile::Durability::Plain);
      return result;
    }

    MapMetadata metadata = options.metadata;
    const std::string name = baseName(path);
    metadata.image = name.substr(0, name.rfind('.')) + ".pgm";
    result.imagePath = imagePathOf(metadata, path);
    // Both files are complete before either appears.
    AtomicFile imageFile(result.imagePath);
    const std::string imageBytes = encodePgm(image);
    imageFile.write(imageBytes.data(), imageBytes.size());
    AtomicFile yamlFile(path);
    const std::string yamlText = encodeMapYaml(metadata);
    yamlFile.write(yamlText.data(), yamlText.size());
    imageFile.commit(AtomicFile::Durability::Plain);
    yamlFile.commit(AtomicFile::Durability::Plain);
    return result;
  }
}
