#ifndef MAPIO_LITTLEENDIAN_H
#define MAPIO_LITTLEENDIAN_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The byte order of mapio's own files.
namespace mapio
{
  inline void putLittle(std::string& out, std::uint64_t value, int bytes)
  {
    for (int i = 0; i < bytes; ++i)
      out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
  }

  inline std::uint64_t getLittle(std::string_view in, std::size_t at, int bytes)
  {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
      value = (value << 8) | static_cast<unsigned char>(in[at + i]);
    return value;
  }
}

#endif // MAPIO_LITTLEENDIAN_H
