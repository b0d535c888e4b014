#ifndef RTM_MANAGERCONFIG_H
#define RTM_MANAGERCONFIG_H

#include "rtm/Properties.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace RTC
{
  // A command line or configuration the manager cannot work with.
  class ConfigError : public std::runtime_error
  {
  public:
    using std::runtime_error::runtime_error;
  };

  // The manager's built-in defaults.
  Properties defaultManagerConfig();

  // Defaults, then the configuration file (-f, else $RTC_MANAGER_CONFIG,
  // else the first of ./rtc.conf and the system locations), then -o/-p.
  // "-ORB<name> <value>" pairs are left for the ORB.  Throws ConfigError.
  Properties loadManagerConfig(int argc, char** argv);

  // ORB_init arguments: corba.args, the end points, then the command
  // line's own ORB options.
  std::vector<std::string> orbArguments(const Properties& config, int argc, char** argv);
}

#endif // RTM_MANAGERCONFIG_H
