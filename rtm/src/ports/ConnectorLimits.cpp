#include "rtm/ports/ConnectorLimits.h"

#include <omniORB4/codeSets.h>

#include <cstring>

namespace RTC
{
  namespace
  {
    bool shortText(const char* text)
    {
      return text && std::strlen(text) <= ConnectorLimits::maxTextLength;
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

    // The profile's size as it travels.  Values of any kind count alike
    // (text, numbers, references, sequences, nested anys), so a value that
    // arrived is one that can be measured: wide text is given the code set
    // GIOP 1.2 negotiates by default, as a memory stream has none.  A value
    // omniORB cannot marshal (a typed nil reference put into an any in this
    // process trips its assertion) makes a profile that could not be
    // handed on either.
    bool fitsInBytes(const ConnectorProfile& profile)
    {
      cdrMemoryStream stream;
      stream.TCS_W(omni::omniCodeSet::getTCS_W(omni::omniCodeSet::ID_UTF_16, GIOP::Version{1, 2}));
      try {
        profile >>= stream;
      }
      catch (const CORBA::SystemException&) {
        return false;
      }
      catch (const omniORB::fatalException&) {
        return false;
      }
      return stream.bufSize() <= ConnectorLimits::maxProfileBytes;
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
      if (!shortText(profile.properties[i].name))
        return BAD_PARAMETER;
    // _is_equivalent compares references locally; no peer is called here.
    if (!portsDistinct(profile) || !listedOnce(profile, self))
      return BAD_PARAMETER;
    return fitsInBytes(profile) ? RTC_OK : BAD_PARAMETER;
  }
}
