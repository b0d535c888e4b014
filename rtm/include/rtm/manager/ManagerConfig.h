#ifndef RTM_MANAGERCONFIG_H
#define RTM_MANAGERCONFIG_H

#include "rtm/util/ConfigError.h"
#include "rtm/util/NumericSettings.h"
#include "rtm/util/Properties.h"

#include <string>
#include <vector>

namespace RTC
{
  // The manager's built-in defaults.
  Properties defaultManagerConfig();

  // Defaults, then the configuration file (-f, else $RTC_MANAGER_CONFIG,
  // else the first of ./rtc.conf and the system locations), then -o/-p/-a.
  // "-ORB<name> <value>" pairs are left for the ORB.  Every numeric key is
  // checked against its range.  Throws ConfigError.
  Properties loadManagerConfig(int argc, char** argv);

  // Keys of the framework's families (corba., naming., manager., ...) that
  // this runtime does not act on; keys of other families belong to
  // components and are not judged here.
  std::vector<std::string> unusedFrameworkKeys(const Properties& config);

  // ORB_init arguments: the runtime's time and resource limits, corba.args,
  // the end points, then the command line's own ORB options.
  std::vector<std::string> orbArguments(const Properties& config, int argc, char** argv);
}

#endif // RTM_MANAGERCONFIG_H
