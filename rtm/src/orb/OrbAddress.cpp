#include "rtm/orb/OrbAddress.h"

#include <cstdlib>

namespace RTC
{
  Endpoint endpointOf(const char* orbAddress)
  {
    std::string text = orbAddress ? orbAddress : "";
    if (text.rfind("giop:", 0) == 0) {
      const std::size_t transportEnd = text.find(':', 5);
      if (transportEnd != std::string::npos)
        text = text.substr(transportEnd + 1);
    }
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos)
      return {text, 0};
    std::string host = text.substr(0, colon);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    return {withoutMappedPrefix(host), static_cast<unsigned>(std::strtoul(text.c_str() + colon + 1, nullptr, 10))};
  }

  std::string withoutMappedPrefix(const std::string& host)
  {
    return host.rfind("::ffff:", 0) == 0 ? host.substr(7) : host;
  }

  std::string hostKey(const std::string& host)
  {
    return host == "::1" || host.rfind("127.", 0) == 0 ? "loopback" : host;
  }
}
