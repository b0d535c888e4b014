#ifndef MAPIO_STOREFILE_H
#define MAPIO_STOREFILE_H

#include "mapio/GridMap.h"
#include "mapio/StoreDescription.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mapio
{
  // The durable map file: a header, then the cells.
  //   0  magic "KVNTMAP\0"        8 bytes
  //   8  format, 2 (or 1)         u32
  //  12  width, height            two i16
  //  16  cell count               u64
  //  24  map version              u64 (format 2 only)
  //  32  CRC-32 of bytes 8..31 followed by the cells   u32 (at 24 in format 1)
  // All numbers little-endian.  Format 1 files (28-byte header, no map
  // version) are still read, as version 1 of the map.  The map's
  // description, when it has one, follows the cells in a section of its
  // own (see StoreDescription.h); files without one load undescribed.

  // A map read back from the store file, with the version it was stored under.
  struct StoredMap : GridMap
  {
    std::uint64_t version = 1;
    std::optional<StoredDescription> description;
  };

  // The map in `bytes`; throws MapError naming `where` for anything
  // short of a complete, intact store file.
  StoredMap decodeStoreFile(const std::string& bytes, const std::string& where);

  // Nothing if no file exists at `path`, else as decodeStoreFile.
  std::optional<StoredMap> readStoreFile(const std::string& path);

  // Replaces the file crash-safely, in format 2, with the description
  // section when `description` is given.  Throws MapError.
  void writeStoreFile(const std::string& path, short width, short height, std::string_view cells,
                      std::uint64_t mapVersion, const StoredDescription* description = nullptr);

  // The same for `cellCount` cells whose CRC-32 is known already, handed
  // over in pieces, in order, by `nextPiece` (never an empty one before
  // the last cell), so that no whole map need be held for it.
  void writeStoreFile(const std::string& path, short width, short height, std::uint64_t cellCount,
                      std::uint32_t cellsCrc, std::uint64_t mapVersion,
                      const std::function<std::string_view()>& nextPiece,
                      const StoredDescription* description = nullptr);
}

#endif // MAPIO_STOREFILE_H
