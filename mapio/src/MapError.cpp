#include "mapio/MapError.h"

#include <cstdio>
#include <cstring>

namespace mapio
{
  namespace
  {
    // Both parts may quote the input (a parser's complaint about a
    // character, a path): control characters are written as escapes so that
    // the message stays one line.
    std::string oneLine(const std::string& text)
    {
      std::string line;
      for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n')
          line += "\\n";
        else if (c == '\r')
          line += "\\r";
        else if (c == '\t')
          line += "\\t";
        else if (u < 0x20 || u == 0x7f) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02x", u);
          line += escape;
        }
        else
          line += c;
      }
      return line;
    }
  }

  MapError::MapError(const std::string& what, const std::string& where)
    : std::runtime_error(oneLine(what) + " (" + oneLine(where) + ")")
  {
  }

  std::string systemError(int number)
  {
    return std::strerror(number);
  }
}
