#include "mapio/StoreDescription.h"

#include "mapio/Checksum.h"
#include "mapio/MapError.h"
#include "LittleEndian.h"

#include <cstring>

namespace mapio
{
  namespace
  {
    const std::string_view magic("KVNTDESC", 8);
    constexpr std::size_t fixedPayload = 6 * 8 + 3;

    std::uint64_t bitsOf(double value)
    {
      std::uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      return bits;
    }

    double valueOf(std::uint64_t bits)
    {
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }

    // Reads the section's fields in order, refusing to read past its end.
    class Reader
    {
    public:
      Reader(std::string_view payload, const std::string& where) : payload_(payload), where_(where) {}

      std::uint64_t number(int bytes)
      {
        need(static_cast<std::size_t>(bytes));
        const std::uint64_t value = getLittle(payload_, at_, bytes);
        at_ += static_cast<std::size_t>(bytes);
        return value;
      }

      std::string text()
      {
        const std::size_t length = static_cast<std::size_t>(number(2));
        need(length);
        std::string value(payload_.substr(at_, length));
        at_ += length;
        return value;
      }

      bool atEnd() const { return at_ == payload_.size(); }

    private:
      void need(std::size_t bytes) const
      {
        if (payload_.size() - at_ < bytes)
          throw MapError("map store file is corrupt: description section too short", where_);
      }

      std::string_view payload_;
      const std::string& where_;
      std::size_t at_ = 0;
    };
  }

  bool startsDescriptionSection(std::string_view bytes)
  {
    return bytes.substr(0, magic.size()) == magic;
  }

  std::string encodeDescriptionSection(const StoredDescription& stored)
  {
    const MapDescription& description = stored.description;
    std::string payload;
    for (double value : {description.resolution, description.origin[0], description.origin[1],
                         description.origin[2], description.occupiedThreshold, description.freeThreshold})
      putLittle(payload, bitsOf(value), 8);
    putLittle(payload, static_cast<std::uint64_t>(description.mode), 1);
    putLittle(payload, description.negate ? 1 : 0, 1);
    putLittle(payload, stored.confirmed ? 1 : 0, 1);
    for (const std::string* text : {&description.frame, &description.text}) {
      putLittle(payload, text->size(), 2);
      payload += *text;
    }

    std::string section(magic);
    putLittle(section, payload.size(), 4);
    section += payload;
    putLittle(section, crc32Of(section.data() + magic.size(), section.size() - magic.size()), 4);
    return section;
  }

  StoredDescription decodeDescriptionSection(std::string_view section, const std::string& where)
  {
    const std::size_t framing = magic.size() + 4 + 4;
    if (section.size() < framing || !startsDescriptionSection(section))
      throw MapError("map store file is corrupt: bytes after the last cell", where);
    const std::uint64_t length = getLittle(section, magic.size(), 4);
    if (length != section.size() - framing || length < fixedPayload)
      throw MapError("map store file is corrupt: description section of the wrong length", where);
    const std::size_t crcAt = section.size() - 4;
    if (crc32Of(section.data() + magic.size(), crcAt - magic.size()) != getLittle(section, crcAt, 4))
      throw MapError("map store file is corrupt: description checksum mismatch", where);

    Reader read(section.substr(magic.size() + 4, length), where);
    StoredDescription stored;
    MapDescription& description = stored.description;
    description.resolution = valueOf(read.number(8));
    for (double& value : description.origin)
      value = valueOf(read.number(8));
    description.occupiedThreshold = valueOf(read.number(8));
    description.freeThreshold = valueOf(read.number(8));
    const std::uint64_t mode = read.number(1);
    const std::uint64_t negate = read.number(1);
    const std::uint64_t confirmed = read.number(1);
    description.frame = read.text();
    description.text = read.text();
    if (mode > static_cast<std::uint64_t>(OccupancyMode::Raw) || negate > 1 || confirmed > 1 || !read.atEnd())
      throw MapError("map store file is corrupt: description section holds unknown values", where);
    description.mode = static_cast<OccupancyMode>(mode);
    description.negate = negate == 1;
    stored.confirmed = confirmed == 1;
    if (const std::string problem = problemWith(description); !problem.empty())
      throw MapError("map store file is corrupt: its description is unusable: " + problem, where);
    return stored;
  }
}
