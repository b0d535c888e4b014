#ifndef RTM_PERIODICTASK_H
#define RTM_PERIODICTASK_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace RTC
{
  // Calls `task` every `period` on a thread of its own, until destroyed
  // (which waits for a call in progress).
  class PeriodicTask
  {
  public:
    PeriodicTask(std::chrono::milliseconds period, std::function<void()> task);
    ~PeriodicTask();
    PeriodicTask(const PeriodicTask&) = delete;
    PeriodicTask& operator=(const PeriodicTask&) = delete;

  private:
    std::mutex mutex_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
  };
}

#endif // RTM_PERIODICTASK_H
