// setGridMap and getGridMap across a shaped network link, plain and
// compressed, beside raw TCP moving the same uncompressed bytes over the
// same link, in one run.  The component and its name server sit on one
// host of a test network (network namespaces), the client on another,
// behind a link limited by tc (token bucket and delay, both ways).  Needs
// root.  Usage: link_bench [repetitions]
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "NameServer.h"
#include "OccupancyGrid.h"
#include "RawSocket.h"
#include "TestCertificates.h"
#include "TestNetwork.h"

#include <rtm/orb/Compression.h>
#include <rtm/manager/MemoryPolicy.h>
#include <rtm/orb/TransportSecurity.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>

namespace
{
  using Clock = std::chrono::steady_clock;
  constexpr std::size_t gridWidth = 4096;
  const std::string namesPort = "2809";
  constexpr int serverHost = 0, clientHost = 1;

  double medianSeconds(int repetitions, const std::function<void()>& call)
  {
    call();  // warm-up: connection set-up
    std::vector<double> seconds;
    for (int i = 0; i < repetitions; ++i) {
      const Clock::time_point start = Clock::now();
      call();
      seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
  }

  // Inside the client's namespace: prints "raw <s> set <s> get <s>".
  int runClient(char** argv)
  {
    const std::string nameServer = argv[2], name = argv[3], sinkHost = argv[4];
    const auto sinkPort = static_cast<uint16_t>(std::stoi(argv[5]));
    const std::size_t bytes = std::stoul(argv[6]);
    const int repetitions = std::stoi(argv[7]);
    const bool compress = std::string(argv[8]) == "1";
    if (argv[9]) {  // a TLS client: authority, then key and certificate
      RTC::TlsSettings tls;
      tls.caFile = argv[9];
      tls.certificate = argv[10];
      RTC::applyTlsSettings(tls);
    }

    RTC::retainLargeBuffers();
    std::vector<std::string> options = largeMessageOrbOptions();
    options.insert(options.end(), {"-ORBclientCallTimeOutPeriod", "600000"});
    if (compress) {
      const std::vector<std::string> compression = RTC::compressionOrbOptions();
      options.insert(options.end(), compression.begin(), compression.end());
    }
    std::vector<char*> orbArgv{argv[0]};
    for (std::string& o : options)
      orbArgv.push_back(o.data());
    int orbArgc = static_cast<int>(orbArgv.size());
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgv.data());
    if (compress)
      RTC::enableCompression(1, 4096);

    CORBA::Object_var object = orb->string_to_object(("corbaname::" + nameServer + "#" + name).c_str());
    RTC::RTObject_var component = RTC::RTObject::_narrow(object);
    Korvent_var service = providedService(orb, component);
    const std::vector<uint8_t> cells = occupancyGrid(gridWidth, bytes / gridWidth);
    const RTC::TimedOctetSeq map = makeMap(std::vector<CORBA::Octet>(cells.begin(), cells.end()));

    double raw = 0.0;
    if (!compress) {
      RawSocketClient tcp(sinkHost, sinkPort);
      raw = medianSeconds(repetitions, [&] { tcp.roundTrip(reinterpret_cast<const char*>(cells.data()), cells.size()); });
    }
    const double set = medianSeconds(repetitions, [&] { service->setGridMap(gridWidth, 1, map); });
    const double get = medianSeconds(repetitions, [&] {
      RTC::TimedOctetSeq back;
      CORBA::Short width, height;
      service->getGridMap(width, height, back);
    });
    std::cout << "raw " << raw << " set " << set << " get " << get << std::endl;
    orb->destroy();
    return 0;
  }

  int runSink(char** argv)
  {
    RawSocketSink sink(argv[2]);
    std::cout << sink.port() << std::endl;
    sink.serve();
    return 0;
  }

  struct Figures
  {
    double raw = 0, set = 0, get = 0;
  };

  Figures parse(const std::string& line)
  {
    std::istringstream in(line);
    std::string word;
    Figures f;
    in >> word >> f.raw >> word >> f.set >> word >> f.get;
    return f;
  }
}

int measureAcrossLinks(int argc, char** argv);

int main(int argc, char** argv)
{
  try {
    return measureAcrossLinks(argc, argv);
  }
  catch (const std::exception& error) {
    // Reached only after the network was torn down by its destructor.
    std::fprintf(stderr, "link_bench: %s\n", error.what());
    return 1;
  }
}

int measureAcrossLinks(int argc, char** argv)
{
  if (argc > 1 && std::string(argv[1]) == "--client")
    return runClient(argv);
  if (argc > 1 && std::string(argv[1]) == "--sink")
    return runSink(argv);
  if (!TestNetwork::available()) {
    std::fprintf(stderr, "link_bench builds a network of namespaces: run it as root\n");
    return 1;
  }
  const std::string repetitions = argc > 1 ? argv[1] : "3";
  const std::string self = std::filesystem::canonical("/proc/self/exe");

  TestNetwork net(2);
  const std::string nameServer = net.address(serverHost) + ":" + namesPort;
  char pattern[] = "/tmp/names-link-XXXXXX";
  const std::string namesDir = mkdtemp(pattern);
  ChildProcess names(net.inHost(serverHost, {"/usr/bin/omniNames", "-start", namesPort, "-datadir", namesDir,
                                             "-ORBendPoint", "giop:tcp:" + nameServer}));
  // TLS beside plaintext, so that both can be measured against one component.
  TestCertificates authority("link bench CA");
  ChildProcess component(net.inHost(serverHost, {
      "/usr/bin/env", "-C", "/", KORVENTCOMP_PATH, "-o", "corba.nameservers:" + nameServer,
      "-o", "corba.endpoints:" + net.address(serverHost) + ":", "-o", "corba.args:-ORBgiopMaxMsgSize 268435456",
      "-o", "corba.compression.enable:YES", "-o", "naming.update.interval:0.2",
      "-o", "corba.ssl.mode:mixed", "-o", "corba.ssl.ca_file:" + authority.authorityFile(),
      "-o", "corba.ssl.certificate:" + authority.certificateFor("server")}));
  ChildProcess sink(net.inHost(serverHost, {self, "--sink", net.address(serverHost)}));
  const std::optional<std::string> sinkPort = sink.readLine(std::chrono::seconds(10));
  if (!sinkPort) {
    std::fprintf(stderr, "raw TCP sink did not start\n");
    return 1;
  }

  const std::vector<uint8_t> sample = occupancyGrid(gridWidth, (16u << 20) / gridWidth);
  const CellMix mix = cellMix(sample);
  std::printf("generated grids: %.1f %% free, %.1f %% occupied, %.1f %% unknown\n", mix.free * 100,
              mix.occupied * 100, mix.unknown * 100);
  std::printf("%-22s | %-7s | %-9s | %-17s | %-17s | %-18s | %-18s | %-6s\n", "link", "map", "raw TCP s",
              "set plain s (xraw)", "get plain s (xraw)", "set zlib s (raw/x)", "get zlib s (raw/x)", "ratio");

  auto client = [&](std::size_t bytes, bool compress, int host = clientHost, bool tls = false) {
    std::vector<std::string> argv{self, "--client", nameServer, hostName() + ".host_cxt/Korvent0.rtc",
                                  net.address(serverHost), *sinkPort, std::to_string(bytes), repetitions,
                                  compress ? "1" : "0"};
    if (tls)
      argv.insert(argv.end(), {authority.authorityFile(), authority.certificateFor("client")});
    ChildProcess run(net.inHost(host, argv));
    std::optional<std::string> line = run.readLine(std::chrono::minutes(20));
    if (!line)
      throw std::runtime_error("client failed: " + run.errorOutput());
    return parse(*line);
  };
  // The component binds its name shortly after it starts.
  waitFor([&] {
    try {
      client(4096, false);
      return true;
    }
    catch (const std::exception&) {
      return false;
    }
  }, std::chrono::seconds(30));

  struct Link { const char* name; unsigned mbit; double delayMs; };
  for (const Link& link : {Link{"1 Gbit/s, 0.5 ms", 1000, 0.5}, Link{"100 Mbit/s, 5 ms", 100, 5.0}}) {
    if (!net.shape(clientHost, link.mbit, link.delayMs))
      std::printf("(this kernel has no netem: %s is rate-limited only, without its delay)\n", link.name);
    for (std::size_t mib : {4u, 16u, 64u}) {
      const std::size_t bytes = mib << 20;
      const Figures plain = client(bytes, false);
      const unsigned long long before = net.bytesThrough(clientHost);
      const Figures zipped = client(bytes, true);
      const double moved = static_cast<double>(net.bytesThrough(clientHost) - before);
      // Each of set and get ran the repetitions plus a warm-up.
      const double payload = 2.0 * static_cast<double>(bytes) * (std::stoi(repetitions) + 1);
      std::printf("%-22s | %3zu MiB | %9.3f | %8.3f (%5.2fx) | %8.3f (%5.2fx) | %8.3f (%5.1fx) | %8.3f (%5.1fx) | %5.0fx\n",
                  link.name, mib, plain.raw, plain.set, plain.set / plain.raw, plain.get, plain.get / plain.raw,
                  zipped.set, plain.raw / zipped.set, zipped.get, plain.raw / zipped.get, payload / moved);
    }
  }
  std::printf("times are medians of %s calls; ratio = payload over octets that crossed the link, compressed\n",
              repetitions.c_str());

  // On the component's own host, where the link costs nothing: what TLS
  // itself costs.
  std::printf("\n%-7s | %-12s | %-12s | %-18s | %-18s\n", "map", "set plain s", "get plain s", "set TLS s (xplain)",
              "get TLS s (xplain)");
  for (std::size_t mib : {16u, 64u}) {
    const Figures plain = client(mib << 20, false, serverHost);
    const Figures secure = client(mib << 20, false, serverHost, true);
    std::printf("%3zu MiB | %12.3f | %12.3f | %8.3f (%5.2fx) | %8.3f (%5.2fx)\n", mib, plain.set, plain.get,
                secure.set, secure.set / plain.set, secure.get, secure.get / plain.get);
  }
  sink.stop(SIGKILL, std::chrono::seconds(5));
  component.stop(SIGTERM, std::chrono::seconds(20));
  names.stop(SIGTERM, std::chrono::seconds(10));
  std::filesystem::remove_all(namesDir);
  return 0;
}
