#include "mapio/MapLog.h"

#include "mapio/Checksum.h"
#include "LittleEndian.h"

#include <initializer_list>

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

    namespace
    {
      std::size_t beginRecord(std::string& out, std::uint32_t kind, std::uint64_t version, std::uint64_t base,
                              std::initializer_list<int> rectangle, std::size_t payload)
      {
        putLittle(out, recordOverhead + payload, 4);
        putLittle(out, kind, 4);
        putLittle(out, version, 8);
        putLittle(out, base, 8);
        for (int value : rectangle)
          putLittle(out, static_cast<std::uint32_t>(value), 4);
        const std::size_t payloadAt = out.size();
        out.resize(out.size() + payload);
        return payloadAt;
      }
    }

    std::size_t beginRegionRecord(std::string& out, std::uint64_t version, std::uint64_t base, int x, int y,
                                  int width, int height)
    {
      const std::size_t cells = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
      return beginRecord(out, regionKind, version, base, {x, y, width, height}, cells);
    }

    void appendDescriptionRecord(std::string& out, std::uint64_t version, std::uint64_t base,
                                 const std::string& section)
    {
      const std::size_t start = out.size();
      const std::size_t at = beginRecord(out, descriptionKind, version, base, {0, 0, 0, 0}, section.size());
      out.replace(at, section.size(), section);
      endRecord(out, start);
    }

    void endRecord(std::string& out, std::size_t recordStart)
    {
      putLittle(out, out.size() + 8 - recordStart, 4);
      putLittle(out, crc32Of(out.data() + recordStart, out.size() - recordStart), 4);
    }
  }
}
