#include "rtm/ShutdownWatchdog.h"

#include <unistd.h>

namespace RTC
{
  ShutdownWatchdog::ShutdownWatchdog(std::chrono::milliseconds budget, int status, std::string message)
  {
    thread_ = std::thread([this, budget, status, message = std::move(message)] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (disarmed_.wait_for(lock, budget, [this] { return done_; }))
        return;
      const std::string line = message + "\n";
      ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
      (void)ignored;
      _exit(status);
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
