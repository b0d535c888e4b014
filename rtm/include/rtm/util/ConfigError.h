#ifndef RTM_CONFIGERROR_H
#define RTM_CONFIGERROR_H

#include <stdexcept>
#include <string>

namespace RTC
{
  // A command line or configuration the process cannot work with.  The
  // message quotes what the user wrote; control characters in it (a value's
  // \n, say) are written as escapes, so what() is always one line.
  class ConfigError : public std::runtime_error
  {
  public:
    explicit ConfigError(const std::string& what);
  };
}

#endif // RTM_CONFIGERROR_H
