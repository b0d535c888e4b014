#include "mapio/MapError.h"

#include <cstring>

namespace mapio
{
  MapError::MapError(const std::string& what, const std::string& where)
    : std::runtime_error(what + " (" + where + ")")
  {
  }

  std::string systemError(int number)
  {
    return std::strerror(number);
  }
}
