#include "rtm/manager/StopSignals.h"

#include <csignal>
#include <pthread.h>
#include <thread>

namespace RTC
{
  void catchStopSignals(std::function<void()> orderly, std::function<void(int signal)> immediate)
  {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread([stopSignals, orderly = std::move(orderly), immediate = std::move(immediate)] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      orderly();
      sigwait(&stopSignals, &signal);
      immediate(signal);
    }).detach();
  }
}
