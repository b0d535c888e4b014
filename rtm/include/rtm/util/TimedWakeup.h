#ifndef RTM_TIMEDWAKEUP_H
#define RTM_TIMEDWAKEUP_H

#include <chrono>

namespace RTC
{
  // Lets one thread sleep until a time point unless another wakes it
  // first.  A sleep that runs its course costs one system call, as a plain
  // timed sleep does; a condition variable's timed wait costs a second one,
  // since its mutex comes back marked as contended and so wakes the kernel
  // when it is released.  That doubles what a fast periodic loop costs.
  class TimedWakeup
  {
  public:
    TimedWakeup();  // throws std::system_error
    ~TimedWakeup();
    TimedWakeup(const TimedWakeup&) = delete;
    TimedWakeup& operator=(const TimedWakeup&) = delete;

    // Ends the current sleep, or the next one if none is in progress.
    void wake();
    // Returns at `deadline`, or sooner once woken.
    void sleepUntil(std::chrono::steady_clock::time_point deadline);

  private:
    int fd_;  // an eventfd: readable while a wake-up is pending
  };
}

#endif // RTM_TIMEDWAKEUP_H
