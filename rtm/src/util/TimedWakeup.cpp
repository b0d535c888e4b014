#include "rtm/util/TimedWakeup.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace RTC
{
  TimedWakeup::TimedWakeup()
    : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
  {
    if (fd_ < 0)
      throw std::system_error(errno, std::generic_category(), "eventfd");
  }

  TimedWakeup::~TimedWakeup()
  {
    close(fd_);
  }

  void TimedWakeup::wake()
  {
    const std::uint64_t one = 1;
    // Fails only when the counter is full, and then a wake-up is pending anyway.
    [[maybe_unused]] ssize_t written = write(fd_, &one, sizeof one);
  }

  void TimedWakeup::sleepUntil(std::chrono::steady_clock::time_point deadline)
  {
    pollfd pending{fd_, POLLIN, 0};
    for (;;) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero())
        return;
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
      const timespec timeout{static_cast<time_t>(seconds.count()),
                             static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
      const int ready = ppoll(&pending, 1, &timeout, nullptr);
      if (ready > 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t read = ::read(fd_, &count, sizeof count);  // taken: the next sleep is whole
        return;
      }
      if (ready == 0 || errno != EINTR)
        return;
    }
  }
}
