// The durable map file's reader, on any bytes.
#include "FuzzCheck.h"

#include "mapio/MapError.h"
#include "mapio/StoreFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    const mapio::GridMap map = mapio::decodeStoreFile(bytes, "input");
    constexpr std::size_t headerSize = 28;
    fuzzRequire(map.cells.size() + headerSize == size, "a store file read with cells missing or left over");
    fuzzRequire(bytes.compare(headerSize, std::string::npos, map.cells) == 0, "a store file read with other cells");
  }
  catch (const mapio::MapError& error) {
    fuzzRequireOneLine(error.what());
  }
  return 0;
}
