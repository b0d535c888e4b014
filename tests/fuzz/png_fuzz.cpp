// The PNG reader, on any bytes.
#include "FuzzCheck.h"

#include "mapio/MapError.h"
#include "mapio/PngImage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    const mapio::GridMap map = mapio::decodePng(bytes, "input");
    fuzzRequire(map.width > 0 && map.height > 0 && map.sizeAgrees(), "a PNG read with a size its cells disagree with");
    fuzzRequire(mapio::decodePng(mapio::encodePng(map, "written"), "written").cells == map.cells,
                "a PNG that does not read back as it was written");
  }
  catch (const mapio::MapError& error) {
    fuzzRequireOneLine(error.what());
  }
  return 0;
}
