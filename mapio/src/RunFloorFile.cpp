#include "mapio/RunFloorFile.h"

#include "mapio/AtomicFile.h"
#include "mapio/Checksum.h"
#include "mapio/FileBytes.h"
#include "mapio/MapError.h"
#include "LittleEndian.h"

#include <cerrno>
#include <sys/stat.h>

namespace mapio
{
  namespace
  {
    const std::string magic("KVNTRUN\0", 8);
    constexpr std::uint32_t format = 1;
    constexpr std::size_t fileSize = 24;
  }

  std::optional<std::uint64_t> readRunFloor(const std::string& path)
  {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
      return std::nullopt;
    const std::string bytes = readFileBytes(path);
    if (bytes.size() != fileSize || bytes.compare(0, magic.size(), magic) != 0 || getLittle(bytes, 8, 4) != format)
      throw MapError("not a run floor file of format " + std::to_string(format), path);
    if (crc32Of(bytes.data() + 8, 12) != getLittle(bytes, 20, 4))
      throw MapError("run floor file is corrupt: checksum mismatch", path);
    return getLittle(bytes, 12, 8);
  }

  void writeRunFloor(const std::string& path, std::uint64_t floor)
  {
    std::string bytes = magic;
    putLittle(bytes, format, 4);
    putLittle(bytes, floor, 8);
    putLittle(bytes, crc32Of(bytes.data() + 8, 12), 4);
    writeFileAtomically(path, bytes, AtomicFile::Durability::Synced);
  }
}
