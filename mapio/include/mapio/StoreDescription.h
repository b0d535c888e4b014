#ifndef MAPIO_STOREDESCRIPTION_H
#define MAPIO_STOREDESCRIPTION_H

#include "mapio/MapDescription.h"

#include <string>
#include <string_view>

namespace mapio
{
  // The map's description as the store file keeps it, in an optional
  // section after the cells:
  //   0    magic "KVNTDESC"                                   8 bytes
  //   8    payload length N                                   u32
  //  12    resolution, origin x, y, yaw, occupied_thresh,
  //        free_thresh                                        six f64 (IEEE 754 bits as u64)
  //  60    mode (0 trinary, 1 scale, 2 raw), negate, confirmed  three u8
  //  63    frame name: length, bytes                          u16, then the bytes
  //        text: length, bytes                                u16, then the bytes
  //  12+N  CRC-32 of bytes 8 .. 12+N                          u32
  // Little-endian like the rest of the file.
  struct StoredDescription
  {
    MapDescription description;
    bool confirmed = true;  // false: the cells changed size since it was written
  };

  bool startsDescriptionSection(std::string_view bytes);
  std::string encodeDescriptionSection(const StoredDescription& stored);
  // Throws MapError naming `where` unless `section` is one whole, intact
  // section holding a description that could have been stored.
  StoredDescription decodeDescriptionSection(std::string_view section, const std::string& where);
}

#endif // MAPIO_STOREDESCRIPTION_H
