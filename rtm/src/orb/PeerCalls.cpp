#include "rtm/orb/PeerCalls.h"

#include <omniORB4/CORBA.h>

#include <atomic>

namespace RTC
{
  namespace
  {
    std::atomic<long long> timeoutMs{5000};

    // The deadline in force on this thread, so that nested scopes keep the
    // earlier of theirs and the enclosing one, and restore it when done.
    struct ThreadDeadline
    {
      bool set = false;
      unsigned long seconds = 0;
      unsigned long nanoseconds = 0;
    };
    thread_local ThreadDeadline current;

    bool earlier(const ThreadDeadline& a, const ThreadDeadline& b)
    {
      return a.seconds < b.seconds || (a.seconds == b.seconds && a.nanoseconds < b.nanoseconds);
    }

    void apply(const ThreadDeadline& deadline)
    {
      if (deadline.set)
        omniORB::setClientThreadCallDeadline(deadline.seconds, deadline.nanoseconds);
      else
        omniORB::setClientThreadCallTimeout(0);  // back to the ORB-wide timeout
    }
  }

  void setPeerCallTimeout(std::chrono::milliseconds timeout)
  {
    timeoutMs = timeout.count();
  }

  std::chrono::milliseconds peerCallTimeout()
  {
    return std::chrono::milliseconds(timeoutMs.load());
  }

  ThreadCallDeadline::ThreadCallDeadline(std::chrono::milliseconds budget)
  {
    if (!omni_thread::self())
      dummy_ = omni_thread::create_dummy();
    outerSet_ = current.set;
    outerSeconds_ = current.seconds;
    outerNanoseconds_ = current.nanoseconds;
    ThreadDeadline mine;
    mine.set = true;
    omni_thread::get_time(&mine.seconds, &mine.nanoseconds, static_cast<unsigned long>(budget.count() / 1000),
                          static_cast<unsigned long>(budget.count() % 1000) * 1000000UL);
    if (!current.set || earlier(mine, current))
      current = mine;
    apply(current);
  }

  ThreadCallDeadline::~ThreadCallDeadline()
  {
    current = ThreadDeadline{outerSet_, outerSeconds_, outerNanoseconds_};
    apply(current);
    if (dummy_)
      omni_thread::release_dummy();
  }
}
