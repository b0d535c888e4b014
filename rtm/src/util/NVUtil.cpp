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

  bool textOrAbsent(const SDOPackage::NVList& list, const std::string& name)
  {
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      const char* value = nullptr;
      if (name == static_cast<const char*>(list[i].name) && !(list[i].value >>= value))
        return false;
    }
    return true;
  }

  CORBA::Object_ptr findObject(const SDOPackage::NVList& list, const std::string& name)
  {
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      if (name != static_cast<const char*>(list[i].name))
        continue;
      CORBA::Object_var object;
      if (list[i].value >>= CORBA::Any::to_object(object.out()))
        return object._retn();
    }
    return CORBA::Object::_nil();
  }

  SDOPackage::NVList toNVList(const Properties& properties)
  {
    SDOPackage::NVList list;
    for (const std::string& key : properties.propertyNames())
      appendString(list, key, properties.getProperty(key));
    return list;
  }
}
