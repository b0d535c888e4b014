#include "mapio/MapDescription.h"

#include <cmath>

namespace mapio
{
  bool MapDescription::operator==(const MapDescription& other) const
  {
    return resolution == other.resolution && origin == other.origin && frame == other.frame &&
           mode == other.mode && negate == other.negate && occupiedThreshold == other.occupiedThreshold &&
           freeThreshold == other.freeThreshold && text == other.text;
  }

  std::string problemWith(const MapDescription& description)
  {
    if (!std::isfinite(description.resolution) || !(description.resolution > 0.0))
      return "resolution must be a finite number of metres above 0";
    const char* const axes[] = {"origin x", "origin y", "origin yaw"};
    for (std::size_t i = 0; i < description.origin.size(); ++i)
      if (!std::isfinite(description.origin[i]))
        return std::string(axes[i]) + " must be a finite number";
    const double free = description.freeThreshold, occupied = description.occupiedThreshold;
    if (!(free >= 0.0 && free <= 1.0) || !(occupied >= 0.0 && occupied <= 1.0))
      return "free_thresh and occupied_thresh must lie within 0..1";
    if (!(free < occupied))
      return "free_thresh must be below occupied_thresh";
    if (description.frame.size() > longestFrameName)
      return "the frame name is " + std::to_string(description.frame.size()) + " bytes long; at most " +
             std::to_string(longestFrameName) + " are kept";
    if (description.text.size() > longestDescriptionText)
      return "the text is " + std::to_string(description.text.size()) + " bytes long; at most " +
             std::to_string(longestDescriptionText) + " are kept";
    return "";
  }

  MapDescription describedBy(const MapMetadata& metadata, const std::string& frame)
  {
    MapDescription description;
    description.resolution = metadata.resolution;
    description.origin = metadata.origin;
    description.frame = frame;
    description.mode = metadata.mode;
    description.negate = metadata.negate;
    description.occupiedThreshold = metadata.occupiedThreshold;
    description.freeThreshold = metadata.freeThreshold;
    return description;
  }

  MapMetadata metadataOf(const MapDescription& description)
  {
    MapMetadata metadata;
    metadata.resolution = description.resolution;
    metadata.origin = description.origin;
    metadata.mode = description.mode;
    metadata.negate = description.negate;
    metadata.occupiedThreshold = description.occupiedThreshold;
    metadata.freeThreshold = description.freeThreshold;
    return metadata;
  }
}
