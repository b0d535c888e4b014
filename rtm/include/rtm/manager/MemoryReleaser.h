#ifndef RTM_MEMORYRELEASER_H
#define RTM_MEMORYRELEASER_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace RTC
{
  // Gives the heap's free memory back to the system once no large request
  // has been arriving, and no large reply sent, for `quiet` (as the request
  // and reply watches see them).  With large buffers retained for reuse
  // (retainLargeBuffers), steady large traffic keeps reusing them, while a
  // peak, a single huge map, or requests and replies a hostile peer left
  // half-way, do not become the process's permanent size, however many
  // small calls keep coming.
  class MemoryReleaser
  {
  public:
    explicit MemoryReleaser(std::chrono::milliseconds quiet);
    ~MemoryReleaser();
    MemoryReleaser(const MemoryReleaser&) = delete;
    MemoryReleaser& operator=(const MemoryReleaser&) = delete;

  private:
    void run();

    const std::chrono::milliseconds quiet_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
  };
}

#endif // RTM_MEMORYRELEASER_H
