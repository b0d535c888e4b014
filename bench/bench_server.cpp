// Server side of the benchmark: the grid-map servant, a bare-ORB servant and
// a raw TCP sink, all in one process with the same allocator settings.
// Prints the two IORs and the raw sink's TCP port, one per line; with
// "--raw-unix <path>" first, the sink listens on that Unix-domain socket
// and the last line is its path.
#include "BareOrb.hh"
#include "service/KorventSVC_impl.h"
#include "OrbServer.h"
#include "RawSocket.h"
#include "rtm/manager/MemoryPolicy.h"

#include <iostream>
#include <memory>
#include <string>
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
  std::string unixPath;
  if (argc > 2 && std::string(argv[1]) == "--raw-unix") {
    unixPath = argv[2];
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
  }
  const auto sink = unixPath.empty() ? std::make_unique<RawSocketSink>() : std::make_unique<RawSocketSink>(UnixPath{unixPath});
  std::thread sinkThread([&] { sink->serve(); });
  sinkThread.detach();  // ends with the process

  KorventSVC_impl korvent;
  BareOrbImpl bare;
  return runOrbServer(argc, argv, [&](CORBA::ORB_ptr orb, PortableServer::POA_ptr poa) {
    printReference(orb, poa, &korvent);
    printReference(orb, poa, &bare);
    if (unixPath.empty())
      std::cout << sink->port() << '\n';
    else
      std::cout << unixPath << '\n';
  });
}
