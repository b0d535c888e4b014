#ifndef RTM_PEERCALLS_H
#define RTM_PEERCALLS_H

#include <chrono>

class omni_thread;

namespace RTC
{
  // How long the runtime waits for any one call to another process.  The
  // manager sets it once, before the ORB starts, from its configuration; the
  // ORB enforces it on every outgoing call (client call and connect
  // timeouts), and the runtime uses it to budget loops of such calls.
  void setPeerCallTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds peerCallTimeout();

  // A point in time after which a sequence of peer calls stops trying: each
  // call is bounded by the ORB, and this bounds how many are started.
  class Deadline
  {
  public:
    explicit Deadline(std::chrono::steady_clock::duration budget)
      : end_(std::chrono::steady_clock::now() + budget) {}
    bool expired() const { return std::chrono::steady_clock::now() >= end_; }

  private:
    std::chrono::steady_clock::time_point end_;
  };

  // While it lives, every call this thread makes to another process ends
  // by one common deadline, however many calls there are: used where a
  // whole sequence of calls (exit, shutdown) must end in bounded time.
  // Nested, the earlier deadline holds.
  class ThreadCallDeadline
  {
  public:
    explicit ThreadCallDeadline(std::chrono::milliseconds budget);
    ~ThreadCallDeadline();
    ThreadCallDeadline(const ThreadCallDeadline&) = delete;
    ThreadCallDeadline& operator=(const ThreadCallDeadline&) = delete;

  private:
    omni_thread* dummy_ = nullptr;  // the ORB only keeps deadlines for its own kind of thread
    bool outerSet_ = false;
    unsigned long outerSeconds_ = 0;
    unsigned long outerNanoseconds_ = 0;
  };
}

#endif // RTM_PEERCALLS_H
