#ifndef LOGFOLDER_H
#define LOGFOLDER_H

#include "store/GridMapStore.h"

#include "mapio/MapLogFile.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Folds the map log into a fresh store file once the log outgrows the map
// (or 1 MiB), on a thread of its own and without ever joining the map; the
// records appended meanwhile then move to a fresh log.  A failed fold
// leaves the store file as it was and the log holding every record since,
// so nothing is lost; it is reported, and tried again once the log grew by
// as much again.  Used by the writer's one write at a time.
class LogFolder
{
public:
  // `writeStoreFile` replaces the store file with a map (throws
  // mapio::MapError); `ended` is called on the folding thread as a fold ends.
  LogFolder(std::function<void(const GridMapSnapshot&)> writeStoreFile, std::function<void()> ended);
  // Waits for a fold in progress.
  ~LogFolder();
  LogFolder(const LogFolder&) = delete;
  LogFolder& operator=(const LogFolder&) = delete;

  // Starts folding `latest`, the map the last record of `log` made, when due.
  void startIfDue(const mapio::MapLogFile& log, const GridMapStore::Snapshot& latest);
  // Once a fold ended, puts a fresh log of the records appended since in
  // place of `log`; at once while it runs.  Throws mapio::MapError when the
  // fresh log cannot be made (`log` stays the old one, which still replays
  // onto the folded map), bad_alloc when memory runs out.
  void finish(mapio::MapLogFile& log);
  // Waits for a fold in progress and forgets it: a whole map replaces the
  // files next, or nothing more is written.
  void abandon();

private:
  // The fold's outcome, once it ended: empty or why it failed.
  std::optional<std::string> joined(bool wait);

  const std::function<void(const GridMapSnapshot&)> writeStoreFile_;
  const std::function<void()> ended_;
  std::thread thread_;
  std::uint64_t foldedLogBytes_ = 0;  // the log's length when the folded map was its last record
  std::uint64_t foldedVersion_ = 0;
  std::uint64_t retryAt_ = 0;  // log size before which a failed fold is not tried again

  std::mutex mutex_;  // guards the two below
  bool done_ = false;
  std::string error_;
};

#endif // LOGFOLDER_H
