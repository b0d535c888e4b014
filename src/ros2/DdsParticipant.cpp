#include "ros2/DdsParticipant.h"

#include <stdexcept>

namespace
{
  std::runtime_error ddsError(const std::string& what, dds_return_t code)
  {
    return std::runtime_error(what + ": " + dds_strretcode(code));
  }
}

std::string DdsParticipant::configuration(bool localhostOnly)
{
  // ROS 2's own localhost-only setting for Cyclone looks the same: only the
  // loopback, and peers found by unicast to this host's discovery ports.
  const std::string interfaces =
    localhostOnly ? "<Interfaces><NetworkInterface address=\"127.0.0.1\" multicast=\"false\"/></Interfaces>"
                    "<AllowMulticast>false</AllowMulticast>"
                  : "";
  const std::string discovery =
    localhostOnly ? "<Discovery><ParticipantIndex>auto</ParticipantIndex>"
                    "<MaxAutoParticipantIndex>32</MaxAutoParticipantIndex>"
                    "<Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>"
                  : "";
  // A UDP datagram holds at most 65 507 octets; a 64 MiB map then takes
  // about 1 100 fragments instead of 50 000 at Cyclone's defaults.
  return "<CycloneDDS><Domain id=\"any\"><General>" + interfaces +
         "<MaxMessageSize>65500B</MaxMessageSize><FragmentSize>64000B</FragmentSize></General>" + discovery +
         "<Internal><SocketReceiveBufferSize min=\"default\" max=\"64MB\"/>"
         "<SocketSendBufferSize min=\"default\" max=\"8MB\"/></Internal>"
         "<SharedMemory><Enable>false</Enable></SharedMemory></Domain></CycloneDDS>";
}

DdsParticipant::DdsParticipant(int domain, bool localhostOnly)
{
  const auto id = static_cast<dds_domainid_t>(domain);
  domain_ = dds_create_domain(id, configuration(localhostOnly).c_str());
  if (domain_ < 0)
    throw ddsError("cannot make DDS domain " + std::to_string(domain), domain_);
  participant_ = dds_create_participant(id, nullptr, nullptr);
  if (participant_ < 0) {
    const dds_return_t code = participant_;
    dds_delete(domain_);
    throw ddsError("cannot join DDS domain " + std::to_string(domain), code);
  }
}

DdsParticipant::~DdsParticipant()
{
  dds_delete(domain_);
}
