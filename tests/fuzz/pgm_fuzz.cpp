// The PGM reader (binary and plain), on any bytes.
#include "FuzzCheck.h"

#include "mapio/MapError.h"
#include "mapio/PgmImage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    const mapio::GridMap map = mapio::decodePgm(bytes, "input");
    fuzzRequire(map.width > 0 && map.height > 0 && map.sizeAgrees(), "a PGM read with a size its cells disagree with");
    fuzzRequire(mapio::decodePgm(mapio::encodePgm(map), "written").cells == map.cells,
                "a PGM that does not read back as it was written");
  }
  catch (const mapio::MapError& error) {
    fuzzRequireOneLine(error.what());
  }
  return 0;
}
