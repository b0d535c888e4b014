#include "mapio/Checksum.h"

#include <zlib.h>

#include <algorithm>

namespace mapio
{
  std::uint32_t crc32Of(const void* data, std::size_t length, std::uint32_t running)
  {
    // zlib takes lengths as uInt: feed it pieces that fit.
    const Bytef* next = static_cast<const Bytef*>(data);
    uLong crc = running;
    while (length > 0) {
      const std::size_t piece = std::min<std::size_t>(length, 1u << 30);
      crc = ::crc32(crc, next, static_cast<uInt>(piece));
      next += piece;
      length -= piece;
    }
    return static_cast<std::uint32_t>(crc);
  }

  std::uint32_t crc32Combined(std::uint32_t ofFirst, std::uint32_t ofSecond, std::uint64_t secondLength)
  {
    return static_cast<std::uint32_t>(::crc32_combine64(ofFirst, ofSecond, static_cast<z_off64_t>(secondLength)));
  }
}
