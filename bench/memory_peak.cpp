// KorventComp's peak resident memory (VmHWM) under steady traffic of one
// map size, a fresh component per size, beside the 3 x size + 30 MiB
// budget.  Usage: memory_peak [cycles]
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"

#include <RTC.hh>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace
{
  double statusMiB(pid_t pid, const std::string& field)
  {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind(field, 0) == 0)
        return std::strtod(line.c_str() + field.size(), nullptr) / 1024.0;
    return 0.0;
  }
}

int main(int argc, char** argv)
{
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 10;
  NameServer names;
  names.start();
  std::printf("%-8s | %-14s | %-14s | %-16s\n", "map", "peak (VmHWM)", "after (VmRSS)", "3 x map + 30 MiB");
  for (std::size_t mib : {16u, 64u, 200u}) {
    std::unique_ptr<ChildProcess> component = startKorventComp(names.address());
    if (!waitFor([&] { return !CORBA::is_nil(CORBA::Object_var(names.resolve(korventName()))); },
                 std::chrono::seconds(20))) {
      std::fprintf(stderr, "KorventComp did not start:\n%s\n", component->errorOutput().c_str());
      return 1;
    }
    CORBA::Object_var object = names.resolve(korventName());
    RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
    Korvent_var service = providedService(clientOrb(), rtc);
    const RTC::TimedOctetSeq map = makeMap(std::vector<CORBA::Octet>(mib << 20, 9));
    for (int i = 0; i < cycles; ++i) {
      service->setGridMap(1, 1, map);
      RTC::TimedOctetSeq back;
      CORBA::Short width, height;
      service->getGridMap(width, height, back);
    }
    std::printf("%4zu MiB | %10.1f MiB | %10.1f MiB | %12.1f MiB\n", mib, statusMiB(component->pid(), "VmHWM:"),
                statusMiB(component->pid(), "VmRSS:"), 3.0 * static_cast<double>(mib) + 30.0);
    component->stop(SIGTERM, std::chrono::seconds(20));
  }
  return 0;
}
