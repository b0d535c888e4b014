#include "web/HttpSettings.h"

#include <rtm/util/ListenSettings.h>

std::optional<HttpSettings> httpSettingsOf(const RTC::Properties& config)
{
  const std::optional<RTC::ListenAddress> address = RTC::listenAddressSetting(config, "korvent.http.endpoint");
  if (!address)
    return std::nullopt;
  HttpSettings settings;
  settings.host = address->host;
  settings.port = address->port;
  settings.maxConnections =
    static_cast<int>(RTC::wholeNumberSetting(config, "korvent.http.max_connections", 8, 1, 1024));
  settings.timeout = std::chrono::seconds(RTC::wholeNumberSetting(config, "korvent.http.timeout", 5, 1, 3600));
  settings.renderSlots = static_cast<int>(RTC::wholeNumberSetting(config, "korvent.http.render_slots", 2, 1, 64));
  settings.cacheBytes = std::size_t(RTC::wholeNumberSetting(config, "korvent.http.cache_mb", 32, 1, 65536)) << 20;
  settings.tls = RTC::configuredTlsSettings(config);
  return settings;
}
