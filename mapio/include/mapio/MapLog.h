#ifndef MAPIO_MAPLOG_H
#define MAPIO_MAPLOG_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace mapio
{
  // The log beside the store file: the region and description writes made
  // since the store file's map, one record each, appended in order.
  //
  // Header, 32 bytes:
  //    0  magic "KVNTLOG\0"              8 bytes
  //    8  format, 1                      u32
  //   12  header length, 32              u32 (a later format may grow it)
  //   16  base version                   u64: the map the first record follows
  //   24  zero                           u32
  //   28  CRC-32 of bytes 8..27          u32
  // Record, 48 + cells bytes:
  //    0  record length                  u32
  //    4  kind                           u32: 1 region write, 2 description
  //                                          (other kinds are skipped when intact)
  //    8  version it made                u64
  //   16  version it was made from       u64
  //   24  x, y, width, height            four i32 (zero for a description)
  //   40  kind 1: the cells, width x height, row-major;
  //       kind 2: the description, as the store file's section holds it
  //  L-8  record length again            u32 (finds the last record from the end)
  //  L-4  CRC-32 of bytes 0..L-5         u32
  // All numbers little-endian.
  namespace maplog
  {
    constexpr std::size_t headerSize = 32;
    constexpr std::size_t recordOverhead = 48;
    constexpr std::uint32_t regionKind = 1;
    constexpr std::uint32_t descriptionKind = 2;

    std::string header(std::uint64_t baseVersion);

    // Appends a region record to `out` whose cells are left for the caller
    // to fill, and returns where they start in `out`; endRecord() then
    // seals it.
    std::size_t beginRegionRecord(std::string& out, std::uint64_t version, std::uint64_t base, int x, int y,
                                  int width, int height);
    void endRecord(std::string& out, std::size_t recordStart);

    // Appends a whole description record holding `section`
    // (encodeDescriptionSection) to `out`.
    void appendDescriptionRecord(std::string& out, std::uint64_t version, std::uint64_t base,
                                 const std::string& section);
  }

  // One record as read back.
  struct LogRecord
  {
    std::uint32_t kind = 0;
    std::uint64_t version = 0;
    std::uint64_t base = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string cells;
  };
}

#endif // MAPIO_MAPLOG_H
