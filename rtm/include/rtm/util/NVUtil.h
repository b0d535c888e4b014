#ifndef RTM_NVUTIL_H
#define RTM_NVUTIL_H

#include <RTC.hh>

#include "rtm/util/Properties.h"

#include <optional>
#include <string>

namespace RTC
{
  // Name/value lists carry every value as a CORBA string inside an any.
  void appendString(SDOPackage::NVList& list, const std::string& name, const std::string& value);

  // The string value stored under `name`, or nothing when the name is absent
  // or its value is not a string.
  std::optional<std::string> findString(const SDOPackage::NVList& list, const std::string& name);

  SDOPackage::NVList toNVList(const Properties& properties);
}

#endif // RTM_NVUTIL_H
