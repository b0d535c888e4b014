#ifndef MAPIO_CHECKSUM_H
#define MAPIO_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace mapio
{
  // CRC-32 (zlib's), continued from `running` (0 to start).
  std::uint32_t crc32Of(const void* data, std::size_t length, std::uint32_t running = 0);
}

#endif // MAPIO_CHECKSUM_H
