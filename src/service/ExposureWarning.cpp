#include "service/ExposureWarning.h"

#include <rtm/util/Logger.h>
#include <rtm/manager/OrbRuntime.h>

void warnWhenExposed(const std::vector<std::string>& addresses, const std::string& risk, const std::string& remedy)
{
  std::string exposed;
  for (const std::string& address : addresses)
    if (!RTC::isLoopbackAddress(address))
      exposed += (exposed.empty() ? "" : ", ") + address;
  if (!exposed.empty())
    RTC::logger().warn("warning: listening on " + exposed + ": anyone who can reach these addresses can " + risk +
                       " (" + remedy + ")");
}
