#include "ros2/Ros2Settings.h"

#include <rtm/util/ConfigError.h>

#include <cstdlib>

namespace
{
  // Domain ids whose discovery ports stay below 65536.
  constexpr long highestDomain = 232;

  int domainOf(const std::string& key, const std::string& text)
  {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > highestDomain)
      throw RTC::ConfigError(key + " must be a whole number from 0 to " + std::to_string(highestDomain) + ", not '" +
                             text + "'");
    return static_cast<int>(value);
  }

  // A ROS name from the root: letters, digits, '_' and '/', not ending in
  // '/'; a relative one is taken from the root, as in a node without a
  // namespace.
  std::string rosName(const std::string& key, const std::string& text)
  {
    const std::string name = !text.empty() && text.front() == '/' ? text : "/" + text;
    bool fit = name.size() > 1 && name.back() != '/' && name.find("//") == std::string::npos;
    for (char c : name)
      fit = fit && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '/');
    if (!fit)
      throw RTC::ConfigError(key + " must be a ROS topic name (letters, digits, _ and /), not '" + text + "'");
    return name;
  }

  const char* environment(const char* name)
  {
    const char* value = std::getenv(name);
    return value == nullptr ? "" : value;
  }
}

std::string ddsTopicOf(const std::string& name)
{
  return "rt" + name;
}

std::optional<Ros2Settings> ros2SettingsOf(const RTC::Properties& config)
{
  if (!RTC::isYes(RTC::trimmed(config.getProperty("korvent.ros2.enable")), false))
    return std::nullopt;
  Ros2Settings settings;
  const std::string domain = RTC::trimmed(config.getProperty("korvent.ros2.domain"));
  const std::string fromEnvironment = RTC::trimmed(environment("ROS_DOMAIN_ID"));
  if (!domain.empty())
    settings.domain = domainOf("korvent.ros2.domain", domain);
  else if (!fromEnvironment.empty())
    settings.domain = domainOf("ROS_DOMAIN_ID", fromEnvironment);
  settings.topic = rosName("korvent.ros2.topic", RTC::trimmed(config.getProperty("korvent.ros2.topic", "/map")));
  const std::string subscribe = RTC::trimmed(config.getProperty("korvent.ros2.subscribe"));
  if (!subscribe.empty())
    settings.subscribe = rosName("korvent.ros2.subscribe", subscribe);
  settings.localhostOnly = RTC::isYes(RTC::trimmed(config.getProperty("korvent.ros2.localhost_only")),
                                      std::string(environment("ROS_LOCALHOST_ONLY")) == "1");
  settings.cells = rosCellLayoutOf(config);
  return settings;
}

RosCells::Layout rosCellLayoutOf(const RTC::Properties& config)
{
  const bool loadedOccupancy = RTC::trimmed(config.getProperty("korvent.map.load.occupancy")) == "yes";
  const std::string cells =
    RTC::trimmed(config.getProperty("korvent.ros2.cells", loadedOccupancy ? "occupancy" : "image"));
  if (cells != "image" && cells != "occupancy")
    throw RTC::ConfigError("korvent.ros2.cells must be image or occupancy, not '" + cells + "'");
  return cells == "image" ? RosCells::Layout::Image : RosCells::Layout::Occupancy;
}
