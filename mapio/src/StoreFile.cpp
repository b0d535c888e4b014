#include "mapio/StoreFile.h"

#include "mapio/AtomicFile.h"
#include "mapio/Checksum.h"
#include "mapio/FileBytes.h"
#include "mapio/MapError.h"

#include <cerrno>
#include <cstdint>
#include <sys/stat.h>

namespace mapio
{
  namespace
  {
    const std::string magic("KVNTMAP\0", 8);
    constexpr std::uint32_t version = 1;
    constexpr std::size_t headerSize = 28;
    constexpr std::size_t checkedFrom = 8;
    constexpr std::size_t checksumAt = 24;

    void putLittle(std::string& out, std::uint64_t value, int bytes)
    {
      for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }

    std::uint64_t getLittle(const std::string& in, std::size_t at, int bytes)
    {
      std::uint64_t value = 0;
      for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + i]);
      return value;
    }

    std::uint32_t checksumOf(const std::string& header, const char* cells, std::size_t count)
    {
      const std::uint32_t ofHeader = crc32Of(header.data() + checkedFrom, checksumAt - checkedFrom);
      return crc32Of(cells, count, ofHeader);
    }

    std::string storeHeaderOf(short width, short height, std::string_view cells)
    {
      std::string bytes = magic;
      putLittle(bytes, version, 4);
      putLittle(bytes, static_cast<std::uint16_t>(width), 2);
      putLittle(bytes, static_cast<std::uint16_t>(height), 2);
      putLittle(bytes, cells.size(), 8);
      putLittle(bytes, checksumOf(bytes, cells.data(), cells.size()), 4);
      return bytes;
    }
  }

  GridMap decodeStoreFile(const std::string& bytes, const std::string& where)
  {
    if (bytes.size() < magic.size() || bytes.compare(0, magic.size(), magic) != 0)
      throw MapError("not a map store file (wrong magic number)", where);
    if (bytes.size() < headerSize)
      throw MapError("map store file is truncated: header incomplete", where);
    const std::uint64_t fileVersion = getLittle(bytes, 8, 4);
    if (fileVersion != version)
      throw MapError("map store file has version " + std::to_string(fileVersion) +
                     ", this program reads version " + std::to_string(version), where);
    const std::uint64_t count = getLittle(bytes, 16, 8);
    if (bytes.size() - headerSize < count)
      throw MapError("map store file is truncated: " + std::to_string(bytes.size() - headerSize) +
                     " of " + std::to_string(count) + " cells present", where);
    if (bytes.size() - headerSize > count)
      throw MapError("map store file is corrupt: bytes after the last cell", where);
    if (checksumOf(bytes, bytes.data() + headerSize, count) != getLittle(bytes, checksumAt, 4))
      throw MapError("map store file is corrupt: checksum mismatch", where);

    GridMap map;
    map.width = static_cast<short>(static_cast<std::uint16_t>(getLittle(bytes, 12, 2)));
    map.height = static_cast<short>(static_cast<std::uint16_t>(getLittle(bytes, 14, 2)));
    map.cells.assign(bytes, headerSize, count);
    return map;
  }

  std::optional<GridMap> readStoreFile(const std::string& path)
  {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
      return std::nullopt;
    return decodeStoreFile(readFileBytes(path), path);
  }

  void writeStoreFile(const std::string& path, short width, short height, std::string_view cells)
  {
    const std::string header = storeHeaderOf(width, height, cells);
    AtomicFile file(path);
    file.write(header.data(), header.size());
    file.write(cells.data(), cells.size());
    file.commit(AtomicFile::Durability::Synced);
  }
}
