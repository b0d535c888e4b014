#include "rtm/util/ListenSettings.h"

#include "rtm/util/ConfigError.h"

#include <cstdlib>

namespace RTC
{
  std::optional<ListenAddress> listenAddressSetting(const Properties& config, const std::string& key)
  {
    const std::string endpoint = trimmed(config.getProperty(key));
    if (endpoint.empty())
      return std::nullopt;
    ListenAddress address;
    const std::size_t colon = endpoint.rfind(':');
    const std::string portText = colon == std::string::npos ? "" : endpoint.substr(colon + 1);
    address.host = colon == std::string::npos ? "" : endpoint.substr(0, colon);
    if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']')
      address.host = address.host.substr(1, address.host.size() - 2);
    char* end = nullptr;
    const long port = std::strtol(portText.c_str(), &end, 10);
    if (address.host.empty() || portText.empty() || *end != '\0' || port < 0 || port > 65535)
      throw ConfigError(key + " must be host:port (port 0 for any free one), not '" + endpoint + "'");
    address.port = static_cast<int>(port);
    return address;
  }

  long wholeNumberSetting(const Properties& config, const std::string& key, long fallback, long minimum, long maximum)
  {
    const std::string text = trimmed(config.getProperty(key));
    if (text.empty())
      return fallback;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < minimum || value > maximum)
      throw ConfigError(key + " must be a whole number from " + std::to_string(minimum) + " to " +
                        std::to_string(maximum) + ", not '" + text + "'");
    return value;
  }
}
