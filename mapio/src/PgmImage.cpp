#include "mapio/PgmImage.h"

#include "mapio/MapError.h"

#include <cctype>
#include <limits>

namespace mapio
{
  namespace
  {
    // Reads the header's and the plain format's decimal numbers, skipping
    // white space and '#' comments as the format allows between them.
    class PgmScanner
    {
    public:
      PgmScanner(const std::string& bytes, const std::string& where)
        : bytes_(bytes), where_(where) {}

      unsigned number(const char* what, unsigned maximum)
      {
        skipSpaceAndComments();
        if (at_ >= bytes_.size())
          fail(std::string("truncated PGM: ") + what + " missing");
        if (!std::isdigit(static_cast<unsigned char>(bytes_[at_])))
          fail(std::string("malformed PGM: ") + what + " is not a number");
        unsigned long value = 0;
        while (at_ < bytes_.size() && std::isdigit(static_cast<unsigned char>(bytes_[at_]))) {
          value = value * 10 + static_cast<unsigned>(bytes_[at_++] - '0');
          if (value > maximum)
            fail(std::string("unsupported PGM: ") + what + " over " + std::to_string(maximum));
        }
        return static_cast<unsigned>(value);
      }

      // The one white-space character that ends the header of a P5 file.
      void headerEnd()
      {
        if (at_ >= bytes_.size() || !std::isspace(static_cast<unsigned char>(bytes_[at_])))
          fail("malformed PGM: no white space after the header");
        ++at_;
      }

      std::size_t position() const { return at_; }

      [[noreturn]] void fail(const std::string& what) const { throw MapError(what, where_); }

    private:
      void skipSpaceAndComments()
      {
        while (at_ < bytes_.size()) {
          if (std::isspace(static_cast<unsigned char>(bytes_[at_])))
            ++at_;
          else if (bytes_[at_] == '#')
            while (at_ < bytes_.size() && bytes_[at_] != '\n' && bytes_[at_] != '\r')
              ++at_;
          else
            break;
        }
      }

      const std::string& bytes_;
      const std::string& where_;
      std::size_t at_ = 2;  // after the magic number
    };
  }

  GridMap decodePgm(const std::string& bytes, const std::string& where)
  {
    const bool binary = bytes.compare(0, 2, "P5") == 0;
    if (!binary && bytes.compare(0, 2, "P2") != 0)
      throw MapError("not a PGM file (no P5 or P2 magic number)", where);

    PgmScanner scan(bytes, where);
    const unsigned widthLimit = std::numeric_limits<short>::max();
    const unsigned width = scan.number("width", widthLimit);
    const unsigned height = scan.number("height", widthLimit);
    const unsigned maximum = scan.number("maximum value", 255);
    if (width == 0 || height == 0)
      scan.fail("malformed PGM: width and height must be positive");
    if (maximum == 0)
      scan.fail("malformed PGM: maximum value must be positive");

    GridMap map;
    map.width = static_cast<short>(width);
    map.height = static_cast<short>(height);
    const std::size_t count = static_cast<std::size_t>(width) * height;
    if (binary) {
      scan.headerEnd();
      if (bytes.size() - scan.position() < count)
        scan.fail("truncated PGM: " + std::to_string(count) + " pixels expected, " +
                  std::to_string(bytes.size() - scan.position()) + " present");
      map.cells.assign(bytes, scan.position(), count);
      for (char cell : map.cells)
        if (static_cast<unsigned char>(cell) > maximum)
          scan.fail("malformed PGM: a pixel exceeds the maximum value");
    }
    else {
      // Each pixel takes a separator and a digit at least: a size the rest
      // of the file cannot hold is refused before its cells are allocated.
      const std::size_t room = (bytes.size() - scan.position()) / 2;
      if (room < count)
        scan.fail("truncated PGM: " + std::to_string(count) + " pixels expected, room for " +
                  std::to_string(room) + " left");
      map.cells.resize(count);
      for (std::size_t i = 0; i < count; ++i)
        map.cells[i] = static_cast<char>(scan.number("pixel", maximum));
    }
    return map;
  }

  std::string pgmHeader(GridMapView map)
  {
    return "P5\n" + std::to_string(map.width) + " " + std::to_string(map.height) + "\n255\n";
  }

  std::string encodePgm(GridMapView map)
  {
    return pgmHeader(map).append(map.cells);
  }
}
