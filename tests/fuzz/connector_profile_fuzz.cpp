// The checks a port makes on a connector profile from a peer, on profiles
// unmarshalled from any bytes as little-endian CDR, laid out as the body of
// a GIOP 1.2 connect or notify_connect request.  The port's own reference is a fixed
// corbaloc one; no call leaves the process.
//
// With KORVENT_FUZZ_WRITE_SEEDS=<folder> it writes the seed corpus there
// first (corpus/connector_profile holds what it wrote).
#include "FuzzCheck.h"

#include "rtm/ConnectorLimits.h"

#include <cstddef>
#include <cstdint>
#include <fstream>

namespace
{
  RTC::PortService_ptr portAt(CORBA::ORB_ptr orb, const char* key)
  {
    CORBA::Object_var object = orb->string_to_object((std::string("corbaloc::127.0.0.1:1/") + key).c_str());
    return RTC::PortService::_unchecked_narrow(object);
  }

  // The ORB and the port stay for the process's life.
  struct Peer
  {
    CORBA::ORB_ptr orb = nullptr;
    RTC::PortService_ptr self = nullptr;
    RTC::PortService_ptr other = nullptr;
  };
  Peer peer;

  RTC::ConnectorProfile profileOf(std::initializer_list<RTC::PortService_ptr> ports)
  {
    RTC::ConnectorProfile profile;
    profile.name = "fuzz";
    profile.connector_id = "";
    profile.ports.length(static_cast<CORBA::ULong>(ports.size()));
    CORBA::ULong i = 0;
    for (RTC::PortService_ptr port : ports)
      profile.ports[i++] = RTC::PortService::_duplicate(port);
    profile.properties.length(2);
    profile.properties[0].name = "port.port_type";
    profile.properties[0].value <<= "CorbaPort";
    profile.properties[1].name = "port.count";
    profile.properties[1].value <<= CORBA::Long(3);
    return profile;
  }

  void writeSeed(const std::string& path, const RTC::ConnectorProfile& profile)
  {
    cdrMemoryStream stream;
    profile >>= stream;
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(stream.bufPtr()), static_cast<std::streamsize>(stream.bufSize()));
    fuzzRequire(static_cast<bool>(out), "cannot write a seed");
  }

  void writeSeeds(const std::string& folder)
  {
    writeSeed(folder + "/two_ports", profileOf({peer.self, peer.other}));
    writeSeed(folder + "/self_twice", profileOf({peer.self, peer.self}));
    RTC::ConnectorProfile nested = profileOf({peer.other, peer.self});
    CORBA::Any inner;
    inner <<= "nested";
    nested.properties[1].value <<= inner;
    writeSeed(folder + "/nested_value", nested);
  }
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  int argc = 1;
  char name[] = "fuzz";
  char* argv[] = {name, nullptr};
  peer.orb = CORBA::ORB_init(argc, argv);
  peer.self = portAt(peer.orb, "Self");
  peer.other = portAt(peer.orb, "Other");
  if (const char* folder = std::getenv("KORVENT_FUZZ_WRITE_SEEDS"))
    writeSeeds(folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  RTC::ConnectorProfile profile;
  try {
    cdrMemoryStream stream(const_cast<std::uint8_t*>(data), size);
    profile <<= stream;
  }
  catch (const CORBA::SystemException&) {
    return 0;  // not a profile: the ORB refuses it before any port sees it
  }
  catch (const omniORB::fatalException&) {
    // omniORB asserts on some values it unmarshals (a fixed-point type of
    // over 31 digits); a server's ORB refuses that request and carries on,
    // as the hostile peers test checks.
    return 0;
  }
  if (RTC::checkConnectorProfile(profile, peer.self) == RTC::RTC_OK) {
    fuzzRequire(profile.ports.length() >= 1 && profile.ports.length() <= RTC::ConnectorLimits::maxPorts &&
                profile.properties.length() <= RTC::ConnectorLimits::maxProperties,
                "a profile accepted beyond the limits");
  }
  return 0;
}
