#ifndef DURABLEMAPWRITER_H
#define DURABLEMAPWRITER_H

#include "store/GridMapStore.h"
#include "store/LogFolder.h"
#include "store/LogSyncer.h"
#include "store/WriteAcknowledgement.h"
#include "store/WriteQueue.h"

#include "mapio/MapLogFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Keeps the store file and the log beside it (<store>.log) holding the
// store's latest map.  It observes the store (WriteQueue) and writes on a
// thread of its own: a whole map (setGridMap) replaces the store file
// crash-safely (temporary file, fsync, rename, fsync of the folder) and
// starts a fresh log; each region or description write appends one record
// to the log, the records of one pass in one write(2).  A region or
// description write is acknowledged once its record is written, so that a
// killed process keeps it (WriteAcknowledgement); the log is synced behind
// the writes (LogSyncer) and folded into the store file once it grows
// (LogFolder).  A failed write is reported on standard error once per
// outage and retried with the newest map whole; meanwhile whole maps are
// served from memory and region and description writes are refused.
class DurableMapWriter
{
public:
  // What is on disk when the writer takes over: the log's intact length
  // (nothing without a log), and the version the files hold, which is the
  // store's current map under its new number.
  struct OnDisk
  {
    std::optional<std::uint64_t> logBytes;
    std::uint64_t version = 0;
  };

  // Throws mapio::MapError when the log cannot be opened or created.
  DurableMapWriter(GridMapStore& store, const std::string& path, std::optional<OnDisk> onDisk = std::nullopt,
                   std::chrono::milliseconds retryInterval = std::chrono::seconds(1));
  // Stops observing, writes what is still pending (one attempt), then ends.
  ~DurableMapWriter();
  DurableMapWriter(const DurableMapWriter&) = delete;
  DurableMapWriter& operator=(const DurableMapWriter&) = delete;

  // Queues `snapshot` for writing, as a record or whole.
  void offer(const GridMapStore::Snapshot& snapshot);

  // How long a region or description write waits for its record before it
  // is refused, and the writes after it too until a save succeeds.
  static constexpr std::chrono::seconds acknowledgeWithin{5};

  // Writes the latest map offered now (one attempt, after a write in
  // progress), unless the file holds it already.  Empty when it does, else
  // why not.  Safe from any thread; prints nothing.
  std::string flush();

private:
  void run();
  // An empty string on success, else why it failed.
  std::string write(const WriteQueue::Batch& batch);
  void writeWhole(const GridMapStore::Snapshot& snapshot);
  void appendRecords(const std::vector<GridMapStore::Snapshot>& records);
  void writeStoreFile(const GridMapSnapshot& snapshot) const;
  // Takes what is queued and writes it with `lock` (on mutex_) let go
  // meanwhile, one write at a time; on failure queues the newest map whole.
  std::string writeQueued(std::unique_lock<std::mutex>& lock);

  GridMapStore& store_;
  GridMapStore::ObserverHandle observing_ = 0;
  const std::string path_;
  const std::string logPath_;
  const std::chrono::milliseconds retryInterval_;
  const std::shared_ptr<WriteAcknowledgement> acknowledgement_;
  LogSyncer syncer_;

  std::mutex mutex_;  // guards the members below it
  std::condition_variable wake_;
  std::condition_variable written_;
  WriteQueue queue_;
  bool folded_ = false;    // a fold ended and waits to be finished
  bool stopping_ = false;
  bool writing_ = false;   // on the thread or in flush(): one write at a time
  std::string lastError_;  // of the last write; empty once it succeeded

  // The writer's own: used by one write at a time (writing_), on its
  // thread or in flush().
  std::optional<mapio::MapLogFile> log_;
  std::uint64_t lastInMemory_ = 0;  // the last version written, as the store numbers it
  std::uint64_t lastOnDisk_ = 0;    // the same map as the files number it
  GridMapStore::Snapshot latest_;   // the last map written
  LogFolder folder_;

  std::thread thread_;
};

#endif // DURABLEMAPWRITER_H
