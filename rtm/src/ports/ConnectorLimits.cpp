#include "rtm/ports/ConnectorLimits.h"

#include <cstring>

namespace RTC
{
  namespace
  {
    bool shortText(const char* text)
    {
      return text && std::strlen(text) <= ConnectorLimits::maxTextLength;
    }

    // Values are text by convention; plain numbers and booleans are
    // tolerated, anything nested (sequences, structs, references, anys) is
    // not, as its size and meaning are both unknown.
    bool plainValue(const CORBA::Any& value)
    {
      CORBA::TypeCode_var type = value.type();
      while (type->kind() == CORBA::tk_alias)
        type = type->content_type();
      switch (type->kind()) {
        case CORBA::tk_string:
        case CORBA::tk_wstring:
        case CORBA::tk_boolean:
        case CORBA::tk_char:
        case CORBA::tk_octet:
        case CORBA::tk_short:
        case CORBA::tk_ushort:
        case CORBA::tk_long:
        case CORBA::tk_ulong:
        case CORBA::tk_longlong:
        case CORBA::tk_ulonglong:
        case CORBA::tk_float:
        case CORBA::tk_double:
          return true;
        default:
          return false;
      }
    }

    bool listedOnce(const ConnectorProfile& profile, PortService_ptr self)
    {
      if (CORBA::is_nil(self))
        return false;
      int seen = 0;
      for (CORBA::ULong i = 0; i < profile.ports.length(); ++i)
        if (profile.ports[i]->_is_equivalent(self))
          ++seen;
      return seen == 1;
    }

    bool portsDistinct(const ConnectorProfile& profile)
    {
      for (CORBA::ULong i = 0; i < profile.ports.length(); ++i) {
        if (CORBA::is_nil(profile.ports[i]))
          return false;
        for (CORBA::ULong j = 0; j < i; ++j)
          if (profile.ports[i]->_is_equivalent(profile.ports[j]))
            return false;
      }
      return true;
    }
  }

  ReturnCode_t checkConnectorProfile(const ConnectorProfile& profile, PortService_ptr self)
  {
    const CORBA::ULong ports = profile.ports.length();
    if (ports == 0 || ports > ConnectorLimits::maxPorts)
      return BAD_PARAMETER;
    if (!shortText(profile.name) || !shortText(profile.connector_id))
      return BAD_PARAMETER;
    if (profile.properties.length() > ConnectorLimits::maxProperties)
      return BAD_PARAMETER;
    for (CORBA::ULong i = 0; i < profile.properties.length(); ++i)
      if (!shortText(profile.properties[i].name) || !plainValue(profile.properties[i].value))
        return BAD_PARAMETER;
    // _is_equivalent compares references locally; no peer is called here.
    if (!portsDistinct(profile) || !listedOnce(profile, self))
      return BAD_PARAMETER;

    // What is left unbounded (long text values, large references) is
    // measured exactly, as it would travel.
    cdrMemoryStream stream;
    profile >>= stream;
    return stream.bufSize() <= ConnectorLimits::maxProfileBytes ? RTC_OK : BAD_PARAMETER;
  }
}
