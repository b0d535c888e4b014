#ifndef MAPIO_CHECKSUM_H
#define MAPIO_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace mapio
{
  // CRC-32 (zlib's), continued from `running` (0 to start).
  std::uint32_t crc32Of(const void* data, std::size_t length, std::uint32_t running = 0);
  // The CRC-32 of A followed by B from the CRC-32s of each (zlib's crc32_combine).
  std::uint32_t crc32Combined(std::uint32_t ofFirst, std::uint32_t ofSecond, std::uint64_t secondLength);
}

#endif // MAPIO_CHECKSUM_H
