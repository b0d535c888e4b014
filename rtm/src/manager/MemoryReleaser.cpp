#include "rtm/manager/MemoryReleaser.h"

#include "rtm/orb/ReplyWatch.h"
#include "rtm/orb/RequestWatch.h"

#include <malloc.h>

namespace RTC
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    // Below this much free heap, trimming is not worth a system call.
    constexpr std::size_t worthReleasing = 16u << 20;
  }

  MemoryReleaser::MemoryReleaser(std::chrono::milliseconds quiet)
    : quiet_(quiet)
  {
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
    Clock::time_point lastLarge = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, period, [this] { return stop_; })) {
      if (RequestWatch::largeRequestsArriving() || ReplyWatch::largeRepliesSending())
        lastLarge = Clock::now();
      if (Clock::now() - lastLarge < quiet_)
        continue;
      if (mallinfo2().fordblks >= worthReleasing)
        malloc_trim(0);
    }
  }
}
