#ifndef MAPCHANGEANNOUNCER_H
#define MAPCHANGEANNOUNCER_H

#include "store/GridMapStore.h"

#include <rtm/dataports/OutPort.h>

#include <condition_variable>
#include <mutex>
#include <thread>

// Writes an event on `port` for each map the store publishes, from a thread
// of its own: the CRC of a map stored whole is computed there, never on the
// path of the caller that stored the map, and only after the map is visible
// to readers; a region write's CRC follows from the last one's (see
// MapCrc), so no map is joined for an event.  Out of memory there skips
// the event with a warning.  When maps come faster than events go out, the newest wins and
// the versions the port sends skip.  The port retains the latest event, so
// a connection made later receives it at once.
//   data[0]  version (low 32 bits)       data[5..8]  changed rectangle x, y,
//   data[1]  width  (16-bit pattern)                 width, height (each as
//   data[2]  height (16-bit pattern)                 its 16-bit pattern)
//   data[3]  byte count                  tm          when the map was stored
//   data[4]  CRC-32 (zlib) of the cells  data[9]    flags: 1 only the description
//                                                    changed (the rectangle is
//                                                    empty), 2 the map has a
//                                                    description, 4 it is
//                                                    unconfirmed
//   data[10] version (high 32 bits)      data[11..12] the run's floor, low then
//                                                    high 32 bits: every version
//                                                    of this run is above it
// Fields are only ever added at the end, so readers of the first ones go on.
class MapChangeAnnouncer
{
public:
  MapChangeAnnouncer(GridMapStore& store, RTC::OutPort<RTC::TimedULongSeq>& port);
  ~MapChangeAnnouncer();
  MapChangeAnnouncer(const MapChangeAnnouncer&) = delete;
  MapChangeAnnouncer& operator=(const MapChangeAnnouncer&) = delete;

  static constexpr CORBA::ULong descriptionOnlyFlag = 1, describedFlag = 2, unconfirmedFlag = 4;
  static RTC::TimedULongSeq eventOf(const GridMapSnapshot& snapshot, std::uint64_t runFloor);

private:
  void offer(const GridMapStore::Snapshot& snapshot);
  void run();

  GridMapStore& store_;
  RTC::OutPort<RTC::TimedULongSeq>& port_;
  std::mutex mutex_;  // guards pending_ and stopping_
  std::condition_variable wake_;
  GridMapStore::Snapshot pending_;
  bool stopping_ = false;
  std::thread thread_;
  GridMapStore::ObserverHandle observing_ = 0;
};

#endif // MAPCHANGEANNOUNCER_H
