#ifndef RTM_LISTENSETTINGS_H
#define RTM_LISTENSETTINGS_H

#include "rtm/util/Properties.h"

#include <optional>
#include <string>

namespace RTC
{
  // Where a server of the component listens: a host (brackets taken off an
  // IPv6 literal) and a port, 0 for any free one.
  struct ListenAddress
  {
    std::string host;
    int port = 0;
  };

  // The host:port value of `key`; nothing when it is empty (the server is
  // off).  Throws ConfigError naming the key when it is not host:port.
  std::optional<ListenAddress> listenAddressSetting(const Properties& config, const std::string& key);

  // The whole number `key` gives, `fallback` when it is empty.  Throws
  // ConfigError naming the key and the range when it is not one in range.
  long wholeNumberSetting(const Properties& config, const std::string& key, long fallback, long minimum, long maximum);
}

#endif // RTM_LISTENSETTINGS_H
