#ifndef MAPIO_CRC32PATCH_H
#define MAPIO_CRC32PATCH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace mapio
{
  // What changing some rows of a message does to its CRC-32 (zlib's), in
  // time that grows with the changed octets, not with the message.  The
  // CRC is affine in the message: for messages of one length,
  // crc(a) ^ crc(b) is the CRC register of a ^ b without the initial and
  // final inversion, and zero octets on either side of a difference only
  // multiply it by a power of x, which zlib's crc32_combine computes.
  //
  // The rows are `rowLength` octets, each `stride` after the one before;
  // feed each row's old ^ new octets in order, then the XOR of finish()
  // and the old CRC is the new CRC.
  class Crc32Patch
  {
  public:
    Crc32Patch(std::size_t rowLength, std::size_t stride);

    // `difference` is rowLength octets.
    void addRow(const char* difference);
    // `after`: the octets of the message after the last row fed.
    std::uint32_t finish(std::uint64_t after) const;

  private:
    std::size_t rowLength_;
    unsigned long toNextRow_;      // zlib's operator for `stride` - rowLength octets and a row
    std::uint32_t ofZeros_;        // CRC-32 of rowLength zero octets
    std::uint32_t register_ = 0;  // of the differences so far
  };
}

#endif // MAPIO_CRC32PATCH_H
