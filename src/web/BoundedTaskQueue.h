#ifndef BOUNDEDTASKQUEUE_H
#define BOUNDEDTASKQUEUE_H

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The HTTP server's threads: one per connection served, a fixed number of
// them, at a lower scheduling priority than the map service's threads.  A
// connection beyond them waits in a short queue; when that is full too,
// the server stops accepting until a thread is free, and further clients
// wait in the kernel's backlog.
class BoundedTaskQueue : public httplib::TaskQueue
{
public:
  // `stopping` belongs to the server's owner and outlives the queue: once
  // it is set, a blocked enqueue goes on, and the task it hands over ends
  // at once because the server has stopped.
  BoundedTaskQueue(int threads, int waiting, const std::atomic<bool>& stopping);
  ~BoundedTaskQueue() override;

  void enqueue(std::function<void()> task) override;
  // Runs what is queued, then ends the threads.
  void shutdown() override;

private:
  void work();

  const std::size_t waiting_;
  const std::atomic<bool>& stopping_;
  std::mutex mutex_;  // guards the queue and the flags
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

#endif // BOUNDEDTASKQUEUE_H
