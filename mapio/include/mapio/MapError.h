#ifndef MAPIO_MAPERROR_H
#define MAPIO_MAPERROR_H

#include <stdexcept>
#include <string>

namespace mapio
{
  // An error for the user: what went wrong and where (a file, a host, an
  // option); what() reads "<what> (<where>)", one line: control characters
  // in either part are written as escapes (\n, \x01).
  class MapError : public std::runtime_error
  {
  public:
    MapError(const std::string& what, const std::string& where);
  };

  // The text of errno `number` for a message.
  std::string systemError(int number);
}

#endif // MAPIO_MAPERROR_H
