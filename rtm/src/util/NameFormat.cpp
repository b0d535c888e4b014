#include "rtm/util/NameFormat.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace RTC
{
  namespace
  {
    std::string hostName()
    {
      utsname names;
      return uname(&names) == 0 ? names.nodename : "localhost";
    }
  }

  std::string formatName(const std::string& format, const Properties& component,
                         const std::string& managerName)
  {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
      if (format[i] != '%' || i + 1 == format.size()) {
        out += format[i];
        continue;
      }
      const char code = format[++i];
      const std::string instance = component.getProperty("instance_name");
      const std::string implementation = component.getProperty("implementation_id");
      switch (code) {
        case 'n': out += instance; break;
        case 't':
        case 'm': out += component.getProperty("type_name"); break;
        case 'v': out += component.getProperty("version"); break;
        case 'V': out += component.getProperty("vendor"); break;
        case 'c': out += component.getProperty("category"); break;
        case 'i': out += implementation; break;
        case 'N':
          out += instance.compare(0, implementation.size(), implementation) == 0
                     ? instance.substr(implementation.size()) : instance;
          break;
        case 'h': out += hostName(); break;
        case 'M': out += managerName; break;
        case 'p': out += std::to_string(getpid()); break;
        case '%': out += '%'; break;
        default: out += '%'; out += code; break;
      }
    }
    return out;
  }
}
