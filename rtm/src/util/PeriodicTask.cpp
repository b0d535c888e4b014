#include "rtm/util/PeriodicTask.h"

namespace RTC
{
  PeriodicTask::PeriodicTask(std::chrono::milliseconds period, std::function<void()> task)
  {
    thread_ = std::thread([this, period, task = std::move(task)] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!wake_.wait_for(lock, period, [this] { return stop_; })) {
        lock.unlock();
        task();
        lock.lock();
      }
    });
  }

  PeriodicTask::~PeriodicTask()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
}
