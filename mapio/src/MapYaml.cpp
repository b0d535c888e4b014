#include "mapio/MapYaml.h"

#include "mapio/FileBytes.h"
#include "mapio/MapError.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace mapio
{
  namespace
  {
    template <typename T>
    T required(const YAML::Node& root, const char* key, const std::string& path)
    {
      const YAML::Node node = root[key];
      if (!node)
        throw MapError(std::string("map YAML lacks the key '") + key + "'", path);
      try {
        return node.as<T>();
      }
      catch (const YAML::Exception&) {
        throw MapError(std::string("map YAML: '") + key + "' has a value of the wrong kind", path);
      }
    }

    // YAML text is Unicode: other bytes would be written as replacement
    // characters and name another file.
    bool validUtf8(const std::string& text)
    {
      for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3
                                 : (lead >> 3) == 0x1e ? 4 : 0;
        if (length == 0 || i + length > text.size())
          return false;
        std::uint32_t point = length == 1 ? lead : lead & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
          const unsigned char next = static_cast<unsigned char>(text[i + k]);
          if ((next & 0xc0) != 0x80)
            return false;
          point = point << 6 | (next & 0x3f);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < least[length] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
          return false;
        i += length;
      }
      return true;
    }

    template <typename T>
    T optional(const YAML::Node& root, const char* key, T fallback, const std::string& path)
    {
      return root[key] ? required<T>(root, key, path) : fallback;
    }
  }

  OccupancyMode occupancyModeNamed(const std::string& name, const std::string& where)
  {
    if (name == "trinary")
      return OccupancyMode::Trinary;
    if (name == "scale")
      return OccupancyMode::Scale;
    if (name == "raw")
      return OccupancyMode::Raw;
    throw MapError("unknown mode '" + name + "'; known: trinary, scale, raw", where);
  }

  std::string nameOf(OccupancyMode mode)
  {
    switch (mode) {
      case OccupancyMode::Scale: return "scale";
      case OccupancyMode::Raw: return "raw";
      case OccupancyMode::Trinary: break;
    }
    return "trinary";
  }

  void checkMetadata(const MapMetadata& metadata, const std::string& where)
  {
    if (!(metadata.resolution > 0.0) || !std::isfinite(metadata.resolution))
      throw MapError("resolution must be a positive number", where);
    for (double value : metadata.origin)
      if (!std::isfinite(value))
        throw MapError("origin must hold three finite numbers", where);
    if (!(0.0 < metadata.freeThreshold && metadata.freeThreshold < metadata.occupiedThreshold &&
          metadata.occupiedThreshold < 1.0))
      throw MapError("thresholds must satisfy 0 < free_thresh < occupied_thresh < 1", where);
  }

  MapMetadata readMapYaml(const std::string& path)
  {
    return decodeMapYaml(readFileBytes(path), path);
  }

  MapMetadata decodeMapYaml(const std::string& text, const std::string& where)
  {
    YAML::Node root;
    try {
      root = YAML::Load(text);
    }
    catch (const YAML::Exception& error) {
      throw MapError("malformed map YAML at line " + std::to_string(error.mark.line + 1) + ": " +
                     error.msg, where);
    }
    if (!root.IsMap())
      throw MapError("malformed map YAML: not a mapping of keys to values", where);

    MapMetadata metadata;
    metadata.image = required<std::string>(root, "image", where);
    metadata.resolution = required<double>(root, "resolution", where);
    const std::vector<double> origin = required<std::vector<double>>(root, "origin", where);
    if (origin.size() != 3)
      throw MapError("map YAML: 'origin' must hold three numbers (x, y, yaw)", where);
    std::copy(origin.begin(), origin.end(), metadata.origin.begin());
    const int negate = optional<int>(root, "negate", 0, where);
    if (negate != 0 && negate != 1)
      throw MapError("map YAML: 'negate' must be 0 or 1", where);
    metadata.negate = negate == 1;
    metadata.occupiedThreshold = optional<double>(root, "occupied_thresh", metadata.occupiedThreshold, where);
    metadata.freeThreshold = optional<double>(root, "free_thresh", metadata.freeThreshold, where);
    metadata.mode = occupancyModeNamed(optional<std::string>(root, "mode", "trinary", where), where);
    checkMetadata(metadata, where);
    return metadata;
  }

  std::string imagePathOf(const MapMetadata& metadata, const std::string& yamlPath)
  {
    if (!metadata.image.empty() && metadata.image[0] == '/')
      return metadata.image;
    const std::size_t slash = yamlPath.rfind('/');
    return slash == std::string::npos ? metadata.image : yamlPath.substr(0, slash + 1) + metadata.image;
  }

  std::string encodeMapYaml(const MapMetadata& metadata)
  {
    if (!validUtf8(metadata.image))
      throw MapError("a map YAML cannot name an image whose name is not UTF-8", metadata.image);
    YAML::Emitter out;
    // Enough digits for every value a person writes, without the binary
    // noise of the full 17 (0.05 stays 0.05).
    out.SetDoublePrecision(15);
    out << YAML::BeginMap;
    out << YAML::Key << "image" << YAML::Value << metadata.image;
    out << YAML::Key << "mode" << YAML::Value << nameOf(metadata.mode);
    out << YAML::Key << "resolution" << YAML::Value << metadata.resolution;
    out << YAML::Key << "origin" << YAML::Value << YAML::Flow << YAML::BeginSeq;
    for (double value : metadata.origin)
      out << value;
    out << YAML::EndSeq;
    out << YAML::Key << "negate" << YAML::Value << (metadata.negate ? 1 : 0);
    out << YAML::Key << "occupied_thresh" << YAML::Value << metadata.occupiedThreshold;
    out << YAML::Key << "free_thresh" << YAML::Value << metadata.freeThreshold;
    out << YAML::EndMap;
    return std::string(out.c_str()) + "\n";
  }
}
