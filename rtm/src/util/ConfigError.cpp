#include "rtm/util/ConfigError.h"

#include <cstdio>

namespace RTC
{
  namespace
  {
    std::string withControlsEscaped(const std::string& text)
    {
      std::string line;
      for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) {
          line += c;
          continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", u);
        line += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : escape;
      }
      return line;
    }
  }

  ConfigError::ConfigError(const std::string& what)
    : std::runtime_error(withControlsEscaped(what))
  {
  }
}
