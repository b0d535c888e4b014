#include "rtm/manager/ShutdownWatchdog.h"

#include "rtm/util/Logger.h"

#include <unistd.h>

namespace RTC
{
  ShutdownWatchdog::ShutdownWatchdog(std::chrono::milliseconds budget, int status, std::string message,
                                     std::function<std::string()> save)
  {
    thread_ = std::thread([this, budget, status, message = std::move(message), save = std::move(save)] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (disarmed_.wait_for(lock, budget, [this] { return done_; }))
        return;
      const std::string unsaved = save ? save() : "";
      // The logger writes each line through at once, before _exit.
      logger().warn(unsaved.empty() ? message : unsaved);
      _exit(unsaved.empty() ? status : 1);
    });
  }

  ShutdownWatchdog::~ShutdownWatchdog()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    disarmed_.notify_all();
    thread_.join();
  }
}
