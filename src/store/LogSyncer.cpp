#include "store/LogSyncer.h"

#include "mapio/MapError.h"

#include <iostream>
#include <utility>

LogSyncer::LogSyncer() : thread_([this] { run(); })
{
}

LogSyncer::~LogSyncer()
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void LogSyncer::syncSoon(const mapio::MapLogFile& log)
{
  auto syncer = std::make_shared<const mapio::MapLogFile::Syncer>(log);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wanted_ = std::move(syncer);
  }
  wake_.notify_one();
}

void LogSyncer::run()
{
  bool failing = false;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return wanted_ || stopping_; });
    if (!wanted_)
      return;
    const std::shared_ptr<const mapio::MapLogFile::Syncer> syncer = std::exchange(wanted_, nullptr);
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
