#ifndef RTM_NUMERICSETTINGS_H
#define RTM_NUMERICSETTINGS_H

#include "rtm/util/Properties.h"

#include <chrono>
#include <string>

namespace RTC
{
  // The framework's numeric keys, each with the range of values that make
  // sense for it.  Throws ConfigError naming the first key out of range.
  void checkNumericSettings(const Properties& config);

  // The value of one numeric key, checked against its range (ConfigError);
  // known to be valid after loadManagerConfig.
  double numericSetting(const Properties& config, const std::string& key);
  std::chrono::milliseconds secondsSetting(const Properties& config, const std::string& key);
}

#endif // RTM_NUMERICSETTINGS_H
