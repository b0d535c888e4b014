#include "store/DurableMapWriter.h"

#include "mapio/MapError.h"
#include "mapio/MapLog.h"
#include "mapio/StoreFile.h"

#include <algorithm>
#include <iostream>
#include <new>
#include <optional>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace
{
  // Beyond these, queued records give way to one whole map: the queue's
  // memory stays bounded when the disk is slower than the writes.
  constexpr std::size_t maxPendingRecords = 4096;
  constexpr std::size_t maxPendingCells = std::size_t(64) << 20;
  // The store file is written in pieces of about this size.
  constexpr std::size_t pieceBytes = std::size_t(4) << 20;

  std::size_t cellsOf(const CellRectangle& area)
  {
    return static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height);
  }
}

void DurableMapWriter::Acknowledgement::wait(std::uint64_t until)
{
  std::unique_lock<std::mutex> lock(mutex);
  written.wait_for(lock, acknowledgeWithin, [&] { return version >= until || !waiting; });
}

void DurableMapWriter::Acknowledgement::set(std::uint64_t upTo, bool wait)
{
  {
    std::lock_guard<std::mutex> lock(mutex);
    version = std::max(version, upTo);
    waiting = wait;
  }
  written.notify_all();
}

DurableMapWriter::DurableMapWriter(GridMapStore& store, const std::string& path, std::optional<OnDisk> onDisk,
                                   std::chrono::milliseconds retryInterval)
  : store_(store),
    path_(path),
    logPath_(path + ".log"),
    retryInterval_(retryInterval),
    acknowledged_(std::make_shared<Acknowledgement>())
{
  if (onDisk) {
    latest_ = store_.current();
    lastInMemory_ = latest_->version;
    lastOnDisk_ = onDisk->version;
    if (onDisk->logBytes)
      log_.emplace(logPath_, *onDisk->logBytes);
    else
      log_ = mapio::MapLogFile::create(logPath_, onDisk->version);
    acknowledged_->set(lastInMemory_, true);
  }
  syncer_ = std::thread([this] { syncLoop(); });
  thread_ = std::thread([this] { run(); });
  observing_ = store_.addObserver([this](const GridMapStore::Snapshot& snapshot) { offer(snapshot); });
  std::shared_ptr<Acknowledgement> acknowledged = acknowledged_;
  store_.setDurabilityWait(std::make_shared<const GridMapStore::DurabilityWait>(
      [acknowledged](std::uint64_t version) { acknowledged->wait(version); }));
}

DurableMapWriter::~DurableMapWriter()
{
  store_.setDurabilityWait(nullptr);
  store_.removeObserver(observing_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  {
    std::lock_guard<std::mutex> lock(syncMutex_);
    syncStopping_ = true;
  }
  syncWake_.notify_one();
  syncer_.join();
  acknowledged_->set(0, false);
}

void DurableMapWriter::syncSoon()
{
  if (!log_)
    return;
  auto syncer = std::make_shared<const mapio::MapLogFile::Syncer>(*log_);
  {
    std::lock_guard<std::mutex> lock(syncMutex_);
    syncWanted_ = std::move(syncer);
  }
  syncWake_.notify_one();
}

void DurableMapWriter::syncLoop()
{
  bool failing = false;
  std::unique_lock<std::mutex> lock(syncMutex_);
  for (;;) {
    syncWake_.wait(lock, [this] { return syncWanted_ || syncStopping_; });
    if (!syncWanted_)
      return;
    const std::shared_ptr<const mapio::MapLogFile::Syncer> syncer = std::exchange(syncWanted_, nullptr);
    lock.unlock();
    try {
      syncer->sync();
      failing = false;
    }
    catch (const mapio::MapError& error) {
      if (!failing)
        std::cerr << "KorventComp: " << error.what() << std::endl;
      failing = true;
    }
    lock.lock();
  }
}

void DurableMapWriter::offer(const GridMapStore::Snapshot& snapshot)
{
  std::vector<GridMapStore::Snapshot> skipped;  // let go outside the lock
  GridMapStore::Snapshot replaced;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (whole_ || !snapshot->regionWrite || pending_.size() >= maxPendingRecords ||
        pendingCells_ + cellsOf(snapshot->changed) > maxPendingCells) {
      replaced = std::exchange(whole_, snapshot);
      skipped.swap(pending_);
      pendingCells_ = 0;
    }
    else {
      try {
        pending_.push_back(snapshot);
        pendingCells_ += cellsOf(snapshot->changed);
      }
      catch (const std::bad_alloc&) {
        // Called while the store publishes: never throw, write it whole.
        whole_ = snapshot;
        skipped.swap(pending_);
        pendingCells_ = 0;
      }
    }
  }
  wake_.notify_one();
}

void DurableMapWriter::writeStoreFile(const GridMapSnapshot& snapshot) const
{
  const short width = static_cast<short>(snapshot.mapWidth);
  const short height = static_cast<short>(snapshot.mapHeight);
  std::optional<mapio::StoredDescription> described;
  if (snapshot.description)
    described = mapio::StoredDescription{*snapshot.description, snapshot.descriptionConfirmed};
  const mapio::StoredDescription* description = described ? &*described : nullptr;
  // A map stored whole is held contiguously; one made by region writes (or a
  // new description of one) is walked tile by tile rather than joined.
  if (!snapshot.rectangular() || (!snapshot.regionWrite && !snapshot.descriptionOnly))
    return mapio::writeStoreFile(path_, width, height, snapshot.bytes(), snapshot.version, description);
  const int rowsPerPiece = static_cast<int>(std::max<std::size_t>(1, pieceBytes / std::max(1, snapshot.mapWidth)));
  std::string piece;
  int row = 0;
  mapio::writeStoreFile(path_, width, height, snapshot.size(), snapshot.crc(), snapshot.version,
                        [&]() -> std::string_view {
                          if (row >= snapshot.mapHeight)
                            return {};
                          const int rows = std::min(rowsPerPiece, snapshot.mapHeight - row);
                          piece.resize(static_cast<std::size_t>(rows) * snapshot.mapWidth);
                          snapshot.copyRegion(CellRectangle{0, row, snapshot.mapWidth, rows}, piece.data());
                          row += rows;
                          return piece;
                        },
                        description);
}

void DurableMapWriter::writeWhole(const GridMapStore::Snapshot& snapshot)
{
  // A compaction of an older map must not rename it over this one.
  finishCompaction(true);
  log_.reset();
  writeStoreFile(*snapshot);
  log_ = mapio::MapLogFile::create(logPath_, snapshot->version);
  latest_ = snapshot;
  lastInMemory_ = lastOnDisk_ = snapshot->version;
}

void DurableMapWriter::appendRecords(const std::vector<GridMapStore::Snapshot>& records)
{
  // Without a log, or with a gap in the chain, only a whole map is right.
  if (!log_ || records.front()->previousVersion != lastInMemory_)
    return writeWhole(records.back());
  std::string bytes;
  std::uint64_t base = lastOnDisk_;
  for (const GridMapStore::Snapshot& record : records) {
    const CellRectangle& area = record->changed;
    const std::size_t start = bytes.size();
    const std::size_t cells =
        mapio::maplog::beginRegionRecord(bytes, record->version, base, area.x, area.y, area.width, area.height);
    record->copyRegion(area, bytes.data() + cells);
    mapio::maplog::endRecord(bytes, start);
    base = record->version;
  }
  log_->append(bytes);
  latest_ = records.back();
  lastInMemory_ = lastOnDisk_ = latest_->version;
}

void DurableMapWriter::startCompactionIfDue()
{
  const std::uint64_t bound = std::max<std::uint64_t>(latest_->size(), 1u << 20);
  if (!log_ || compactor_.joinable() || log_->size() <= std::max(bound, compactionRetryAt_))
    return;
  compactedLogBytes_ = log_->size();
  compactedVersion_ = latest_->version;
  // After a failure, the next attempt waits for the log to grow by another bound.
  compactionRetryAt_ = compactedLogBytes_ + bound;
  GridMapStore::Snapshot target = latest_;
  try {
    startCompactor(target);
  }
  catch (const std::system_error&) {
    // No thread to spare: the log keeps every record, and folding waits.
  }
}

void DurableMapWriter::startCompactor(const GridMapStore::Snapshot& target)
{
  compactor_ = std::thread([this, target] {
    // Below the writer, as the writer is below the ORB's threads.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 15);
    std::string error;
    try {
      writeStoreFile(*target);
    }
    catch (const mapio::MapError& failure) {
      error = failure.what();
    }
    catch (const std::bad_alloc&) {
      error = "out of memory (" + path_ + ")";
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      compacted_ = true;
      compactionError_ = error;
    }
    wake_.notify_one();
  });
}

void DurableMapWriter::finishCompaction(bool discard)
{
  if (!compactor_.joinable())
    return;
  if (!discard) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!compacted_)
      return;
  }
  compactor_.join();
  std::string error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    compacted_ = false;
    error = std::exchange(compactionError_, "");
  }
  // A failed fold left the store file as it was, and the log holds every
  // record since: nothing is lost, and the writes go on being appended.
  if (!error.empty()) {
    std::cerr << "KorventComp: cannot fold the map log into the store file, keeping the log: " << error
              << std::endl;
    return;
  }
  // The store file holds the compacted map now: a log of what came since.
  if (!discard && log_)
    log_ = mapio::MapLogFile::create(logPath_, compactedVersion_, log_->readFrom(compactedLogBytes_));
  compactionRetryAt_ = 0;
}

std::string DurableMapWriter::flush()
{
  std::unique_lock<std::mutex> lock(mutex_);
  written_.wait(lock, [this] { return !writing_; });
  if (!whole_ && pending_.empty())
    return lastError_;
  const std::string error = writeQueued(lock);
  lock.unlock();
  wake_.notify_one();  // a failure leaves the thread to retry
  return error;
}

std::string DurableMapWriter::writeQueued(std::unique_lock<std::mutex>& lock)
{
  const GridMapStore::Snapshot whole = std::exchange(whole_, nullptr);
  std::vector<GridMapStore::Snapshot> records;
  records.swap(pending_);
  pendingCells_ = 0;
  writing_ = true;
  lock.unlock();
  const std::string error = write(whole, records);
  if (!error.empty()) {
    // What did not reach the disk goes out whole; callers wait no more.
    log_.reset();
    acknowledged_->set(0, false);
  }
  const GridMapStore::Snapshot newest = !records.empty() ? records.back() : whole;
  lock.lock();
  if (!error.empty() && !whole_ && newest) {
    whole_ = pending_.empty() ? newest : pending_.back();
    pending_.clear();
    pendingCells_ = 0;
  }
  writing_ = false;
  lastError_ = error;
  written_.notify_all();
  return error;
}

std::string DurableMapWriter::write(const GridMapStore::Snapshot& whole,
                                    const std::vector<GridMapStore::Snapshot>& records)
{
  try {
    finishCompaction(false);
    if (whole)
      writeWhole(whole);
    if (!records.empty())
      appendRecords(records);
    acknowledged_->set(lastInMemory_, true);
    syncSoon();
    startCompactionIfDue();
    return "";
  }
  catch (const mapio::MapError& error) {
    return error.what();
  }
  catch (const std::bad_alloc&) {
    return "out of memory (" + path_ + ")";
  }
}

void DurableMapWriter::run()
{
  // Below the ORB's threads: on a busy machine the callers come first and
  // the file follows a little later.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
  bool failing = false;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !writing_ && (whole_ || !pending_.empty() || compacted_ || stopping_); });
    if (!whole_ && pending_.empty() && !compacted_) {
      lock.unlock();
      finishCompaction(true);  // nothing else writes once the writer stops
      return;
    }
    const bool lastAttempt = stopping_;
    const std::string error = writeQueued(lock);
    lock.unlock();
    if (error.empty() && failing)
      std::cerr << "KorventComp: the map store is written again (" << path_ << ")" << std::endl;
    else if (!error.empty() && lastAttempt)
      std::cerr << "KorventComp: the last map was not saved at shutdown: " << error << std::endl;
    else if (!error.empty() && !failing)
      std::cerr << "KorventComp: cannot save the map, serving it from memory and retrying: " << error << std::endl;
    failing = !error.empty();
    lock.lock();
    if (!failing)
      continue;
    if (lastAttempt)
      return;
    wake_.wait_for(lock, retryInterval_, [this] { return stopping_; });
  }
}
