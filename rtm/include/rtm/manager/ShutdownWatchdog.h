#ifndef RTM_SHUTDOWNWATCHDOG_H
#define RTM_SHUTDOWNWATCHDOG_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace RTC
{
  // Ends the process with `status` if it is still alive `budget` after the
  // watchdog was made: the last resort of a shutdown that waits on a peer
  // that never lets go (a client that stopped reading its reply).  The
  // process then ends without destroying anything an ORB thread might
  // still be using; `message` is logged at WARN first.  `save`, if given,
  // is called before that: when it returns a reason (what the program had
  // to keep is not safe), that one line is logged instead and the status
  // is 1.  Destroying the watchdog in time disarms it.
  class ShutdownWatchdog
  {
  public:
    ShutdownWatchdog(std::chrono::milliseconds budget, int status, std::string message,
                     std::function<std::string()> save = nullptr);
    ~ShutdownWatchdog();
    ShutdownWatchdog(const ShutdownWatchdog&) = delete;
    ShutdownWatchdog& operator=(const ShutdownWatchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable disarmed_;
    bool done_ = false;
    std::thread thread_;
  };
}

#endif // RTM_SHUTDOWNWATCHDOG_H
