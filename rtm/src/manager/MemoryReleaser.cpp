#include "rtm/manager/MemoryReleaser.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include <atomic>
#include <malloc.h>

namespace RTC
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    std::atomic<Clock::rep> lastRequest{0};

    CORBA::Boolean noteRequest(omni::omniInterceptors::serverReceiveRequest_T::info_T&)
    {
      lastRequest = Clock::now().time_since_epoch().count();
      return 1;
    }

    // Below this much free heap, trimming is not worth a system call.
    constexpr std::size_t worthReleasing = 16u << 20;
  }

  MemoryReleaser::MemoryReleaser(std::chrono::milliseconds quiet)
    : quiet_(quiet)
  {
    omniORB::getInterceptors()->serverReceiveRequest.add(noteRequest);
    thread_ = std::thread([this] { run(); });
  }

  MemoryReleaser::~MemoryReleaser()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void MemoryReleaser::run()
  {
    const auto period = std::max<Clock::duration>(quiet_ / 4, std::chrono::milliseconds(50));
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, period, [this] { return stop_; })) {
      const Clock::time_point last{Clock::duration(lastRequest.load())};
      if (Clock::now() - last < quiet_)
        continue;
      if (mallinfo2().fordblks >= worthReleasing)
        malloc_trim(0);
    }
  }
}
