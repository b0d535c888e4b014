// A client for tests that need one in another network namespace or with
// other transport settings than the test process: finds the service, stores
// a map of the given size, fetches it back and compares.  Prints
// "ok <bytes>" and exits 0 on success, one line on standard error and 1
// otherwise.
//
//   map_roundtrip --name-server host:port --name id.kind/id.kind --bytes N
//                 [--compress LEVEL] [--ca FILE --cert FILE] [--timeout MS]
#include "GridMapClient.h"

#include <rtm/orb/Compression.h>
#include <rtm/orb/TransportSecurity.h>

#include <RTC.hh>

#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace
{
  // Looks like an occupancy grid: long runs of free and unknown cells,
  // walls now and then; compresses as real maps do.
  std::vector<CORBA::Octet> gridLike(std::size_t bytes)
  {
    std::vector<CORBA::Octet> cells(bytes, 0);
    for (std::size_t i = 0; i < bytes; ++i)
      cells[i] = (i / 4096) % 7 == 0 ? 255 : ((i % 997) < 3 ? 100 : 0);
    return cells;
  }
}

int main(int argc, char** argv)
{
  std::map<std::string, std::string> options;
  for (int i = 1; i + 1 < argc; i += 2)
    options[argv[i]] = argv[i + 1];
  try {
    if (options.count("--ca")) {
      RTC::TlsSettings tls;
      tls.caFile = options["--ca"];
      tls.certificate = options.count("--cert") ? options["--cert"] : "";
      RTC::applyTlsSettings(tls);
    }
    std::vector<std::string> orbOptions = largeMessageOrbOptions();
    orbOptions.insert(orbOptions.end(), {"-ORBclientCallTimeOutPeriod", options.count("--timeout") ? options["--timeout"] : "20000"});
    if (options.count("--compress")) {
      const std::vector<std::string> compression = RTC::compressionOrbOptions();
      orbOptions.insert(orbOptions.end(), compression.begin(), compression.end());
    }
    for (const auto& [key, value] : options)
      if (key.rfind("-ORB", 0) == 0)
        orbOptions.insert(orbOptions.end(), {key, value});
    std::vector<char*> orbArgv{argv[0]};
    for (std::string& o : orbOptions)
      orbArgv.push_back(o.data());
    int orbArgc = static_cast<int>(orbArgv.size());
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgv.data());
    if (options.count("--compress"))
      RTC::enableCompression(static_cast<unsigned>(std::stoul(options["--compress"])), 1024);

    const std::string url = "corbaname::" + options["--name-server"] + "#" + options["--name"];
    CORBA::Object_var object = orb->string_to_object(url.c_str());
    RTC::RTObject_var component = RTC::RTObject::_narrow(object);
    Korvent_var service = providedService(orb, component);
    if (CORBA::is_nil(service)) {
      std::cerr << "map_roundtrip: no Korvent service\n";
      return 1;
    }
    const std::vector<CORBA::Octet> cells = gridLike(std::stoul(options["--bytes"]));
    service->setGridMap(321, -7, makeMap(cells));
    RTC::TimedOctetSeq back;
    CORBA::Short width = 0, height = 0;
    service->getGridMap(width, height, back);
    if (width != 321 || height != -7 || octetsOf(back) != cells) {
      std::cerr << "map_roundtrip: the map came back different\n";
      return 1;
    }
    std::cout << "ok " << cells.size() << std::endl;
    orb->destroy();
    return 0;
  }
  catch (const CORBA::Exception& error) {
    std::cerr << "map_roundtrip: " << error._name() << "\n";
  }
  catch (const std::exception& error) {
    std::cerr << "map_roundtrip: " << error.what() << "\n";
  }
  return 1;
}
