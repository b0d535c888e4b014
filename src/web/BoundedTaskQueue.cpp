#include "web/BoundedTaskQueue.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

BoundedTaskQueue::BoundedTaskQueue(int threads, int waiting, const std::atomic<bool>& stopping)
  : waiting_(static_cast<std::size_t>(waiting)), stopping_(stopping)
{
  for (int i = 0; i < threads; ++i)
    threads_.emplace_back([this] { work(); });
}

BoundedTaskQueue::~BoundedTaskQueue()
{
  shutdown();
}

void BoundedTaskQueue::enqueue(std::function<void()> task)
{
  std::unique_lock<std::mutex> lock(mutex_);
  // The flag is set without this mutex, so the wait looks at it now and then.
  while (!changed_.wait_for(lock, std::chrono::milliseconds(100),
                            [this] { return queue_.size() < waiting_ || stopping_ || ending_; })) {
  }
  if (stopping_ || ending_) {
    lock.unlock();
    task();
    return;
  }
  queue_.push_back(std::move(task));
  changed_.notify_all();
}

void BoundedTaskQueue::shutdown()
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_)
    if (thread.joinable())
      thread.join();
}

void BoundedTaskQueue::work()
{
  // Linux applies a nice value to the one thread named; the map service's
  // threads keep theirs and win the processor when both want it.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !queue_.empty() || ending_; });
      if (queue_.empty())
        return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    changed_.notify_all();
    task();
  }
}
