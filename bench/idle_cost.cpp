// What KorventComp costs while it waits: CPU share of an INACTIVE and of an
// ACTIVE component at the shipped execution-context rate, beside a bare
// loop that only sleeps until the next period at the same rate, measured in
// the same run.  Usage: idle_cost [seconds-per-phase]
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "ProcessCpu.h"

#include <RTC.hh>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;
  constexpr double rate = 1000.0;  // the shipped rtc.conf's

  // Shares of one core that two processes used over the same `window`.
  std::pair<double, double> coreShares(pid_t a, pid_t b, std::chrono::duration<double> window)
  {
    const double a0 = cpuSeconds(a), b0 = cpuSeconds(b);
    const Clock::time_point t0 = Clock::now();
    std::this_thread::sleep_for(window);
    const double a1 = cpuSeconds(a), b1 = cpuSeconds(b);
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    return {(a1 - a0) / elapsed, (b1 - b0) / elapsed};
  }

  [[noreturn]] void bareLoop()
  {
    const long periodNs = static_cast<long>(1e9 / rate);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
      next.tv_nsec += periodNs;
      if (next.tv_nsec >= 1000000000L) {
        next.tv_nsec -= 1000000000L;
        ++next.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
  }
}

int main(int argc, char** argv)
{
  if (argc > 1 && std::string(argv[1]) == "--bare-loop")
    bareLoop();
  const std::chrono::duration<double> window(argc > 1 ? std::atof(argv[1]) : 10.0);

  NameServer names;
  names.start();
  std::unique_ptr<ChildProcess> component =
      startKorventComp(names.address(), {"-o", "exec_cxt.periodic.rate:" + std::to_string(rate),
                                         // as shipped, not the tests' quick rebinding
                                         "-o", "naming.update.interval:10"});
  if (!waitForKorventName(names)) {
    std::fprintf(stderr, "KorventComp did not start:\n%s\n", component->errorOutput().c_str());
    return 1;
  }
  CORBA::Object_var object = names.resolve(korventName());
  RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
  RTC::ExecutionContextList_var contexts = rtc->get_owned_contexts();
  const pid_t componentPid = component->pid();

  ChildProcess bare({"/proc/self/exe", "--bare-loop"});
  std::this_thread::sleep_for(std::chrono::seconds(1));  // let start-up work settle

  const auto [inactive, bareWhileInactive] = coreShares(componentPid, bare.pid(), window);
  if (contexts[0]->activate_component(rtc) != RTC::RTC_OK) {
    std::fprintf(stderr, "activation failed\n");
    return 1;
  }
  // The ACTIVE figure in ten slices, each beside the bare loop over the
  // same slice: the median of their ratios is steady where one long window
  // is not, since a wake-up costs either process more while the machine is busy.
  std::vector<double> ratios;
  double active = 0.0, bareWhileActive = 0.0;
  for (int slice = 0; slice < 10; ++slice) {
    const auto [component, loop] = coreShares(componentPid, bare.pid(), window / 10);
    ratios.push_back(component / loop);
    active += component / 10;
    bareWhileActive += loop / 10;
  }
  std::sort(ratios.begin(), ratios.end());

  std::printf("CPU share of one core at %.0f Hz, %.0f s per figure\n", rate, window.count());
  std::printf("%-28s %8.3f %%\n", "KorventComp INACTIVE", inactive * 100);
  std::printf("%-28s %8.3f %%\n", "KorventComp ACTIVE", active * 100);
  std::printf("%-28s %8.3f %%  (%8.3f %% during the inactive figure)\n", "bare sleep loop",
              bareWhileActive * 100, bareWhileInactive * 100);
  std::printf("ACTIVE / bare loop: %.2fx over the whole figure; median of ten slices %.2fx (%.2fx to %.2fx)\n",
              active / bareWhileActive, (ratios[4] + ratios[5]) / 2, ratios.front(), ratios.back());

  bare.stop(SIGKILL, std::chrono::seconds(5));
  component->stop(SIGTERM, std::chrono::seconds(20));
  return 0;
}
