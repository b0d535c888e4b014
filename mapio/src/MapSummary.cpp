#include "mapio/MapSummary.h"

#include "mapio/Checksum.h"
#include "mapio/OccupancyCodec.h"

#include <array>
#include <cstdio>

namespace mapio
{
  namespace
  {
    void add(MapSummary::Counts& counts, unsigned char occupancy, std::size_t cells)
    {
      switch (occupancy) {
        case OccupancyCodec::freeCell: counts.free += cells; break;
        case OccupancyCodec::occupiedCell: counts.occupied += cells; break;
        case OccupancyCodec::unknownCell: counts.unknown += cells; break;
        default: counts.other += cells; break;
      }
    }

    std::string hex(std::uint32_t value)
    {
      char text[9];
      std::snprintf(text, sizeof text, "%08x", value);
      return text;
    }

    std::string countsText(const MapSummary::Counts& counts, bool withOther)
    {
      return "free " + std::to_string(counts.free) + ", occupied " + std::to_string(counts.occupied) +
             ", unknown " + std::to_string(counts.unknown) +
             (withOther ? ", other " + std::to_string(counts.other) : "");
    }

    std::string countsJson(const MapSummary::Counts& counts, bool withOther)
    {
      return "{\"free\": " + std::to_string(counts.free) + ", \"occupied\": " + std::to_string(counts.occupied) +
             ", \"unknown\": " + std::to_string(counts.unknown) +
             (withOther ? ", \"other\": " + std::to_string(counts.other) : "") + "}";
    }
  }

  namespace
  {
    MapSummary::ValueCounts countsOf(std::string_view cells)
    {
      MapSummary::ValueCounts counts{};
      for (char cell : cells)
        ++counts[static_cast<unsigned char>(cell)];
      return counts;
    }
  }

  MapSummary::MapSummary(GridMapView map)
    : MapSummary(map.width, map.height, map.cells.size(), crc32Of(map.cells.data(), map.cells.size()),
                 countsOf(map.cells))
  {
  }

  MapSummary::MapSummary(short width, short height, std::size_t bytes, std::uint32_t crc32,
                         const ValueCounts& histogram)
    : width(width),
      height(height),
      bytes(bytes),
      sizeAgrees(mapio::sizeAgrees(width, height, bytes)),
      crc32(crc32)
  {
    const OccupancyCodec greyCodec{MapMetadata{}};
    for (unsigned value = 0; value < 256; ++value) {
      add(asOccupancy, static_cast<unsigned char>(value), histogram[value]);
      add(asGrey, greyCodec.occupancyOf(static_cast<unsigned char>(value)), histogram[value]);
    }
  }

  std::string MapSummary::text() const
  {
    return "width       " + std::to_string(width) + "\n" +
           "height      " + std::to_string(height) + "\n" +
           "bytes       " + std::to_string(bytes) + (sizeAgrees ? " (= width x height)" : " (NOT width x height)") + "\n" +
           "crc32       " + hex(crc32) + "\n" +
           "occupancy   " + countsText(asOccupancy, true) + "  (values 0 / 100 / 255)\n" +
           "grey image  " + countsText(asGrey, false) + "  (trinary, default thresholds)\n";
  }

  std::string MapSummary::json() const
  {
    return "{" + jsonMembers() + "}\n";
  }

  std::string MapSummary::jsonMembers() const
  {
    return "\"width\": " + std::to_string(width) + ", \"height\": " + std::to_string(height) +
           ", \"bytes\": " + std::to_string(bytes) + ", \"size_agrees\": " + (sizeAgrees ? "true" : "false") +
           ", \"crc32\": \"" + hex(crc32) + "\", \"occupancy\": " + countsJson(asOccupancy, true) +
           ", \"grey\": " + countsJson(asGrey, false);
  }
}
