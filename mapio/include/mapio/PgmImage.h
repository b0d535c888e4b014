#ifndef MAPIO_PGMIMAGE_H
#define MAPIO_PGMIMAGE_H

#include "mapio/GridMap.h"

#include <string>

namespace mapio
{
  // 8-bit PGM, binary (P5) or plain (P2), maximum value 1 to 255.  Grey
  // values are kept as they are, top row first; a maximum other than 255
  // is not kept.  `where` names the source in errors.  Throws MapError.
  GridMap decodePgm(const std::string& bytes, const std::string& where);

  // Binary PGM (P5, maximum 255) of a map whose size agrees.
  std::string encodePgm(const GridMap& map);
}

#endif // MAPIO_PGMIMAGE_H
