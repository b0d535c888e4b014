#include "store/MapChangeAnnouncer.h"

#include <rtm/util/Logger.h>

#include <new>

#include <utility>

namespace
{
  CORBA::ULong pattern16(int value)
  {
    return static_cast<std::uint16_t>(value);
  }
}

MapChangeAnnouncer::MapChangeAnnouncer(GridMapStore& store, RTC::OutPort<RTC::TimedULongSeq>& port)
  : store_(store),
    port_(port),
    thread_([this] { run(); })
{
  port_.setRetainsLatest(true);
  observing_ = store_.addObserver([this](const GridMapStore::Snapshot& snapshot) { offer(snapshot); });
  // A map loaded before the component existed is announced too.
  if (GridMapStore::Snapshot current = store_.current(); current->version > 0)
    offer(current);
}

MapChangeAnnouncer::~MapChangeAnnouncer()
{
  store_.removeObserver(observing_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

RTC::TimedULongSeq MapChangeAnnouncer::eventOf(const GridMapSnapshot& snapshot, std::uint64_t runFloor)
{
  RTC::TimedULongSeq event;
  const auto sinceEpoch = snapshot.storedAt.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  event.tm.sec = static_cast<CORBA::ULong>(seconds.count());
  event.tm.nsec = static_cast<CORBA::ULong>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count());
  event.data.length(13);
  event.data[0] = static_cast<CORBA::ULong>(snapshot.version);
  event.data[1] = pattern16(snapshot.mapWidth);
  event.data[2] = pattern16(snapshot.mapHeight);
  event.data[3] = static_cast<CORBA::ULong>(snapshot.size());
  event.data[4] = snapshot.crc();
  event.data[5] = pattern16(snapshot.changed.x);
  event.data[6] = pattern16(snapshot.changed.y);
  event.data[7] = pattern16(snapshot.changed.width);
  event.data[8] = pattern16(snapshot.changed.height);
  event.data[9] = (snapshot.descriptionOnly ? descriptionOnlyFlag : 0u) |
                  (snapshot.description ? describedFlag : 0u) |
                  (snapshot.description && !snapshot.descriptionConfirmed ? unconfirmedFlag : 0u);
  event.data[10] = static_cast<CORBA::ULong>(snapshot.version >> 32);
  event.data[11] = static_cast<CORBA::ULong>(runFloor);
  event.data[12] = static_cast<CORBA::ULong>(runFloor >> 32);
  return event;
}

void MapChangeAnnouncer::offer(const GridMapStore::Snapshot& snapshot)
{
  GridMapStore::Snapshot skipped;  // an older map not announced; let go outside the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_ && pending_->version >= snapshot->version)
      return;
    skipped = std::exchange(pending_, snapshot);
  }
  wake_.notify_one();
}

void MapChangeAnnouncer::run()
{
  std::uint64_t announced = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || stopping_; });
    if (stopping_)
      return;
    GridMapStore::Snapshot next = std::exchange(pending_, nullptr);
    lock.unlock();
    if (next->version > announced) {
      try {
        port_.write(eventOf(*next, store_.runFloor()));
        announced = next->version;
      }
      catch (const std::bad_alloc&) {
        // The next map stored is announced instead; the port keeps serving.
        RTC::logger().warn("warning: out of memory: version " + std::to_string(next->version) +
                           " is not announced on mapChanged");
      }
    }
    next.reset();
    lock.lock();
  }
}
