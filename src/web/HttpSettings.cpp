#include "web/HttpSettings.h"

#include <rtm/manager/ManagerConfig.h>

#include <cstdlib>

namespace
{
  long wholeNumber(const RTC::Properties& config, const std::string& key, long fallback, long minimum, long maximum)
  {
    const std::string text = RTC::trimmed(config.getProperty(key));
    if (text.empty())
      return fallback;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < minimum || value > maximum)
      throw RTC::ConfigError(key + " must be a whole number from " + std::to_string(minimum) + " to " +
                             std::to_string(maximum) + ", not '" + text + "'");
    return value;
  }
}

std::optional<HttpSettings> httpSettingsOf(const RTC::Properties& config)
{
  const std::string endpoint = RTC::trimmed(config.getProperty("korvent.http.endpoint"));
  if (endpoint.empty())
    return std::nullopt;
  HttpSettings settings;
  const std::size_t colon = endpoint.rfind(':');
  const std::string portText = colon == std::string::npos ? "" : endpoint.substr(colon + 1);
  settings.host = colon == std::string::npos ? "" : endpoint.substr(0, colon);
  if (settings.host.size() > 2 && settings.host.front() == '[' && settings.host.back() == ']')
    settings.host = settings.host.substr(1, settings.host.size() - 2);
  char* end = nullptr;
  const long port = std::strtol(portText.c_str(), &end, 10);
  if (settings.host.empty() || portText.empty() || *end != '\0' || port < 0 || port > 65535)
    throw RTC::ConfigError("korvent.http.endpoint must be host:port (port 0 for any free one), not '" + endpoint + "'");
  settings.port = static_cast<int>(port);
  settings.maxConnections = static_cast<int>(wholeNumber(config, "korvent.http.max_connections", 8, 1, 1024));
  settings.timeout = std::chrono::seconds(wholeNumber(config, "korvent.http.timeout", 5, 1, 3600));
  settings.renderSlots = static_cast<int>(wholeNumber(config, "korvent.http.render_slots", 2, 1, 64));
  settings.cacheBytes = std::size_t(wholeNumber(config, "korvent.http.cache_mb", 32, 1, 65536)) << 20;
  settings.tls = RTC::configuredTlsSettings(config);
  return settings;
}
