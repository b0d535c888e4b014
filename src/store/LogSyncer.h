#ifndef LOGSYNCER_H
#define LOGSYNCER_H

#include "mapio/MapLogFile.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// fdatasyncs the map log on a thread of its own, so that the writer's next
// records need not wait for the disk, and a power loss keeps all but the
// writes of the last sync; syncs asked while one runs are merged into one.
// A failed sync is reported on standard error once per outage.
class LogSyncer
{
public:
  LogSyncer();
  // Ends after the sync asked last.
  ~LogSyncer();
  LogSyncer(const LogSyncer&) = delete;
  LogSyncer& operator=(const LogSyncer&) = delete;

  // Syncs what was appended to `log` so far, soon; the log may be replaced
  // meanwhile.  Throws mapio::MapError when the log cannot be opened again.
  void syncSoon(const mapio::MapLogFile& log);

private:
  void run();

  std::mutex mutex_;  // guards the two below
  std::condition_variable wake_;
  std::shared_ptr<const mapio::MapLogFile::Syncer> wanted_;
  bool stopping_ = false;
  std::thread thread_;
};

#endif // LOGSYNCER_H
