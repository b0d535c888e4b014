#ifndef RTM_NAMEFORMAT_H
#define RTM_NAMEFORMAT_H

#include "rtm/util/Properties.h"

#include <string>

namespace RTC
{
  // Expands %n, %t, %m, %v, %V, %c, %i, %N, %h, %M, %p and %% in a naming
  // or file-name format from a component's properties.
  std::string formatName(const std::string& format, const Properties& component,
                         const std::string& managerName);
}

#endif // RTM_NAMEFORMAT_H
