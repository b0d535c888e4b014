#ifndef RTM_LOCALSOCKET_H
#define RTM_LOCALSOCKET_H

#include "rtm/util/Properties.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace RTC
{
  // The Unix-domain socket that same-host clients reach the ORB through:
  // a socket file in a folder that only this user (and, if configured, one
  // group) may enter, so file permissions decide who can connect.
  struct LocalSocketSettings
  {
    bool enabled = false;
    std::string folder;      // %u replaced by the user's name
    mode_t permission = 0;   // of the folder and the socket; never any bit for others
    std::string group;       // owning group of the folder, or empty for the user's own
    std::string socketPath;  // of this process
  };

  // Reads corba.local.*; throws ConfigError naming the key for a value
  // that would open the socket to every local user or cannot be used.
  LocalSocketSettings localSocketSettings(const Properties& config);

  // Creates the folder (or checks that the existing one belongs to this
  // user and is not a link), sets its permissions and group, and removes
  // the sockets in it that nobody listens on any more (left by processes
  // that were killed).  Throws ConfigError with a one-line reason.
  void prepareLocalSocketFolder(const LocalSocketSettings& settings);

  // ORB_init options that add the socket as an end point with its permissions.
  std::vector<std::string> localSocketOrbOptions(const LocalSocketSettings& settings);
}

#endif // RTM_LOCALSOCKET_H
