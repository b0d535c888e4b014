#include "mapio/StoreFile.h"

#include "mapio/AtomicFile.h"
#include "mapio/Checksum.h"
#include "mapio/FileBytes.h"
#include "mapio/MapError.h"
#include "LittleEndian.h"

#include <cerrno>
#include <cstdint>
#include <sys/stat.h>
#include <utility>

namespace mapio
{
  namespace
  {
    const std::string magic("KVNTMAP\0", 8);
    constexpr std::uint32_t format = 2;
    constexpr std::size_t checkedFrom = 8;

    // Where the two formats differ: the checksum follows the map version,
    // which format 1 does not have.
    constexpr std::size_t checksumAt(std::uint64_t fileFormat) { return fileFormat == 1 ? 24 : 32; }
    constexpr std::size_t headerSize(std::uint64_t fileFormat) { return checksumAt(fileFormat) + 4; }

    std::uint32_t checksumOf(const std::string& header, std::uint64_t fileFormat, const char* cells,
                             std::size_t count)
    {
      const std::uint32_t ofHeader = crc32Of(header.data() + checkedFrom, checksumAt(fileFormat) - checkedFrom);
      return crc32Of(cells, count, ofHeader);
    }

    std::string storeHeaderOf(short width, short height, std::uint64_t count, std::uint32_t cellsCrc,
                              std::uint64_t mapVersion)
    {
      std::string bytes = magic;
      putLittle(bytes, format, 4);
      putLittle(bytes, static_cast<std::uint16_t>(width), 2);
      putLittle(bytes, static_cast<std::uint16_t>(height), 2);
      putLittle(bytes, count, 8);
      putLittle(bytes, mapVersion, 8);
      const std::uint32_t ofHeader = crc32Of(bytes.data() + checkedFrom, checksumAt(format) - checkedFrom);
      putLittle(bytes, crc32Combined(ofHeader, cellsCrc, count), 4);
      return bytes;
    }
  }

  StoredMap decodeStoreFile(const std::string& bytes, const std::string& where)
  {
    if (bytes.size() < magic.size() || bytes.compare(0, magic.size(), magic) != 0)
      throw MapError("not a map store file (wrong magic number)", where);
    if (bytes.size() < headerSize(1))
      throw MapError("map store file is truncated: header incomplete", where);
    const std::uint64_t fileFormat = getLittle(bytes, 8, 4);
    if (fileFormat != 1 && fileFormat != format)
      throw MapError("map store file has version " + std::to_string(fileFormat) +
                     ", this program reads versions 1 and " + std::to_string(format), where);
    const std::size_t headerBytes = headerSize(fileFormat);
    if (bytes.size() < headerBytes)
      throw MapError("map store file is truncated: header incomplete", where);
    const std::uint64_t count = getLittle(bytes, 16, 8);
    if (bytes.size() - headerBytes < count)
      throw MapError("map store file is truncated: " + std::to_string(bytes.size() - headerBytes) +
                     " of " + std::to_string(count) + " cells present", where);
    const std::size_t cellsEnd = headerBytes + count;
    if (bytes.size() > cellsEnd && !startsDescriptionSection(std::string_view(bytes).substr(cellsEnd)))
      throw MapError("map store file is corrupt: bytes after the last cell", where);
    if (checksumOf(bytes, fileFormat, bytes.data() + headerBytes, count) != getLittle(bytes, checksumAt(fileFormat), 4))
      throw MapError("map store file is corrupt: checksum mismatch", where);

    StoredMap map;
    if (fileFormat != 1)
      map.version = getLittle(bytes, 24, 8);
    map.width = static_cast<short>(static_cast<std::uint16_t>(getLittle(bytes, 12, 2)));
    map.height = static_cast<short>(static_cast<std::uint16_t>(getLittle(bytes, 14, 2)));
    map.cells.assign(bytes, headerBytes, count);
    if (bytes.size() > cellsEnd)
      map.description = decodeDescriptionSection(std::string_view(bytes).substr(cellsEnd), where);
    return map;
  }

  std::optional<StoredMap> readStoreFile(const std::string& path)
  {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
      return std::nullopt;
    return decodeStoreFile(readFileBytes(path), path);
  }

  void writeStoreFile(const std::string& path, short width, short height, std::string_view cells,
                      std::uint64_t mapVersion, const StoredDescription* description)
  {
    bool given = false;
    writeStoreFile(path, width, height, cells.size(), crc32Of(cells.data(), cells.size()), mapVersion, [&] {
      return std::exchange(given, true) ? std::string_view() : cells;
    }, description);
  }

  void writeStoreFile(const std::string& path, short width, short height, std::uint64_t cellCount,
                      std::uint32_t cellsCrc, std::uint64_t mapVersion,
                      const std::function<std::string_view()>& nextPiece, const StoredDescription* description)
  {
    const std::string header = storeHeaderOf(width, height, cellCount, cellsCrc, mapVersion);
    AtomicFile file(path);
    file.write(header.data(), header.size());
    for (std::uint64_t written = 0; written < cellCount;) {
      const std::string_view piece = nextPiece();
      if (piece.empty())
        throw MapError("the map ended after " + std::to_string(written) + " of " + std::to_string(cellCount) +
                       " cells", path);
      file.write(piece.data(), piece.size());
      written += piece.size();
    }
    if (description) {
      const std::string section = encodeDescriptionSection(*description);
      file.write(section.data(), section.size());
    }
    file.commit(AtomicFile::Durability::Synced);
  }
}
