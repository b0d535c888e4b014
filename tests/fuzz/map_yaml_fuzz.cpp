// The map YAML reader and the occupancy conversion it configures, on any
// text.
#include "FuzzCheck.h"

#include "mapio/MapError.h"
#include "mapio/MapYaml.h"
#include "mapio/OccupancyCodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const mapio::MapMetadata metadata = mapio::decodeMapYaml(text, "input");
    const mapio::OccupancyCodec codec(metadata);
    for (int grey = 0; grey < 256; ++grey) {
      const unsigned char occupancy = codec.occupancyOf(static_cast<unsigned char>(grey));
      fuzzRequire(occupancy <= mapio::OccupancyCodec::occupiedCell || occupancy == mapio::OccupancyCodec::unknownCell ||
                  metadata.mode == mapio::OccupancyMode::Raw,
                  "a grey value converted to no occupancy value");
    }
    const mapio::MapMetadata written = mapio::decodeMapYaml(mapio::encodeMapYaml(metadata), "written");
    fuzzRequire(written.image == metadata.image && written.mode == metadata.mode && written.negate == metadata.negate,
                "a map YAML that does not read back as it was written");
  }
  catch (const mapio::MapError& error) {
    fuzzRequireOneLine(error.what());
  }
  return 0;
}
