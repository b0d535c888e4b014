#ifndef MAPIO_STOREFILE_H
#define MAPIO_STOREFILE_H

#include "mapio/GridMap.h"

#include <optional>
#include <string>
#include <string_view>

namespace mapio
{
  // The durable map file: a 28-byte header, then the cells.
  //   0  magic "KVNTMAP\0"        8 bytes
  //   8  version, 1               u32
  //  12  width, height            two i16
  //  16  cell count               u64
  //  24  CRC-32 of bytes 8..23 followed by the cells   u32
  // All numbers little-endian.

  // The map in `bytes`; throws MapError naming `where` for anything
  // short of a complete, intact store file.
  GridMap decodeStoreFile(const std::string& bytes, const std::string& where);

  // Nothing if no file exists at `path`, else as decodeStoreFile.
  std::optional<GridMap> readStoreFile(const std::string& path);

  // Replaces the file crash-safely.  Throws MapError.
  void writeStoreFile(const std::string& path, short width, short height, std::string_view cells);
}

#endif // MAPIO_STOREFILE_H
