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
    const mapio::StoredMap map = mapio::decodeStoreFile(bytes, "input");
    // The header of format 1 is 28 octets, of format 2 36; a description
    // section may follow the cells, nothing else.
    const std::size_t headerSize = static_cast<unsigned char>(bytes[8]) == 1 ? 28 : 36;
    const std::size_t used = headerSize + map.cells.size();
    fuzzRequire(map.description ? used < size : used == size, "a store file read with cells missing or left over");
    fuzzRequire(bytes.compare(headerSize, map.cells.size(), map.cells) == 0, "a store file read with other cells");
  }
  catch (const mapio::MapError& error) {
    fuzzRequireOneLine(error.what());
  }
  return 0;
}
