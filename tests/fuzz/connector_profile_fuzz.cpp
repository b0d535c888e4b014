// The checks a port makes on a connector profile from a peer.  The profile
// is built from the input: its texts, its ports (the checking port itself,
// other ports, nil) and its property values of every kind an Any can carry
// here (plain values, nested anys, sequences, references).  omniORB's own
// unmarshalling is not fuzzed here: what it does with bytes it cannot read
// is in orb_findings/ and the hostile peers test.  No call leaves the
// process: the ports are corbaloc references to a closed port.
#include "FuzzCheck.h"

#include "rtm/ports/ConnectorLimits.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{
  constexpr int otherPorts = 4;

  // The ORB and the references stay for the process's life.
  struct Ports
  {
    CORBA::ORB_ptr orb = nullptr;
    RTC::PortService_ptr self = nullptr;
    RTC::PortService_ptr others[otherPorts] = {};
  };
  Ports ports;

  RTC::PortService_ptr portAt(const std::string& key)
  {
    CORBA::Object_var object = ports.orb->string_to_object(("corbaloc::127.0.0.1:1/" + key).c_str());
    return RTC::PortService::_unchecked_narrow(object);
  }

  RTC::PortService_ptr somePort(FuzzedDataProvider& input)
  {
    const int which = input.ConsumeIntegralInRange(0, otherPorts + 1);
    if (which == 0)
      return RTC::PortService::_duplicate(ports.self);
    if (which <= otherPorts)
      return RTC::PortService::_duplicate(ports.others[which - 1]);
    return RTC::PortService::_nil();
  }

  // Only plain values go inside another any: omniORB cannot copy an any
  // holding an any that holds a reference.
  CORBA::Any someValue(FuzzedDataProvider& input, bool outermost)
  {
    CORBA::Any value;
    switch (input.ConsumeIntegralInRange(0, outermost ? 12 : 9)) {
      case 0: value <<= input.ConsumeRandomLengthString(20000).c_str(); break;
      case 1: value <<= CORBA::Any::from_boolean(input.ConsumeBool()); break;
      case 2: value <<= CORBA::Any::from_char(input.ConsumeIntegral<char>()); break;
      case 3: value <<= CORBA::Any::from_octet(input.ConsumeIntegral<CORBA::Octet>()); break;
      case 4: value <<= input.ConsumeIntegral<CORBA::Short>(); break;
      case 5: value <<= input.ConsumeIntegral<CORBA::ULong>(); break;
      case 6: value <<= input.ConsumeIntegral<CORBA::LongLong>(); break;
      case 7: value <<= input.ConsumeFloatingPoint<CORBA::Double>(); break;
      case 8: value <<= input.ConsumeFloatingPoint<CORBA::Float>(); break;
      // No wide strings: a memory stream has no code set to marshal them in.
      case 9: value <<= input.ConsumeIntegral<CORBA::UShort>(); break;
      case 10: value <<= someValue(input, false); break;
      case 11: {
        CORBA::StringSeq texts;
        texts.length(input.ConsumeIntegralInRange<CORBA::ULong>(0, 64));
        for (CORBA::ULong i = 0; i < texts.length(); ++i)
          texts[i] = input.ConsumeRandomLengthString(64).c_str();
        value <<= texts;
        break;
      }
      default: {
        RTC::PortService_var port = somePort(input);
        value <<= port.in();
        break;
      }
    }
    return value;
  }

  RTC::ConnectorProfile profileFrom(FuzzedDataProvider& input)
  {
    RTC::ConnectorProfile profile;
    profile.name = input.ConsumeRandomLengthString(300).c_str();
    profile.connector_id = input.ConsumeRandomLengthString(300).c_str();
    profile.ports.length(input.ConsumeIntegralInRange<CORBA::ULong>(0, RTC::ConnectorLimits::maxPorts + 2));
    for (CORBA::ULong i = 0; i < profile.ports.length(); ++i)
      profile.ports[i] = somePort(input);
    profile.properties.length(input.ConsumeIntegralInRange<CORBA::ULong>(0, RTC::ConnectorLimits::maxProperties + 2));
    for (CORBA::ULong i = 0; i < profile.properties.length(); ++i) {
      profile.properties[i].name = input.ConsumeRandomLengthString(300).c_str();
      profile.properties[i].value = someValue(input, true);
    }
    return profile;
  }

  bool listedOnce(const RTC::ConnectorProfile& profile)
  {
    int seen = 0;
    for (CORBA::ULong i = 0; i < profile.ports.length(); ++i)
      seen += !CORBA::is_nil(profile.ports[i]) && profile.ports[i]->_is_equivalent(ports.self);
    return seen == 1;
  }
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  int argc = 1;
  char name[] = "fuzz";
  char* argv[] = {name, nullptr};
  ports.orb = CORBA::ORB_init(argc, argv);
  ports.self = portAt("Self");
  for (int i = 0; i < otherPorts; ++i)
    ports.others[i] = portAt("Other" + std::to_string(i));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  FuzzedDataProvider input(data, size);
  const RTC::ConnectorProfile profile = profileFrom(input);
  if (RTC::checkConnectorProfile(profile, ports.self) != RTC::RTC_OK)
    return 0;
  // What an accepted profile must be, checked apart from how the port checks it.
  fuzzRequire(listedOnce(profile), "a profile accepted that does not list the port once");
  fuzzRequire(profile.ports.length() <= RTC::ConnectorLimits::maxPorts &&
              profile.properties.length() <= RTC::ConnectorLimits::maxProperties &&
              std::strlen(profile.name) <= RTC::ConnectorLimits::maxTextLength &&
              std::strlen(profile.connector_id) <= RTC::ConnectorLimits::maxTextLength,
              "a profile accepted beyond the limits");
  cdrMemoryStream stream;
  profile >>= stream;
  fuzzRequire(stream.bufSize() <= RTC::ConnectorLimits::maxProfileBytes, "a profile accepted that is too large");
  return 0;
}
