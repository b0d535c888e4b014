#include "mapio/Crc32Patch.h"

#include "mapio/Checksum.h"

#include <zlib.h>

#include <vector>

namespace mapio
{
  Crc32Patch::Crc32Patch(std::size_t rowLength, std::size_t stride)
    : rowLength_(rowLength),
      toNextRow_(::crc32_combine_gen64(static_cast<z_off64_t>(stride)))
  {
    const std::vector<char> zeros(rowLength, '\0');
    ofZeros_ = crc32Of(zeros.data(), zeros.size());
  }

  void Crc32Patch::addRow(const char* difference)
  {
    // Rows end `stride` apart: the register so far moves past one stride.
    const std::uint32_t row = crc32Of(difference, rowLength_) ^ ofZeros_;
    register_ = static_cast<std::uint32_t>(::crc32_combine_op(register_, row, toNextRow_));
  }

  std::uint32_t Crc32Patch::finish(std::uint64_t after) const
  {
    return static_cast<std::uint32_t>(::crc32_combine64(register_, 0, static_cast<z_off64_t>(after)));
  }
}
