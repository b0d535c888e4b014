#include "BenchServer.h"

#include "GridMapClient.h"

#include <stdexcept>

BenchServer startBenchServer(const std::string& unixFolder)
{
  std::vector<std::string> argv{BENCH_SERVER_PATH, "-ORBendPoint", "giop:tcp:127.0.0.1:"};
  if (!unixFolder.empty())
    argv = {BENCH_SERVER_PATH, "--raw-unix", unixFolder + "/raw", "-ORBendPoint", "giop:unix:" + unixFolder + "/orb"};
  for (const std::string& o : largeMessageOrbOptions())
    argv.push_back(o);
  BenchServer server{std::make_unique<ChildProcess>(argv), {}};
  for (int line = 0; line < 3; ++line) {
    std::optional<std::string> text = server.process->readLine(std::chrono::seconds(20));
    if (!text)
      throw std::runtime_error("bench server did not start:\n" + server.process->errorOutput());
    server.lines.push_back(*text);
  }
  return server;
}
