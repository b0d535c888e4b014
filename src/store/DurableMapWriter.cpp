#include "store/DurableMapWriter.h"

#include "mapio/MapError.h"
#include "mapio/MapLog.h"
#include "mapio/StoreDescription.h"
#include "mapio/StoreFile.h"

#include <algorithm>
#include <iostream>
#include <new>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace
{
  // The store file is written in pieces of about this size.
  constexpr std::size_t pieceBytes = std::size_t(4) << 20;

  std::optional<mapio::StoredDescription> storedDescriptionOf(const GridMapSnapshot& snapshot)
  {
    if (!snapshot.description)
      return std::nullopt;
    return mapio::StoredDescription{*snapshot.description, snapshot.descriptionConfirmed};
  }
}

DurableMapWriter::DurableMapWriter(GridMapStore& store, const std::string& path, std::optional<OnDisk> onDisk,
                                   std::chrono::milliseconds retryInterval)
  : store_(store),
    path_(path),
    logPath_(path + ".log"),
    retryInterval_(retryInterval),
    acknowledgement_(std::make_shared<WriteAcknowledgement>(acknowledgeWithin)),
    folder_([this](const GridMapSnapshot& snapshot) { writeStoreFile(snapshot); },
            [this] {
              {
                std::lock_guard<std::mutex> lock(mutex_);
                folded_ = true;
              }
              wake_.notify_one();
            })
{
  if (onDisk) {
    latest_ = store_.current();
    lastInMemory_ = latest_->version;
    lastOnDisk_ = onDisk->version;
    if (onDisk->logBytes)
      log_.emplace(logPath_, *onDisk->logBytes);
    else
      log_ = mapio::MapLogFile::create(logPath_, onDisk->version);
    acknowledgement_->written(lastInMemory_);
  }
  thread_ = std::thread([this] { run(); });
  observing_ = store_.addObserver([this](const GridMapStore::Snapshot& snapshot) { offer(snapshot); });
  store_.setDurability(acknowledgement_);
}

DurableMapWriter::~DurableMapWriter()
{
  store_.setDurability(nullptr);
  store_.removeObserver(observing_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  acknowledgement_->stopped();
}

void DurableMapWriter::offer(const GridMapStore::Snapshot& snapshot)
{
  WriteQueue::Batch displaced;  // let go outside the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    displaced = queue_.offer(snapshot);
  }
  wake_.notify_one();
}

void DurableMapWriter::writeStoreFile(const GridMapSnapshot& snapshot) const
{
  const short width = static_cast<short>(snapshot.mapWidth);
  const short height = static_cast<short>(snapshot.mapHeight);
  const std::optional<mapio::StoredDescription> described = storedDescriptionOf(snapshot);
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
  // A fold of an older map must not rename it over this one.
  folder_.abandon();
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
    if (record->descriptionOnly) {
      // A description is given, never taken away: such a version has one.
      mapio::maplog::appendDescriptionRecord(bytes, record->version, base,
                                             mapio::encodeDescriptionSection(*storedDescriptionOf(*record)));
    }
    else {
      const CellRectangle& area = record->changed;
      const std::size_t start = bytes.size();
      const std::size_t cells =
          mapio::maplog::beginRegionRecord(bytes, record->version, base, area.x, area.y, area.width, area.height);
      record->copyRegion(area, bytes.data() + cells);
      mapio::maplog::endRecord(bytes, start);
    }
    base = record->version;
  }
  log_->append(bytes);
  latest_ = records.back();
  lastInMemory_ = lastOnDisk_ = latest_->version;
}

std::string DurableMapWriter::flush()
{
  std::unique_lock<std::mutex> lock(mutex_);
  written_.wait(lock, [this] { return !writing_; });
  if (queue_.empty())
    return lastError_;
  const std::string error = writeQueued(lock);
  lock.unlock();
  wake_.notify_one();  // a failure leaves the thread to retry
  return error;
}

std::string DurableMapWriter::writeQueued(std::unique_lock<std::mutex>& lock)
{
  const WriteQueue::Batch batch = queue_.take();
  folded_ = false;
  writing_ = true;
  lock.unlock();
  const std::string error = write(batch);
  if (!error.empty()) {
    // The next attempt writes the map whole; until it succeeds, region and
    // description writes are refused and the ones waiting fail.
    log_.reset();
    acknowledgement_->failed(error);
  }
  const GridMapStore::Snapshot newest = !batch.records.empty() ? batch.records.back()
                                        : batch.whole             ? batch.whole
                                                                  : latest_;
  lock.lock();
  if (!error.empty() && newest)
    queue_.retryWhole(newest);
  writing_ = false;
  lastError_ = error;
  written_.notify_all();
  return error;
}

std::string DurableMapWriter::write(const WriteQueue::Batch& batch)
{
  try {
    if (log_)
      folder_.finish(*log_);
    if (batch.whole)
      writeWhole(batch.whole);
    if (!batch.records.empty())
      appendRecords(batch.records);
    acknowledgement_->written(lastInMemory_);
    if (log_) {
      syncer_.syncSoon(*log_);
      folder_.startIfDue(*log_, latest_);
    }
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
    wake_.wait(lock, [this] { return !writing_ && (!queue_.empty() || folded_ || stopping_); });
    if (queue_.empty() && !folded_) {
      lock.unlock();
      folder_.abandon();  // nothing else writes once the writer stops
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
      std::cerr << "KorventComp: cannot save the map, serving it from memory and retrying; region and "
                   "description writes are refused meanwhile: "
                << error << std::endl;
    failing = !error.empty();
    lock.lock();
    if (!failing)
      continue;
    if (lastAttempt)
      return;
    wake_.wait_for(lock, retryInterval_, [this] { return stopping_; });
  }
}
