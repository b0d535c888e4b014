#ifndef MAPIO_FILEBYTES_H
#define MAPIO_FILEBYTES_H

#include <cstdint>
#include <string>

namespace mapio
{
  // Files this large are refused before a byte is read: no map reaches
  // this size, and the octet sequence's length is 32 bits.
  constexpr std::uint64_t fileSizeLimit = std::uint64_t(4) << 30;

  // The whole content of a regular file.  Throws MapError.
  std::string readFileBytes(const std::string& path);
}

#endif // MAPIO_FILEBYTES_H
