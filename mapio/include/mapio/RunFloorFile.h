#ifndef MAPIO_RUNFLOORFILE_H
#define MAPIO_RUNFLOORFILE_H

#include <cstdint>
#include <optional>
#include <string>

namespace mapio
{
  // The file beside the store file that says above which version the
  // versions of the last run started, so that the next run starts above
  // all of them even when none of its maps reached the disk:
  //   0  magic "KVNTRUN\0"       8 bytes
  //   8  format, 1               u32
  //  12  floor                   u64
  //  20  CRC-32 of bytes 8..19   u32
  // All numbers little-endian; 24 bytes.

  // Nothing if no file exists at `path`; throws MapError for a damaged one.
  std::optional<std::uint64_t> readRunFloor(const std::string& path);

  // Replaces the file crash-safely.  Throws MapError.
  void writeRunFloor(const std::string& path, std::uint64_t floor);
}

#endif // MAPIO_RUNFLOORFILE_H
