#include "store/LogFolder.h"

#include "mapio/MapError.h"

#include <algorithm>
#include <iostream>
#include <new>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>
#include <utility>

LogFolder::LogFolder(std::function<void(const GridMapSnapshot&)> writeStoreFile, std::function<void()> ended)
  : writeStoreFile_(std::move(writeStoreFile)),
    ended_(std::move(ended))
{
}

LogFolder::~LogFolder()
{
  if (thread_.joinable())
    thread_.join();
}

void LogFolder::startIfDue(const mapio::MapLogFile& log, const GridMapStore::Snapshot& latest)
{
  const std::uint64_t bound = std::max<std::uint64_t>(latest->size(), 1u << 20);
  if (thread_.joinable() || log.size() <= std::max(bound, retryAt_))
    return;
  foldedLogBytes_ = log.size();
  foldedVersion_ = latest->version;
  // After a failure, the next attempt waits for the log to grow by another bound.
  retryAt_ = foldedLogBytes_ + bound;
  try {
    thread_ = std::thread([this, latest] {
      // Below the writer, as the writer is below the ORB's threads.
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 15);
      std::string error;
      try {
        writeStoreFile_(*latest);
      }
      catch (const mapio::MapError& failure) {
        error = failure.what();
      }
      catch (const std::bad_alloc&) {
        error = "out of memory";
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        error_ = error;
      }
      ended_();
    });
  }
  catch (const std::system_error&) {
    // No thread to spare: the log keeps every record, and folding waits.
  }
}

std::optional<std::string> LogFolder::joined(bool wait)
{
  if (!thread_.joinable())
    return std::nullopt;
  if (!wait) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!done_)
      return std::nullopt;
  }
  thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = false;
  return std::exchange(error_, "");
}

void LogFolder::finish(mapio::MapLogFile& log)
{
  const std::optional<std::string> error = joined(false);
  if (!error)
    return;
  if (!error->empty()) {
    std::cerr << "KorventComp: cannot fold the map log into the store file, keeping the log: " << *error
              << std::endl;
    return;
  }
  // The store file holds the folded map now: a log of what came since.
  log = mapio::MapLogFile::create(log.path(), foldedVersion_, log.readFrom(foldedLogBytes_));
  retryAt_ = 0;
}

void LogFolder::abandon()
{
  joined(true);
}
