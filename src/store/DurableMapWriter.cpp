#include "store/DurableMapWriter.h"

#include "mapio/MapError.h"
#include "mapio/StoreFile.h"

#include <iostream>
#include <sys/resource.h>
#include <unistd.h>
#include <new>
#include <utility>

DurableMapWriter::DurableMapWriter(GridMapStore& store, const std::string& path,
                                   std::chrono::milliseconds retryInterval)
  : store_(store),
    path_(path),
    retryInterval_(retryInterval),
    thread_([this] { run(); })
{
  observing_ = store_.addObserver([this](const GridMapStore::Snapshot& snapshot) { offer(snapshot); });
}

DurableMapWriter::~DurableMapWriter()
{
  store_.removeObserver(observing_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void DurableMapWriter::offer(const GridMapStore::Snapshot& snapshot)
{
  GridMapStore::Snapshot skipped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    skipped = std::exchange(pending_, snapshot);
  }
  wake_.notify_one();
  // 'skipped', an older map never written, is let go outside the lock.
}

std::string DurableMapWriter::flush()
{
  std::unique_lock<std::mutex> lock(mutex_);
  written_.wait(lock, [this] { return !writing_; });
  if (!pending_)
    return lastError_;
  GridMapStore::Snapshot next = std::exchange(pending_, nullptr);
  const std::string error = writeUnlocked(lock, *next);
  if (!error.empty() && !pending_)
    pending_ = std::move(next);  // the thread goes on retrying
  lock.unlock();
  wake_.notify_one();
  return error;
}

std::string DurableMapWriter::writeUnlocked(std::unique_lock<std::mutex>& lock, const GridMapSnapshot& snapshot)
{
  writing_ = true;
  lock.unlock();
  const std::string error = write(snapshot);
  lock.lock();
  writing_ = false;
  lastError_ = error;
  written_.notify_all();
  return error;
}

std::string DurableMapWriter::write(const GridMapSnapshot& snapshot) const
{
  try {
    mapio::writeStoreFile(path_, static_cast<short>(snapshot.mapWidth), static_cast<short>(snapshot.mapHeight),
                          snapshot.bytes(), snapshot.version);
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
    wake_.wait(lock, [this] { return !writing_ && (pending_ || stopping_); });
    if (!pending_)
      return;
    GridMapStore::Snapshot next = std::exchange(pending_, nullptr);
    const bool lastAttempt = stopping_;
    const std::string error = writeUnlocked(lock, *next);
    lock.unlock();
    if (error.empty() && failing)
      std::cerr << "KorventComp: the map store is written again (" << path_ << ")" << std::endl;
    else if (!error.empty() && lastAttempt)
      std::cerr << "KorventComp: the last map was not saved at shutdown: " << error << std::endl;
    else if (!error.empty() && !failing)
      std::cerr << "KorventComp: cannot save the map, serving it from memory and retrying: " << error << std::endl;
    failing = !error.empty();
    lock.lock();
    if (!failing || lastAttempt)
      continue;
    if (!pending_)
      pending_ = std::move(next);
    wake_.wait_for(lock, retryInterval_, [this] { return stopping_; });
  }
}
