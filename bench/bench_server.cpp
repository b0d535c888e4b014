// Server side of the benchmark: the grid-map servant, a bare-ORB servant and
// a raw TCP sink, all in one process with the same allocator settings.
// Prints the two IORs and the TCP port, one per line.
#include "BareOrb.hh"
#include "KorventSVC_impl.h"
#include "OrbServer.h"
#include "RawTcp.h"
#include "rtm/MemoryPolicy.h"

#include <iostream>
#include <thread>
#include <vector>

namespace
{
  class BareOrbImpl : public virtual POA_BareOrb
  {
  public:
    void put(const OctetSeq& data) override
    {
      // Keep a buffer of the last size so take() answers without copying.
      buffer_.resize(data.length());
    }

    OctetSeq* take() override
    {
      CORBA::ULong length = static_cast<CORBA::ULong>(buffer_.size());
      return new OctetSeq(length, length, buffer_.data(), false);
    }

    void ping() override {}

  private:
    std::vector<CORBA::Octet> buffer_;
  };
}

int main(int argc, char** argv)
{
  RTC::retainLargeBuffers();
  RawTcpSink sink;
  std::thread sinkThread([&] { sink.serve(); });
  sinkThread.detach();  // ends with the process

  KorventSVC_impl korvent;
  BareOrbImpl bare;
  return runOrbServer(argc, argv, [&](CORBA::ORB_ptr orb, PortableServer::POA_ptr poa) {
    printReference(orb, poa, &korvent);
    printReference(orb, poa, &bare);
    std::cout << sink.port() << '\n';
  });
}
