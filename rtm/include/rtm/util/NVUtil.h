#ifndef RTM_NVUTIL_H
#define RTM_NVUTIL_H

#include <RTC.hh>

#include "rtm/util/Properties.h"

#include <optional>
#include <string>

namespace RTC
{
  // Values this runtime writes are CORBA strings inside an any; peers may
  // store other kinds too, such as object references.
  void appendString(SDOPackage::NVList& list, const std::string& name, const std::string& value);

  // The string value stored under `name`, or nothing when the name is absent
  // or its value is not a string.
  std::optional<std::string> findString(const SDOPackage::NVList& list, const std::string& name);

  // Whether every value stored under `name` is a string (true when none is).
  bool textOrAbsent(const SDOPackage::NVList& list, const std::string& name);

  // The object reference stored under `name`; nil when the name is absent
  // or its value is not a reference.
  CORBA::Object_ptr findObject(const SDOPackage::NVList& list, const std::string& name);

  SDOPackage::NVList toNVList(const Properties& properties);
}

#endif // RTM_NVUTIL_H
