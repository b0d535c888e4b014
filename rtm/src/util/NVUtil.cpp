#include "rtm/util/NVUtil.h"

namespace RTC
{
  void appendString(SDOPackage::NVList& list, const std::string& name, const std::string& value)
  {
    CORBA::ULong at = list.length();
    list.length(at + 1);
    list[at].name = name.c_str();
    list[at].value <<= value.c_str();
  }

  std::optional<std::string> findString(const SDOPackage::NVList& list, const std::string& name)
  {
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      if (name != static_cast<const char*>(list[i].name))
        continue;
      const char* value = nullptr;
      if (list[i].value >>= value)
        return std::string(value);
      return std::nullopt;
    }
    return std::nullopt;
  }

  SDOPackage::NVList toNVList(const Properties& properties)
  {
    SDOPackage::NVList list;
    for (const std::string& key : properties.propertyNames())
      appendString(list, key, properties.getProperty(key));
    return list;
  }
}
