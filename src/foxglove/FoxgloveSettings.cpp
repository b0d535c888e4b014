#include "foxglove/FoxgloveSettings.h"

#include "ros2/Ros2Settings.h"

#include <rtm/util/ListenSettings.h>

std::optional<FoxgloveSettings> foxgloveSettingsOf(const RTC::Properties& config)
{
  const std::optional<RTC::ListenAddress> address = RTC::listenAddressSetting(config, "korvent.foxglove.endpoint");
  if (!address)
    return std::nullopt;
  FoxgloveSettings settings;
  settings.host = address->host;
  settings.port = address->port;
  settings.maxConnections =
    static_cast<int>(RTC::wholeNumberSetting(config, "korvent.foxglove.max_connections", 8, 1, 1024));
  settings.timeout = std::chrono::seconds(RTC::wholeNumberSetting(config, "korvent.foxglove.timeout", 5, 1, 3600));
  settings.maxMessageBytes =
    std::size_t(RTC::wholeNumberSetting(config, "korvent.foxglove.max_message_kb", 64, 1, 16384)) * 1024;
  settings.stallGrace =
    std::chrono::seconds(RTC::wholeNumberSetting(config, "korvent.foxglove.stall_grace", 10, 1, 3600));
  settings.cells = rosCellLayoutOf(config);
  settings.tls = RTC::configuredTlsSettings(config);
  return settings;
}
