#include "mapio/MapLog.h"

#include "mapio/Checksum.h"
#include "LittleEndian.h"

namespace mapio
{
  namespace maplog
  {
    std::string header(std::uint64_t baseVersion)
    {
      std::string bytes("KVNTLOG\0", 8);
      putLittle(bytes, 1, 4);
      putLittle(bytes, headerSize, 4);
      putLittle(bytes, baseVersion, 8);
      putLittle(bytes, 0, 4);
      putLittle(bytes, crc32Of(bytes.data() + 8, 20), 4);
      return bytes;
    }

    std::size_t beginRegionRecord(std::string& out, std::uint64_t version, std::uint64_t base, int x, int y,
                                  int width, int height)
    {
      const std::size_t cells = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
      putLittle(out, recordOverhead + cells, 4);
      putLittle(out, regionKind, 4);
      putLittle(out, version, 8);
      putLittle(out, base, 8);
      for (int value : {x, y, width, height})
        putLittle(out, static_cast<std::uint32_t>(value), 4);
      const std::size_t cellsAt = out.size();
      out.resize(out.size() + cells);
      return cellsAt;
    }

    void endRecord(std::string& out, std::size_t recordStart)
    {
      putLittle(out, out.size() + 8 - recordStart, 4);
      putLittle(out, crc32Of(out.data() + recordStart, out.size() - recordStart), 4);
    }
  }
}
