#ifndef RTM_MEMORYRELEASER_H
#define RTM_MEMORYRELEASER_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace RTC
{
  // Gives the heap's free memory back to the system once no request has
  // reached the ORB for `quiet`.  With large buffers retained for reuse
  // (retainLargeBuffers), steady traffic keeps reusing them, while a peak,
  // a single huge map or requests abandoned half-way by a hostile peer, does
  // not become the process's permanent size.  Installs an ORB interceptor:
  // construct it after ORB_init.
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
