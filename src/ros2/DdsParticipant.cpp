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
  // The loopback loses nothing and has no MTU to speak of: datagrams as
  // large as UDP allows take a 64 MiB map in about 1 100 fragments instead
  // of 50 000, twice as fast.  On a real link Cyclone's defaults stay, as
  // they fit its MTU: there a lost packet costs one small fragment, not a
  // 64 KB datagram (a 64 MiB map over a 200 Mbit/s link took 8 s with
  // them, 38 s with the large ones).
  const std::string sizes =
    localhostOnly ? "<MaxMessageSize>65500B</MaxMessageSize><FragmentSize>64000B</FragmentSize>" : "";
  return "<CycloneDDS><Domain id=\"any\"><General>" + interfaces + sizes + "</General>" + discovery +
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
