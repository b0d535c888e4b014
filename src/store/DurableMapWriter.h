#ifndef DURABLEMAPWRITER_H
#define DURABLEMAPWRITER_H

#include "store/GridMapStore.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Keeps a file holding the store's latest map.  It observes the store and
// writes each new map on a thread of its own, never on the caller's path;
// when maps come faster than writes, only the newest pending one is
// written.  Each write is crash-safe (temporary file, fsync, rename, fsync
// of the folder), so the file always holds one complete map.  A failed
// write is reported on standard error once per outage and retried; the
// service goes on from memory meanwhile.
class DurableMapWriter
{
public:
  DurableMapWriter(GridMapStore& store, const std::string& path,
                   std::chrono::milliseconds retryInterval = std::chrono::seconds(1));
  // Stops observing, writes a map still pending (one attempt), then ends.
  ~DurableMapWriter();
  DurableMapWriter(const DurableMapWriter&) = delete;
  DurableMapWriter& operator=(const DurableMapWriter&) = delete;

  // Queues `snapshot` for writing, replacing any pending one.
  void offer(const GridMapStore::Snapshot& snapshot);

  // Writes the latest map offered now (one attempt, after a write in
  // progress), unless the file holds it already.  Empty when it does, else
  // why not.  Safe from any thread; prints nothing.
  std::string flush();

private:
  void run();
  // An empty string on success, else why it failed.
  std::string write(const GridMapSnapshot& snapshot) const;
  // write() with `lock` (on mutex_) let go meanwhile, one write at a time.
  std::string writeUnlocked(std::unique_lock<std::mutex>& lock, const GridMapSnapshot& snapshot);

  GridMapStore& store_;
  GridMapStore::ObserverHandle observing_ = 0;
  const std::string path_;
  const std::chrono::milliseconds retryInterval_;
  std::mutex mutex_;  // guards the five below
  std::condition_variable wake_;
  std::condition_variable written_;
  GridMapStore::Snapshot pending_;
  bool stopping_ = false;
  bool writing_ = false;   // on the thread or in flush(): one write at a time
  std::string lastError_;  // of the last write; empty once it succeeded
  std::thread thread_;
};

#endif // DURABLEMAPWRITER_H
