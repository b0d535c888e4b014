#ifndef DURABLEMAPWRITER_H
#define DURABLEMAPWRITER_H

#include "store/GridMapStore.h"

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
// store's latest map.  It observes the store and writes on a thread of its
// own: a whole map (setGridMap) replaces the store file crash-safely
// (temporary file, fsync, rename, fsync of the folder) and starts a fresh
// log; each region write appends one record to the log.  The records a
// pass finds queued go out in one write(2), and writeRegion's caller waits
// (at most `acknowledgeWithin`) until its record is written, so that a
// killed process keeps every acknowledged write; an fdatasync on a thread
// of its own follows, merging the syncs asked while one runs, so that a
// power loss keeps all but the writes of the last sync.  Once the log outgrows the map (or 1 MiB), a thread of its own
// folds it into a fresh store file, without ever joining the map; the
// records appended meanwhile move to the new log.  When writes come faster
// than the disk takes them, or a write fails, the newest map is written
// whole instead.  A failed write is reported on standard error once per
// outage and retried; the service goes on from memory meanwhile.
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

  static constexpr std::chrono::seconds acknowledgeWithin{2};

  // Writes the latest map offered now (one attempt, after a write in
  // progress), unless the file holds it already.  Empty when it does, else
  // why not.  Safe from any thread; prints nothing.
  std::string flush();

private:
  // Shared with the store's durability wait, which may outlive the writer.
  struct Acknowledgement
  {
    std::mutex mutex;
    std::condition_variable written;
    std::uint64_t version = 0;  // written up to here
    bool waiting = true;        // false while failing or stopped: callers go on at once
    void wait(std::uint64_t version);
    void set(std::uint64_t version, bool waiting);
  };

  void run();
  // fdatasyncs the log on a thread of its own, so that the writer's next
  // records need not wait for the disk; syncs asked meanwhile are merged.
  void syncLoop();
  void syncSoon();
  // An empty string on success, else why it failed.
  std::string write(const GridMapStore::Snapshot& whole, const std::vector<GridMapStore::Snapshot>& records);
  void writeWhole(const GridMapStore::Snapshot& snapshot);
  void appendRecords(const std::vector<GridMapStore::Snapshot>& records);
  void startCompactionIfDue();
  void startCompactor(const GridMapStore::Snapshot& target);  // throws std::system_error
  // Never throws: a failed fold is reported, and the log kept.
  void finishCompaction(bool discard);
  void writeStoreFile(const GridMapSnapshot& snapshot) const;
  // Takes what is queued and writes it with `lock` (on mutex_) let go
  // meanwhile, one write at a time; on failure queues the newest map whole.
  std::string writeQueued(std::unique_lock<std::mutex>& lock);

  GridMapStore& store_;
  GridMapStore::ObserverHandle observing_ = 0;
  const std::string path_;
  const std::string logPath_;
  const std::chrono::milliseconds retryInterval_;
  std::shared_ptr<Acknowledgement> acknowledged_;

  // The writer's own: used by one write at a time (writing_), on its
  // thread or in flush().
  std::optional<mapio::MapLogFile> log_;
  std::uint64_t lastInMemory_ = 0;  // the last version written, as the store numbers it
  std::uint64_t lastOnDisk_ = 0;    // the same map as the files number it
  GridMapStore::Snapshot latest_;   // the last map written
  std::thread compactor_;
  std::uint64_t compactedLogBytes_ = 0;  // the log's length when the compacted map was its last record
  std::uint64_t compactedVersion_ = 0;
  std::uint64_t compactionRetryAt_ = 0;  // log size before which a failed fold is not tried again

  std::mutex mutex_;  // guards the members below
  std::condition_variable wake_;
  std::condition_variable written_;
  GridMapStore::Snapshot whole_;
  std::vector<GridMapStore::Snapshot> pending_;
  std::size_t pendingCells_ = 0;
  bool compacted_ = false;        // the compactor has ended
  std::string compactionError_;
  bool stopping_ = false;
  bool writing_ = false;   // on the thread or in flush(): one write at a time
  std::string lastError_;  // of the last write; empty once it succeeded
  std::thread thread_;

  std::mutex syncMutex_;  // guards the two below
  std::condition_variable syncWake_;
  std::shared_ptr<const mapio::MapLogFile::Syncer> syncWanted_;
  bool syncStopping_ = false;
  std::thread syncer_;
};

#endif // DURABLEMAPWRITER_H
